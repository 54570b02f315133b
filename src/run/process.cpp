#include "run/process.h"
#include "run/process_seams.h"

#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"
#include "log/log_words.h"
#include "log/run_log.h"
#include "run/desktop_shell.h"
#include "run/elevation.h"
#include "run/messages.h"

#include <tlhelp32.h>

// The narrow process entries: only the ids are read, and they need no text.
#undef PROCESSENTRY32
#undef Process32First
#undef Process32Next

namespace {

// The program the updater starts again when it is done, in the root folder.
const wchar_t launcherExeName[] = L"Qorvath Launcher.exe";

// The snapshot's entry for a process id, walked from the start; false when absent.
bool findEntry(HANDLE snapshot, DWORD id, PROCESSENTRY32& entry)
{
    entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == id)
            return true;
    }
    return false;
}

bool creationTime(HANDLE process, ULARGE_INTEGER& time)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return false;
    time.LowPart = created.dwLowDateTime;
    time.HighPart = created.dwHighDateTime;
    return true;
}

} // namespace

bool createdNoLaterThanUs(HANDLE process)
{
    ULARGE_INTEGER theirs, ours;
    if (!creationTime(process, theirs) || !creationTime(GetCurrentProcess(), ours))
        return true;
    return theirs.QuadPart <= ours.QuadPart;
}

namespace {

// The process's token as a primary token of our own; none when it cannot be had.
UniqueHandle primaryTokenOf(HANDLE process)
{
    UniqueHandle token;
    UniqueHandle primary;
    if (OpenProcessToken(process, TOKEN_QUERY | TOKEN_DUPLICATE, token.put()))
        DuplicateTokenEx(token.get(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, nullptr,
                         SecurityImpersonation, TokenPrimary, primary.put());
    return primary;
}

std::wstring imageOf(HANDLE process)
{
    std::wstring image(32768, L'\0');
    DWORD length = static_cast<DWORD>(image.size());
    if (!QueryFullProcessImageNameW(process, 0, &image[0], &length))
        return {};
    image.resize(length);
    return image;
}

} // namespace

ParentProcess findParentProcess()
{
    const DWORD self = GetCurrentProcessId();
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return {};
    PROCESSENTRY32 entry;
    if (!findEntry(snapshot.get(), self, entry))
        return {};
    const DWORD parentId = entry.th32ParentProcessID;
    if (!findEntry(snapshot.get(), parentId, entry))
        return {};
    snapshot.reset();

    ParentProcess parent;
    parent.handle.reset(OpenProcess(SYNCHRONIZE, FALSE, parentId));
    if (!parent.handle)
        return {};
    // While we hold the handle the id cannot pass to another process, so a second,
    // short-lived handle by the same id reaches the same one. A process younger than
    // us has only taken over the id of our parent, which has ended.
    UniqueHandle query(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parentId));
    if (query && !createdNoLaterThanUs(query.get()))
        return {};
    if (query) {
        parent.token = primaryTokenOf(query.get());
        parent.administrator = parent.token && isAdministratorToken(parent.token.get());
        parent.image = imageOf(query.get());
    }
    return parent;
}

void waitForExit(UniqueHandle process)
{
    // Blocking, not polling: the parent may live for hours beside a running game.
    // A failed wait (WAIT_FAILED) ends the wait too.
    WaitForSingleObject(process.get(), INFINITE);
}

void waitForParentToEnd(UniqueHandle parent)
{
    logLine(words::haveParent);
    WaitForSingleObject(parent.get(), INFINITE);
    logLine(words::killed);
}

namespace {

// targetDir joined with launcherExeName, as the walk joins a plain name.
std::wstring launcherPath(const std::wstring& targetDir)
{
    return appendPath(targetDir, launcherExeName);
}

// Detached, with none of our handles, as `token`'s user where one is given. Gives why
// it did not start ("" when it did): the call and the system's words.
std::string startDetached(const std::wstring& path, const std::wstring& workDir, HANDLE token)
{
    // The launcher's own path, quoted, as its only element: with no command line
    // Windows would pass the bare path, which splits at every blank into arguments
    // ("Launcher.exe") the launcher was never given.
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    constexpr DWORD flags = NORMAL_PRIORITY_CLASS | CREATE_NEW_PROCESS_GROUP;
    // CreateProcessWithTokenW asks for the impersonation privilege, which an
    // administrator's process has (CreateProcessAsUserW would ask for one it has not),
    // takes fewer creation flags (no DETACHED_PROCESS: the launcher has no console), and
    // gives the launcher its user's own environment, not ours. It is served by the
    // Secondary Logon service, which an administrator may have disabled.
    const BOOL made = token
                          ? CreateProcessWithTokenW(token, 0, path.c_str(), &commandLine[0], flags,
                                                    nullptr, workDir.c_str(), &startup, &started)
                          : CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                                           DETACHED_PROCESS | flags, nullptr, workDir.c_str(),
                                           &startup, &started);
    if (!made)
        return std::string(token ? "CreateProcessWithTokenW: " : "CreateProcessW: ") +
               systemMessage(GetLastError());
    // Nobody watches the launcher; its handles are only released.
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    return {};
}

} // namespace

std::string startLauncherProcess(const std::wstring& path, const std::wstring& root,
                                 LauncherRights rights, HANDLE starterToken,
                                 DesktopShellStart shell)
{
    if (rights == LauncherRights::Ours)
        return startDetached(path, root, nullptr);
    switch (shell(path, root, desktopShellDeadlineMs)) {
    case ShellAnswer::Started:
        return {};
    case ShellAnswer::Late:
        // Its call goes on and may still start the launcher: a second start now could
        // give the user two.
        return "desktop shell: no answer within " + std::to_string(desktopShellDeadlineMs / 1000) +
               " s";
    case ShellAnswer::Refused:
        break;
    }
    // Without a shell, the starter's own token or nothing: ours would give the
    // launcher, and every game it starts, the administrator's rights.
    if (!starterToken)
        return "desktop shell: refused; the starter's rights could not be read";
    const std::string why = startDetached(path, root, starterToken);
    return why.empty() ? why : "desktop shell: refused; " + why;
}

void startLauncher(const std::wstring& targetDir, LauncherRights rights, HANDLE starterToken,
                   DesktopShellStart shell)
{
    logLine(words::preparing);
    // By its full path: the shell would resolve a relative one from a folder of its own.
    const std::wstring root = fullPath(targetDir);
    const std::wstring path = launcherPath(root);
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // Nothing to start, for us or for the user; and the desktop shell, asked for it,
        // would show an error box of its own.
        logMessageAndPath(words::launcherNotStarted,
                          "GetFileAttributesW: " + systemMessage(GetLastError()), path);
    } else {
        const std::string why = startLauncherProcess(path, root, rights, starterToken, shell);
        if (!why.empty()) {
            logMessageAndPath(words::launcherNotStarted, why, path);
            showStartLauncherMessage(path); // the update itself is complete
        }
    }
    logLine(words::launched);
}

void startLauncher(const std::wstring& targetDir, LauncherRights rights, HANDLE starterToken)
{
    startLauncher(targetDir, rights, starterToken, startThroughDesktopShell);
}
