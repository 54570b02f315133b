#include "update/replace.h"

#include "common/fs_error.h"
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

struct Probe {
    bool writable = false;
    bool exists = false;
    BY_HANDLE_FILE_INFORMATION identity = {};
};

// dest is writable when it opens for writing with no sharing at all, or when there is
// nothing there; only a refusal (access denied, sharing violation) stands in the way.
Probe probe(const std::wstring& dest)
{
    Probe result;
    UniqueFileHandle file(CreateFileW(dest.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD code = GetLastError();
        result.writable = code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION;
        return result;
    }
    result.writable = true;
    result.exists = GetFileInformationByHandle(file.get(), &result.identity) != FALSE;
    return result;
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION& destIdentity, const std::wstring& source)
{
    UniqueFileHandle file(CreateFileW(source.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !GetFileInformationByHandle(file.get(), &info))
        return false;
    return info.dwVolumeSerialNumber == destIdentity.dwVolumeSerialNumber &&
           info.nFileIndexHigh == destIdentity.nFileIndexHigh &&
           info.nFileIndexLow == destIdentity.nFileIndexLow;
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

void replaceFile(const std::wstring& source, const std::wstring& dest)
{
    Probe found = probe(dest);
    for (int tries = 0; !found.writable; ++tries) {
        logNumber("File not writable!! Tries: ", tries);
        if (tries == lastTry)
            failReplacement(dest);
        pause();
        found = probe(dest);
    }
    // Removing dest would destroy the update file itself (a root folder that is the
    // update folder, or a link between the two).
    if (found.exists && sameFile(found.identity, source)) {
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
