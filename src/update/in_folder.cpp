#include "update/in_folder.h"

#include "fs/fs_error.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <vector>

// Windows' own ntdll exports it; the Windows SDK's winternl.h, unlike MinGW's, does not
// declare it (the driver kit's headers do). The same declaration twice is harmless.
extern "C" NTSTATUS NTAPI NtSetInformationFile(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                               FILE_INFORMATION_CLASS);

namespace {

// Of the native API, whose headers differ between toolchains.
constexpr ULONG caseInsensitive = 0x40;        // OBJ_CASE_INSENSITIVE
constexpr ULONG synchronousIo = 0x20;          // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG nonDirectory = 0x40;           // FILE_NON_DIRECTORY_FILE
constexpr ULONG directoryOnly = 0x1;           // FILE_DIRECTORY_FILE
constexpr ULONG openOrCreate = 3;              // FILE_OPEN_IF
constexpr ULONG_PTR fileCreated = 2;           // FILE_CREATED, in IO_STATUS_BLOCK.Information
constexpr ULONG openReparsePoint = 0x00200000; // FILE_OPEN_REPARSE_POINT
constexpr ULONG fileRenameInformation = 10;    // FILE_INFORMATION_CLASS
constexpr ULONG fileRenameInformationEx = 65;  // FILE_INFORMATION_CLASS
constexpr DWORD replaceIfExists = 0x1;         // FILE_RENAME_REPLACE_IF_EXISTS
constexpr DWORD renamePosix = 0x2;             // FILE_RENAME_POSIX_SEMANTICS
constexpr DWORD renameIgnoreReadOnly = 0x40;   // FILE_RENAME_IGNORE_READONLY_ATTRIBUTE
// FileDispositionInfoEx of FILE_INFO_BY_HANDLE_CLASS, and its flags.
constexpr auto fileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD deleteFile = 0x1;            // FILE_DISPOSITION_FLAG_DELETE
constexpr DWORD deletePosix = 0x2;           // FILE_DISPOSITION_FLAG_POSIX_SEMANTICS
constexpr DWORD deleteIgnoreReadOnly = 0x10; // FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE

constexpr unsigned long statusInvalidOwner = 0xC000005A;

// The answers of a rename that was made and refused: anything else means that the
// system, or the volume, does not know the extended rename or one of its flags (Windows
// before 10 1709, exFAT and FAT, WOW64 on some builds), and the classic one serves.
bool isAnswerOfRenameEx(NTSTATUS status)
{
    switch (static_cast<unsigned long>(status)) {
    case 0xC0000022: // STATUS_ACCESS_DENIED
    case 0xC0000043: // STATUS_SHARING_VIOLATION
    case 0xC0000056: // STATUS_DELETE_PENDING
    case 0xC00000D4: // STATUS_NOT_SAME_DEVICE
        return true;
    default:
        return status >= 0;
    }
}

DWORD win32Error(NTSTATUS status)
{
    return RtlNtStatusToDosError(status);
}

// Both forms of the rename information share one layout: a first field that is
// ReplaceIfExists (one byte) in the one and Flags (four) in the other, the folder, the
// name's length and the name.
NTSTATUS renameWith(HANDLE file, HANDLE folder, const std::wstring& name, ULONG infoClass,
                    DWORD flags)
{
    const size_t nameBytes = name.size() * sizeof(wchar_t);
    std::vector<BYTE> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    memcpy(buffer.data(), &flags, sizeof flags);
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    memcpy(rename->FileName, name.data(), nameBytes);
    IO_STATUS_BLOCK io = {};
    // SetFileInformationByHandle is documented to take no RootDirectory; the native
    // call is.
    return NtSetInformationFile(file, &io, rename, static_cast<ULONG>(buffer.size()),
                                static_cast<FILE_INFORMATION_CLASS>(infoClass));
}

} // namespace

OpenedFile holdFolder(const std::wstring& exactPath)
{
    OpenedFile folder;
    folder.handle.reset(CreateFileW(exactPath.c_str(),
                                    // Its attributes for its identity (isSameFile).
                                    FILE_TRAVERSE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES |
                                        READ_CONTROL | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    // The last element missing gives "file not found": the log says what Windows says
    // of a path into a missing folder.
    if (!folder.handle)
        folder.error = isMissingPathError(GetLastError()) ? ERROR_PATH_NOT_FOUND : GetLastError();
    return folder;
}

namespace {

// NtCreateFile of `name` relative to `folder`, case-insensitive, a link at the name
// opened itself; `owner`, when given, owns what is created (where the token may name
// it). No access list of ours: what is created takes the entries its folder passes on.
OpenedFile createInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access, DWORD share,
                          ULONG disposition, ULONG options, PSID owner, ULONG_PTR* information)
{
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<wchar_t*>(name.c_str());
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = folder;
    attributes.ObjectName = &objectName;
    attributes.Attributes = caseInsensitive;
    SECURITY_DESCRIPTOR ownedBy;
    if (owner && InitializeSecurityDescriptor(&ownedBy, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorOwner(&ownedBy, owner, FALSE))
        attributes.SecurityDescriptor = &ownedBy;
    IO_STATUS_BLOCK io = {};
    HANDLE file = INVALID_HANDLE_VALUE;
    const auto create = [&] {
        return NtCreateFile(&file, access | SYNCHRONIZE, &attributes, &io, nullptr,
                            FILE_ATTRIBUTE_NORMAL, share, disposition,
                            synchronousIo | openReparsePoint | options, nullptr, 0);
    };
    NTSTATUS status = create();
    // A token that may not name that owner: what is made gets the token's default owner.
    if (static_cast<unsigned long>(status) == statusInvalidOwner && attributes.SecurityDescriptor) {
        attributes.SecurityDescriptor = nullptr;
        status = create();
    }
    if (status < 0)
        return {{}, win32Error(status)}; // a file where a folder is asked for: ERROR_DIRECTORY
    if (information)
        *information = io.Information;
    return {UniqueFileHandle(file), ERROR_SUCCESS};
}

} // namespace

OpenedFile openInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access, DWORD share,
                        Disposition disposition, PSID owner)
{
    return createInFolder(folder, name, access, share, static_cast<ULONG>(disposition),
                          nonDirectory, owner, nullptr);
}

OpenedFile holdFolderIn(HANDLE folder, const std::wstring& name, bool make, PSID owner, bool& made)
{
    ULONG_PTR information = 0;
    OpenedFile held = createInFolder(
        folder, name, FILE_TRAVERSE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
        FILE_SHARE_READ | FILE_SHARE_WRITE,
        make ? openOrCreate : static_cast<ULONG>(Disposition::OpenExisting), directoryOnly, owner,
        &information);
    made = held.handle && information == fileCreated;
    return held;
}

std::optional<DWORD> renameReplacingAnyFile(HANDLE file, HANDLE folder, const std::wstring& name)
{
    const NTSTATUS status = renameWith(file, folder, name, fileRenameInformationEx,
                                       replaceIfExists | renamePosix | renameIgnoreReadOnly);
    if (!isAnswerOfRenameEx(status))
        return std::nullopt;
    return status < 0 ? win32Error(status) : ERROR_SUCCESS;
}

DWORD renameReplacing(HANDLE file, HANDLE folder, const std::wstring& name)
{
    const NTSTATUS status = renameWith(file, folder, name, fileRenameInformation, TRUE);
    return status < 0 ? win32Error(status) : ERROR_SUCCESS;
}

bool deleteOpened(HANDLE file)
{
    // Windows 10 1809 and later on NTFS: the name goes at once, and the read-only
    // attribute does not refuse it.
    DWORD dispose = deleteFile | deletePosix | deleteIgnoreReadOnly; // FILE_DISPOSITION_INFO_EX
    if (SetFileInformationByHandle(file, fileDispositionInfoEx, &dispose, sizeof dispose))
        return true;
    // Elsewhere the classic deletion, which a read-only file refuses: the attribute is
    // cleared through this same handle, and set back when the file stays all the same.
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return false;
    const DWORD attributes = basic.FileAttributes;
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !setAttributesOf(file, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}))
        return false;
    FILE_DISPOSITION_INFO classic = {TRUE};
    if (SetFileInformationByHandle(file, FileDispositionInfo, &classic, sizeof classic))
        return true;
    if (readOnly)
        setAttributesOf(file, attributes);
    return false;
}

bool setAttributesOf(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFO basic = {}; // times of zero stay as they are
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}
