#include "update/replace.h"

#include "common/fs_error.h"
#include "common/paths.h"
#include "common/run_state.h"
#include "common/unique_any.h"
#include "log/run_log.h"

#include <windows.h>

#include <aclapi.h>

#include <chrono>
#include <exception>

namespace {

constexpr int lastTry = 3;
constexpr std::chrono::milliseconds pauseBetweenTries{500};

enum class Found { Nothing, Writable, Refused };

struct Probe {
    Found found = Found::Nothing;
    std::wstring finalPath; // where dest leads, when it opened
};

// dest is writable when it opens for writing with no sharing at all, or when there is
// nothing there; only a refusal (access denied, sharing violation) stands in the way.
// The open handle also tells where dest really leads.
Probe probe(const std::wstring& dest)
{
    UniqueFileHandle file(CreateFileW(dest.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD code = GetLastError();
        const bool refused = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
        return {refused ? Found::Refused : Found::Nothing, {}};
    }
    return {Found::Writable, finalPathOf(file.get(), dest)};
}

bool isBelow(const std::wstring& finalPath, const std::wstring& root)
{
    return staysBelow(lexicallyRelative(finalPath, root));
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

[[noreturn]] void failReplacement(const std::wstring& dest)
{
    const std::wstring text =
        L"При обновлении не удалось заменить файл на новый!\nФайл: " + dest +
        L"\nПопробуйте снова, либо переместите все файлы из \"resources\\update\" в корень "
        L"лаунчера вручную.";
    MessageBoxW(nullptr, text.c_str(), updaterTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    ExitProcess(1);
}

void removeFile(const std::wstring& dest)
{
    if (DeleteFileW(dest.c_str()))
        return;
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
        throw FileSystemError("remove", code, dest);
}

// A move keeps the permissions of the source, which the user owns: an installed file
// that its user can still rewrite is a way back into a program run as administrator.
// Best effort: a volume without access lists keeps the file as it is.
void inheritFolderPermissions(const std::wstring& dest)
{
    ACL empty;
    if (!InitializeAcl(&empty, sizeof empty, ACL_REVISION))
        return;
    SetNamedSecurityInfoW(const_cast<wchar_t*>(dest.c_str()), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                          nullptr, nullptr, &empty, nullptr);
}

void moveFile(const std::wstring& source, const std::wstring& dest)
{
    if (!MoveFileExW(source.c_str(), dest.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        throw FileSystemError("rename", GetLastError(), source, dest);
}

} // namespace

void replaceFile(const std::wstring& source, const std::wstring& dest, const Resolved& resolved)
{
    Probe found = probe(dest);
    // A folder below the root, or dest itself, can be a link to elsewhere: as
    // administrator we write nowhere but below the root.
    const std::wstring leadsTo = found.found == Found::Writable ? found.finalPath
                                 : found.found == Found::Refused
                                     ? weaklyCanonical(dest)
                                     : appendPath(resolved.destFolder, fileName(dest));
    if (!isBelow(leadsTo, resolved.root)) {
        logLine("Outside of target, ignore it");
        return;
    }
    for (int tries = 0; found.found == Found::Refused; ++tries) {
        logNumber("File not writable!! Tries: ", tries);
        if (tries == lastTry)
            failReplacement(dest);
        pause();
        found = probe(dest);
    }
    // Removing dest would destroy the update file itself (a root folder that is the
    // update folder, or a link between the two).
    if (found.found == Found::Writable && sameFinalPath(found.finalPath, resolved.source)) {
        logLine("Same file, ignore it");
        return;
    }
    try {
        logLine("Remove it");
        removeFile(dest);
        logLine("Move it");
        moveFile(source, dest);
    } catch (const std::exception& error) {
        logMessage("Exception: ", error.what());
        failReplacement(dest);
    }
    inheritFolderPermissions(dest);
}
