#include "update/replace.h"

#include "common/fs_error.h"
#include "common/paths.h"
#include "common/unique_any.h"
#include "log/run_log.h"

#include <windows.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace {

constexpr int lastTry = 3;
constexpr std::chrono::milliseconds pauseBetweenTries{500};

enum class Found { Nothing, Writable, Refused };

bool isRefusal(DWORD code)
{
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
}

// dest is writable when it opens for writing with no sharing at all, or when there is
// nothing there; only a refusal (access denied, sharing violation) stands in the way.
Found probe(const std::wstring& dest)
{
    const UniqueFileHandle file(CreateFileW(dest.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file)
        return Found::Writable;
    return isRefusal(GetLastError()) ? Found::Refused : Found::Nothing;
}

// The update file can be moved away when it opens for deletion beside everybody else:
// a program that holds it without delete sharing (a virus scanner reading what the
// launcher just downloaded) would make the move fail after the old file had gone.
bool canMove(const std::wstring& source)
{
    const UniqueFileHandle file(CreateFileW(source.c_str(), DELETE, shareAll, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file || !isRefusal(GetLastError());
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

[[noreturn]] void throwMoveError(DWORD code, const std::wstring& dest)
{
    throw FileSystemError("rename", code, shownPath(dest), FileSystemError::Shown::WithoutPath);
}

// Across volumes no rename can replace dest: the new file is copied whole beside dest
// under a name of its own, and only then renamed over dest, so that a copy cut short
// (a full disk) leaves the old file as it was. The copy is removed on any failure.
void copyAcrossVolumes(const std::wstring& source, const std::wstring& dest)
{
    std::wstring copy;
    for (unsigned attempt = 0;; ++attempt) {
        copy = dest + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(attempt) + L".new";
        if (CopyFileExW(source.c_str(), copy.c_str(), nullptr, nullptr, nullptr,
                        COPY_FILE_FAIL_IF_EXISTS))
            break;
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS && attempt < 100)
            continue; // somebody else's file: never touched
        DeleteFileW(copy.c_str());
        throwMoveError(code, dest);
    }
    if (!MoveFileExW(copy.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD code = GetLastError();
        DeleteFileW(copy.c_str());
        throwMoveError(code, dest);
    }
    // The new file is in place; an update file that stays behind too is only a copy.
    if (!DeleteFileW(source.c_str()))
        throw FileSystemError("remove", GetLastError(), shownPath(source),
                              FileSystemError::Shown::WithoutPath);
}

// Renames the open file to dest, replacing what stands there.
bool renameOpened(HANDLE file, const std::wstring& dest)
{
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + dest.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(dest.size() * sizeof(wchar_t));
    memcpy(rename->FileName, dest.data(), dest.size() * sizeof(wchar_t));
    return SetFileInformationByHandle(file, FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size())) != FALSE;
}

// One replacing step: the old file stays at dest whenever the new one does not arrive.
// The file the walk opened is moved through its handle and given its new security on
// that same handle: what is moved and what is reset are one file, whatever is done to
// the names meanwhile.
void moveIntoPlace(const std::wstring& source, const std::wstring& dest, const Resolved& resolved)
{
    if (resolved.opened ? renameOpened(resolved.opened, dest)
                        : MoveFileExW(source.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        if (resolved.opened)
            applyFolderSecurity(resolved.opened, *resolved.security);
        else
            takeOverInstalledFile(dest, resolved.root, *resolved.security);
        return;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_NOT_SAME_DEVICE)
        throwMoveError(code, dest);
    copyAcrossVolumes(source, dest);
    takeOverInstalledFile(dest, resolved.root, *resolved.security);
}

} // namespace

void replaceFile(const std::wstring& source, const std::wstring& dest, const Resolved& resolved)
{
    // A folder below the root can be a link to elsewhere: as administrator we write
    // nowhere but below the root, and never over the update that is still to be
    // applied. dest itself needs no look: a rename replaces the name, never what a
    // link there leads to.
    const std::wstring leadsTo = appendPath(resolved.destFolder, fileName(dest));
    if (!liesBelow(leadsTo, resolved.root)) {
        logLine("Outside of target, ignore it");
        return;
    }
    // Moving the file onto itself would destroy it (a root folder that is the update
    // folder).
    if (sameFinalPath(leadsTo, resolved.source)) {
        logLine("Same file, ignore it");
        return;
    }
    if (sameFinalPath(leadsTo, resolved.updateFolder) ||
        liesBelow(leadsTo, resolved.updateFolder)) {
        logLine("Inside the update folder, ignore it");
        return;
    }
    for (int tries = 0;; ++tries) {
        // Holding the walk's handle, opened for deletion, the update file can be moved:
        // whoever opens it after us has to let it be deleted.
        if (probe(dest) != Found::Refused && (resolved.opened || canMove(source)))
            break;
        logNumber("File not writable!! Tries: ", tries);
        if (tries == lastTry)
            throw FileLocked{shownPath(dest)};
        pause();
    }
    // Two lines for the one replacing move: readers of earlier logs know them.
    logLine("Remove it");
    logLine("Move it");
    moveIntoPlace(source, dest, resolved);
}
