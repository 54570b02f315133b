#include "update/replace.h"

#include "common/fs_error.h"
#include "log/run_log.h"
#include "update/in_folder.h"

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

constexpr int lastTry = 3;
constexpr std::chrono::milliseconds pauseBetweenTries{500};
constexpr unsigned long openExisting = 1; // FILE_OPEN
constexpr unsigned long createNew = 2;    // FILE_CREATE

bool isRefusal(DWORD code)
{
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
}

// dest is writable when it opens for writing with no sharing at all, or when there is
// nothing there; only a refusal (access denied, sharing violation) stands in the way.
// A link at dest is looked at itself: the move replaces the name, never its target.
bool isWritable(const Destination& dest)
{
    if (!dest.folder)
        return true; // nothing can stand in a folder that is not there: the move says so
    DWORD error = ERROR_SUCCESS;
    const UniqueFileHandle file =
        openInFolder(dest.folder, dest.name, GENERIC_WRITE, 0, openExisting, error);
    return file || !isRefusal(error);
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
    throw FileSystemError("rename", code, dest.shown, FileSystemError::Shown::WithoutPath);
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

// Across volumes no rename can replace dest: the new file is copied whole, from the
// handle the run holds, into a file of its own beside dest, and only then renamed over
// dest, so that a copy cut short (a full disk) leaves the old file as it was. The copy
// is removed on any failure; the update file, once the copy is in place.
void copyAcrossVolumes(HANDLE updateFile, const Destination& dest)
{
    UniqueFileHandle copy;
    DWORD error = ERROR_SUCCESS;
    for (unsigned attempt = 0; !copy; ++attempt) {
        const std::wstring name = dest.name + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(attempt) + L".new";
        copy = openInFolder(dest.folder, name,
                            GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER, 0,
                            createNew, error);
        const bool nameTaken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        if (!copy && (!nameTaken || attempt == 100))
            throwMoveError(error, dest); // somebody else's file is never touched
    }
    FILE_BASIC_INFO times;
    const bool copied = copyContent(updateFile, copy.get());
    if (!copied)
        error = GetLastError();
    else if (GetFileInformationByHandleEx(updateFile, FileBasicInfo, &times, sizeof times))
        SetFileInformationByHandle(copy.get(), FileBasicInfo, &times, sizeof times);
    if (copied)
        error = renameIntoFolder(copy.get(), dest.folder, dest.name);
    if (!copied || error != ERROR_SUCCESS) {
        deleteOpened(copy.get());
        throwMoveError(error, dest);
    }
    applyFolderSecurity(copy.get(), *dest.security);
    // The new file is in place; an update file that stays behind too is only a copy.
    if (!deleteOpened(updateFile))
        throw FileSystemError("remove", GetLastError(), dest.shown,
                              FileSystemError::Shown::WithoutPath);
}

// One replacing step: the old file stays at dest whenever the new one does not arrive.
// What is moved and what is given its new security are one file, the one the walk
// opened and checked, whatever is done to the names meanwhile.
void moveIntoPlace(HANDLE updateFile, const Destination& dest)
{
    if (!dest.folder)
        throwMoveError(dest.folderError, dest);
    const DWORD error = renameIntoFolder(updateFile, dest.folder, dest.name);
    if (error == ERROR_SUCCESS) {
        applyFolderSecurity(updateFile, *dest.security);
        return;
    }
    if (error != ERROR_NOT_SAME_DEVICE)
        throwMoveError(error, dest);
    copyAcrossVolumes(updateFile, dest);
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
        if (updateFile && isWritable(dest))
            break;
        logNumber("File not writable!! Tries: ", tries);
        if (tries == lastTry)
            throw FileLocked{dest.shown};
        pause();
    }
    // Two lines for the one replacing move: readers of earlier logs know them.
    logLine("Remove it");
    logLine("Move it");
    moveIntoPlace(updateFile.get(), dest);
}
