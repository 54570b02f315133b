#include "update/replace.h"

#include "fs/fs_error.h"
#include "log/run_log.h"
#include "update/durability.h"
#include "update/in_folder.h"

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

constexpr int lastTry = 3;
constexpr std::chrono::milliseconds pauseBetweenTries{500};

bool isRefusal(DWORD code)
{
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
}

// What stands at dest, opened to look at and change its attributes only.
UniqueFileHandle openAttributes(const Destination& dest)
{
    DWORD error = ERROR_SUCCESS;
    return openInFolder(dest.folder, dest.name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        Disposition::OpenExisting, error);
}

DWORD attributesOf(HANDLE file)
{
    FILE_BASIC_INFO basic;
    return GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)
               ? basic.FileAttributes
               : 0;
}

void setAttributes(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFO basic = {}; // times of zero stay as they are
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

// dest is writable when it opens for writing with no sharing at all, or when there is
// nothing there; only a refusal (access denied, sharing violation) stands in the way.
// A link at dest is looked at itself: the move replaces the name, never its target.
// The read-only attribute refuses every writer but is no obstacle: the file is being
// replaced, and the attribute is cleared for the move; whether another program holds
// it is then asked with delete access, which the attribute does not refuse. `readOnly`
// gives the attributes of a read-only dest (0 for any other).
bool isWritable(const Destination& dest, DWORD& readOnly)
{
    readOnly = 0;
    if (!dest.folder)
        return true; // nothing can stand in a folder that is not there: the move says so
    DWORD error = ERROR_SUCCESS;
    if (openInFolder(dest.folder, dest.name, GENERIC_WRITE, 0, Disposition::OpenExisting, error))
        return true;
    if (error == ERROR_ACCESS_DENIED) {
        const UniqueFileHandle file = openAttributes(dest);
        const DWORD attributes = file ? attributesOf(file.get()) : 0;
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            readOnly = attributes;
            return openInFolder(dest.folder, dest.name, DELETE, 0, Disposition::OpenExisting,
                                error) ||
                   !isRefusal(error);
        }
    }
    return !isRefusal(error);
}

// Gives a file at dest the attributes `attributes`, where something is there.
void setAttributesOfDest(const Destination& dest, DWORD attributes)
{
    if (const UniqueFileHandle old = openAttributes(dest))
        setAttributes(old.get(), attributes);
}

void pause()
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + pauseBetweenTries;
    for (Clock::time_point now = Clock::now(); now < deadline; now = Clock::now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        Sleep(static_cast<DWORD>(left.count()));
    }
}

[[noreturn]] void throwMoveError(DWORD code, const Destination& dest)
{
    throw FileSystemError(operation::rename, code, dest.shown, FileSystemError::Shown::WithoutPath);
}

bool copyContent(HANDLE from, HANDLE to)
{
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(from, start, nullptr, FILE_BEGIN))
        return false;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            return false;
        if (read == 0)
            return true;
        DWORD written = 0;
        if (!WriteFile(to, buffer.data(), read, &written, nullptr) || written != read)
            return false;
    }
}

std::wstring copyName(const std::wstring& name, DWORD process, unsigned attempt)
{
    return name + L"." + std::to_wstring(process) + L"-" + std::to_wstring(attempt) + L".new";
}

// Whether a name is that of a copy of ours for `name`: "<name>.<digits>-<digits>.new".
bool isCopyOf(const std::wstring& found, const std::wstring& name)
{
    const std::wstring suffix = L".new";
    if (found.size() < name.size() + 1 + 3 + suffix.size() || found.compare(0, name.size(), name) ||
        found[name.size()] != L'.' ||
        found.compare(found.size() - suffix.size(), suffix.size(), suffix))
        return false;
    const std::wstring middle =
        found.substr(name.size() + 1, found.size() - name.size() - 1 - suffix.size());
    const size_t dash = middle.find(L'-');
    return dash != std::wstring::npos && dash > 0 && dash + 1 < middle.size() &&
           middle.find_first_not_of(L"0123456789-") == std::wstring::npos &&
           middle.find(L'-', dash + 1) == std::wstring::npos;
}

// A copy that a run ended from outside left beside dest (it may be large) goes with the
// next run that copies the same file.
void removeCopiesLeftBehind(const Destination& dest)
{
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle find(FindFirstFileExW((dest.exactFolder + dest.name + L".*.new").c_str(),
                                                 FindExInfoBasic, &entry, FindExSearchNameMatch,
                                                 nullptr, 0));
    for (BOOL more = static_cast<bool>(find); more; more = FindNextFileW(find.get(), &entry)) {
        if (!isCopyOf(entry.cFileName, dest.name))
            continue;
        DWORD error = ERROR_SUCCESS;
        const UniqueFileHandle copy =
            openInFolder(dest.folder, entry.cFileName, DELETE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         Disposition::OpenExisting, error);
        if (copy)
            deleteOpened(copy.get());
    }
}

// Across volumes no rename can replace dest: the new file is copied whole, from the
// handle the run holds, into a file of its own beside dest, flushed, and only then
// renamed over dest, so that a copy cut short (a full disk) leaves the old file as it
// was. The copy is removed on any failure; the update file, once the copy is in place.
// Gives the code of a refused rename over dest (a try to repeat); throws otherwise.
DWORD copyAcrossVolumes(HANDLE updateFile, const Destination& dest)
{
    removeCopiesLeftBehind(dest);
    UniqueFileHandle copy;
    DWORD error = ERROR_SUCCESS;
    for (unsigned attempt = 0; !copy; ++attempt) {
        copy = openInFolder(dest.folder, copyName(dest.name, GetCurrentProcessId(), attempt),
                            GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER, 0,
                            Disposition::CreateNew, error);
        const bool nameTaken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        if (!copy && (!nameTaken || attempt == 100))
            throwMoveError(error, dest); // somebody else's file is never touched
    }
    FILE_BASIC_INFO times;
    const bool copied = copyContent(updateFile, copy.get()) && flushFile(copy.get());
    if (!copied)
        error = GetLastError();
    else if (GetFileInformationByHandleEx(updateFile, FileBasicInfo, &times, sizeof times))
        SetFileInformationByHandle(copy.get(), FileBasicInfo, &times, sizeof times);
    if (copied)
        error = renameIntoFolder(copy.get(), dest.folder, dest.name);
    if (!copied || error != ERROR_SUCCESS) {
        deleteOpened(copy.get());
        if (copied && isRefusal(error))
            return error;
        throwMoveError(error, dest);
    }
    applyFolderSecurity(copy.get(), *dest.security);
    // The new file is in place; an update file that stays behind too is only a copy.
    if (!deleteOpened(updateFile))
        throw FileSystemError(operation::remove, GetLastError(), dest.shown,
                              FileSystemError::Shown::WithoutPath);
    return ERROR_SUCCESS;
}

// One try of the replacing move: the old file stays at dest whenever the new one does
// not arrive. What is moved and what is given its new security are one file, the one
// the walk opened and checked, whatever is done to the names meanwhile. Gives
// ERROR_SUCCESS, or the code of a refusal (dest open in another program) for the next
// try; throws on any other failure. A read-only dest (its attributes in `readOnly`)
// loses the attribute for the move, and gets it back when the move fails; the handle
// that changes it is closed before the move, which any open handle on dest would fail.
DWORD tryMove(HANDLE updateFile, const Destination& dest, DWORD readOnly)
{
    if (!dest.folder)
        throwMoveError(dest.folderError, dest);
    if (dest.flushItself)
        flushFile(updateFile); // best effort: a file that cannot be flushed still moves
    if (readOnly != 0)
        setAttributesOfDest(dest, readOnly & ~DWORD{FILE_ATTRIBUTE_READONLY});
    DWORD error = renameIntoFolder(updateFile, dest.folder, dest.name);
    if (error == ERROR_NOT_SAME_DEVICE)
        error = copyAcrossVolumes(updateFile, dest);
    else if (error == ERROR_SUCCESS)
        applyFolderSecurity(updateFile, *dest.security);
    if (error != ERROR_SUCCESS && readOnly != 0)
        setAttributesOfDest(dest, readOnly);
    if (error != ERROR_SUCCESS && !isRefusal(error))
        throwMoveError(error, dest);
    return error;
}

} // namespace

void replaceFile(const Destination& dest, UniqueFileHandle updateFile,
                 const OpenUpdateFile& openUpdateFile)
{
    for (int tries = 0;; ++tries) {
        // Holding the update file, opened for deletion and sharing no writes, it can be
        // moved, and nobody writes into it any more: whoever opens it after us has to
        // let it be deleted and may only read.
        if (!updateFile)
            updateFile = openUpdateFile();
        DWORD readOnly = 0;
        if (updateFile && isWritable(dest, readOnly)) {
            // Two lines for the one replacing move: readers of earlier logs know them.
            logLine("Remove it");
            logLine("Move it");
            if (tryMove(updateFile.get(), dest, readOnly) == ERROR_SUCCESS)
                return;
        }
        logNumber("File not writable!! Tries: ", tries);
        if (tries == lastTry)
            throw FileLocked{dest.shown};
        pause();
    }
}
