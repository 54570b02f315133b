#include "run/process.h"
#include "run/process_seams.h"

#include "fs/path_text.h"
#include "log/run_log.h"
#include "run/desktop_shell.h"
#include "run/elevation.h"

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

bool hasAdministratorToken(HANDLE process)
{
    UniqueHandle token;
    return OpenProcessToken(process, TOKEN_QUERY | TOKEN_DUPLICATE, token.put()) &&
           isAdministratorToken(token.get());
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
        parent.administrator = hasAdministratorToken(query.get());
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
    logLine("Have parent, killing");
    WaitForSingleObject(parent.get(), INFINITE);
    logLine("Killed");
}

namespace {

// targetDir joined with launcherExeName, as the walk joins a plain name.
std::wstring launcherPath(const std::wstring& targetDir)
{
    return appendPath(targetDir, launcherExeName);
}

} // namespace

void startLauncher(const std::wstring& targetDir, LauncherRights rights)
{
    logLine("Preparing for exe launch");
    const std::wstring path = launcherPath(targetDir);
    // A launcher that is not there is left to the direct start, which fails without a
    // word; the shell would show the user an error of its own.
    if (rights == LauncherRights::SignedInUser &&
        GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES &&
        startThroughDesktopShell(path, targetDir)) {
        logLine("Launched");
        return;
    }
    // The launcher's own path, quoted, as its only element: with no command line
    // Windows would pass the bare path, which splits at every blank into arguments
    // ("Launcher.exe") the launcher was never given.
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                       DETACHED_PROCESS | NORMAL_PRIORITY_CLASS | CREATE_NEW_PROCESS_GROUP, nullptr,
                       targetDir.c_str(), &startup, &started)) {
        // Nobody watches the launcher; its handles are only released.
        UniqueHandle process(started.hProcess);
        UniqueHandle thread(started.hThread);
    }
    logLine("Launched");
}
