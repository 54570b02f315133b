#include "fs/file_identity.h"

#include "common/win32_text.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"

#include <iterator>
#include <utility>
#include <vector>

std::wstring fullPath(const std::wstring& path)
{
    std::wstring full;
    if (!queryText(
            [&](wchar_t* buffer, DWORD capacity) {
                return GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
            },
            full))
        throw FileSystemError(operation::weaklyCanonical, GetLastError(), path);
    return full;
}

std::wstring verbatimPath(const std::wstring& path)
{
    if (isVerbatim(path))
        return path;
    const std::wstring full = fullPath(path);
    if (full.rfind(L"\\\\.\\", 0) == 0 || isVerbatim(full))
        return full; // a device path is taken as written already
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

namespace {

// The final form of an existing path; an empty result when nothing is there.
std::wstring finalPathIfAny(const std::wstring& path)
{
    const UniqueFileHandle file = openToLook(path, operation::weaklyCanonical, shownPath(path));
    return file ? withRequestedNames(finalPathOf(file.get(), path), path) : std::wstring();
}

} // namespace

std::wstring finalPathOf(HANDLE file, const std::wstring& path)
{
    std::wstring final;
    if (!queryText(
            [file](wchar_t* buffer, DWORD capacity) {
                return GetFinalPathNameByHandleW(file, buffer, capacity,
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
            },
            final))
        throw FileSystemError(operation::weaklyCanonical, GetLastError(), shownPath(path));
    return shownPath(final);
}

std::wstring weaklyCanonical(const std::wstring& path)
{
    if (path.empty())
        return path;
    // GetFullPathNameW has already resolved "." and ".." lexically, so the missing
    // tail only has to be carried over. A verbatim path holds exact names, which it
    // would rewrite.
    const std::wstring full = isVerbatim(path) ? path : fullPath(path);
    std::wstring existing = full;
    std::vector<std::wstring> missing;
    for (;;) {
        std::wstring resolved = finalPathIfAny(existing);
        if (!resolved.empty()) {
            for (auto name = missing.rbegin(); name != missing.rend(); ++name)
                resolved = appendPath(resolved, *name);
            return resolved;
        }
        std::wstring parent = parentPath(existing);
        if (parent.empty())
            return full; // not even the root exists
        const std::wstring name = fileName(existing);
        if (!name.empty())
            missing.push_back(name);
        existing = std::move(parent);
    }
}

bool isPlainSingleFile(HANDLE file)
{
    // Two cheap queries: GetFileInformationByHandle would also ask for the volume's
    // serial number.
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    return GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
           !(basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) &&
           !standard.Directory && standard.NumberOfLinks == 1;
}

bool isPlainFileAt(HANDLE file, const std::wstring& path, const std::wstring& expected)
{
    return isPlainSingleFile(file) &&
           sameFinalPath(withRequestedNames(finalPathOf(file, shownPath(path)), path), expected);
}

bool isSameFile(HANDLE a, HANDLE b)
{
    const std::wstring identity = identityOf(a);
    return !identity.empty() && identity == identityOf(b);
}

std::wstring identityOf(HANDLE file)
{
    // The 128-bit id where the file system gives one: ReFS numbers files beyond 64 bits,
    // so the older 64-bit index of two of its files may be equal.
    // Windows 8's FILE_ID_INFO and its class, FileIdInfo; the build targets Windows 7.
    struct FileIdInfo {
        ULONGLONG VolumeSerialNumber;
        BYTE FileId[16];
    };
    constexpr auto fileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
    FileIdInfo id;
    BY_HANDLE_FILE_INFORMATION info;
    unsigned long long volume = 0;
    std::vector<BYTE> bytes;
    if (GetFileInformationByHandleEx(file, fileIdInfo, &id, sizeof id)) {
        volume = id.VolumeSerialNumber;
        bytes.assign(std::begin(id.FileId), std::end(id.FileId));
    } else if (GetFileInformationByHandle(file, &info)) {
        volume = info.dwVolumeSerialNumber;
        const ULONGLONG index = (ULONGLONG{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
        for (int shift = 0; shift < 64; shift += 8)
            bytes.push_back(static_cast<BYTE>(index >> shift));
    } else {
        return {};
    }
    constexpr wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    for (int shift = 60; shift >= 0; shift -= 4)
        text += digits[(volume >> shift) & 15];
    text += L'-';
    for (auto byte = bytes.rbegin(); byte != bytes.rend(); ++byte)
        text += {digits[*byte >> 4], digits[*byte & 15]};
    return text;
}

OpenedFile lookAt(const std::wstring& path, Links links)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS |
                        (links == Links::Itself ? DWORD{FILE_FLAG_OPEN_REPARSE_POINT} : 0);
    OpenedFile file;
    file.handle.reset(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr,
                                  OPEN_EXISTING, flags, nullptr));
    file.error = file.handle ? ERROR_SUCCESS : GetLastError();
    return file;
}

UniqueFileHandle openToLook(const std::wstring& path, const char* operation,
                            const std::wstring& shown)
{
    OpenedFile file = lookAt(path);
    if (!file.handle && !isMissingPathError(file.error))
        throw FileSystemError(operation, file.error, shown);
    return std::move(file.handle);
}

bool leadsToFolder(const std::wstring& path, unsigned long listedAttributes)
{
    if (!(listedAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return (listedAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const OpenedFile target = lookAt(path);
    if (!target.handle) {
        // Missing, or its kind cannot be told: a file.
        if (isMissingPathError(target.error) || target.error == ERROR_SHARING_VIOLATION)
            return false;
        throw FileSystemError(operation::status, target.error, shownPath(path));
    }
    // Not GetFileInformationByHandle: it asks for the volume's serial number too.
    FILE_BASIC_INFO info;
    if (!GetFileInformationByHandleEx(target.handle.get(), FileBasicInfo, &info, sizeof info))
        throw FileSystemError(operation::status, GetLastError(), shownPath(path));
    return (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// Where the file must be: its folder resolved through the file system, then its name.
std::wstring expectedFinalPath(const wchar_t* path)
{
    const std::wstring full = fullPath(path);
    const std::wstring name = fileName(full);
    return appendPath(weaklyCanonical(full.substr(0, full.size() - name.size())), name);
}

// Removes the planted name itself, never the file it leads to: only when the handle
// opened on the name is the name itself (Windows opens a link as the link; Wine
// cannot, and there the name stays and the log is not written).
bool removeName(const wchar_t* path, const std::wstring& expected)
{
    UniqueFileHandle name(CreateFileW(path, DELETE, shareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                      nullptr));
    if (!name || !sameFinalPath(finalPathOf(name.get(), expected), expected))
        return false;
    FILE_DISPOSITION_INFO dispose = {TRUE};
    return SetFileInformationByHandle(name.get(), FileDispositionInfo, &dispose, sizeof dispose) !=
           FALSE;
}

} // namespace

UniqueFileHandle openEmptiedForWriting(const wchar_t* path, DWORD share)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        UniqueFileHandle existing(CreateFileW(path, GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (existing) {
            const std::wstring expected = expectedFinalPath(path);
            // A name that is a link (symbolic, junction, or one of several hard links)
            // must not be truncated: as administrator that would destroy whatever file
            // it leads to.
            if (isPlainFileAt(existing.get(), path, expected)) {
                if (SetFilePointer(existing.get(), 0, nullptr, FILE_BEGIN) ==
                        INVALID_SET_FILE_POINTER ||
                    !SetEndOfFile(existing.get()))
                    return {};
                return existing;
            }
            existing.reset();
            if (!removeName(path, expected))
                return {};
        }
        // CREATE_NEW: a link planted between the check and here makes this fail, and
        // the next attempt looks again. The name itself, never a symbolic link's missing
        // target, which CREATE_NEW would otherwise create wherever it points.
        UniqueFileHandle created(CreateFileW(path, GENERIC_WRITE, share, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                             nullptr));
        if (created)
            return created;
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS)
            return {};
    }
    return {};
}
