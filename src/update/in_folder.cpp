#include "update/in_folder.h"

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
constexpr ULONG openReparsePoint = 0x00200000; // FILE_OPEN_REPARSE_POINT
constexpr ULONG fileRenameInformation = 10;    // FILE_INFORMATION_CLASS
constexpr ULONG fileRenameInformationEx = 65;  // FILE_INFORMATION_CLASS
constexpr DWORD replaceIfExists = 0x1;         // FILE_RENAME_REPLACE_IF_EXISTS
constexpr DWORD posixSemantics = 0x2;          // FILE_RENAME_POSIX_SEMANTICS

// The answers of a system, or a volume, that has no rename with POSIX semantics.
bool isUnsupported(NTSTATUS status)
{
    const auto code = static_cast<unsigned long>(status);
    return code == 0xC0000002 /* STATUS_NOT_IMPLEMENTED */ ||
           code == 0xC0000003 /* STATUS_INVALID_INFO_CLASS */ ||
           code == 0xC000000D /* STATUS_INVALID_PARAMETER */ ||
           code == 0xC00000BB /* STATUS_NOT_SUPPORTED */;
}

DWORD win32Error(NTSTATUS status)
{
    return RtlNtStatusToDosError(status);
}

} // namespace

UniqueFileHandle holdFolder(const std::wstring& exactPath, DWORD& error)
{
    UniqueFileHandle folder(CreateFileW(
        exactPath.c_str(), FILE_TRAVERSE | FILE_LIST_DIRECTORY | READ_CONTROL | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
        nullptr));
    error = folder ? ERROR_SUCCESS : GetLastError();
    return folder;
}

UniqueFileHandle openInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access,
                              DWORD share, Disposition disposition, DWORD& error)
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
    IO_STATUS_BLOCK io = {};
    HANDLE file = INVALID_HANDLE_VALUE;
    const NTSTATUS status =
        NtCreateFile(&file, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                     share, static_cast<ULONG>(disposition),
                     synchronousIo | nonDirectory | openReparsePoint, nullptr, 0);
    if (status < 0) {
        error = win32Error(status);
        return {};
    }
    error = ERROR_SUCCESS;
    return UniqueFileHandle(file);
}

DWORD renameIntoFolder(HANDLE file, HANDLE folder, const std::wstring& name)
{
    // SetFileInformationByHandle is documented to take no RootDirectory; the native
    // call is. Both forms of the information share one layout: a first field that is
    // ReplaceIfExists (one byte) in the one and Flags (four) in the other, the folder,
    // the name's length and the name.
    const size_t nameBytes = name.size() * sizeof(wchar_t);
    std::vector<BYTE> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    memcpy(rename->FileName, name.data(), nameBytes);
    IO_STATUS_BLOCK io = {};
    // POSIX semantics first (Windows 10 1709 and later, on NTFS): the name is replaced
    // even while other programs have the old file open, and they keep its data.
    const DWORD flags = replaceIfExists | posixSemantics;
    memcpy(buffer.data(), &flags, sizeof flags);
    NTSTATUS status =
        NtSetInformationFile(file, &io, rename, static_cast<ULONG>(buffer.size()),
                             static_cast<FILE_INFORMATION_CLASS>(fileRenameInformationEx));
    if (isUnsupported(status)) {
        const DWORD none = 0;
        memcpy(buffer.data(), &none, sizeof none);
        rename->ReplaceIfExists = TRUE;
        status = NtSetInformationFile(file, &io, rename, static_cast<ULONG>(buffer.size()),
                                      static_cast<FILE_INFORMATION_CLASS>(fileRenameInformation));
    }
    return status < 0 ? win32Error(status) : ERROR_SUCCESS;
}

bool deleteOpened(HANDLE file)
{
    FILE_DISPOSITION_INFO dispose = {TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose) != FALSE;
}
