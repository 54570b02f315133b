// The launcher's side of an update: starting Updater.exe right, and telling whether
// an update is waiting. Header only, C++17, Windows headers only; MSVC and MinGW.
//
//     if (qorvath::updateWaiting(rootFolder)) {
//         const DWORD error = qorvath::startUpdater(rootFolder, qorvath::updaterPath(rootFolder));
//         if (error == ERROR_SUCCESS)
//             return 0; // end the launcher now: the updater waits for it
//     }
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <vector>

namespace qorvath {

namespace detail {

// Closes a handle at the end of its scope, whichever way the scope is left.
struct ScopedHandle {
    HANDLE handle;
    BOOL(WINAPI* close)(HANDLE);
    ScopedHandle(HANDLE owned, BOOL(WINAPI* closer)(HANDLE)) : handle(owned), close(closer) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle()
    {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
            close(handle);
    }
};

} // namespace detail

// One argument quoted so that CommandLineToArgvW, which the updater splits its command
// line with, gives it back exactly. Always quoted: a root folder with a blank is the
// usual case, and an empty argument must still count. Backslashes are literal except
// before a quote, so only a run of them that ends at a quote (or at the closing quote
// we add) is doubled; a quote inside is escaped. "C:\Games\" written by hand loses its
// closing quote to the backslash; this writes "C:\Games\\".
inline std::wstring quoteArgument(const std::wstring& argument)
{
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Before a quote, every backslash doubled and one more to escape the quote.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

namespace detail {

// The full path of `path` from the current folder; empty where there is none.
inline std::wstring fullPath(const std::wstring& path)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size ? GetFullPathNameW(path.c_str(), size, &full[0], nullptr) : 0;
    if (length == 0 || length >= size)
        return {};
    full.resize(length);
    return full;
}

inline bool onDrive(const std::wstring& path)
{
    return path.size() >= 2 && path[1] == L':' &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

inline bool isSeparator(const std::wstring& path, size_t at)
{
    return at < path.size() && (path[at] == L'\\' || path[at] == L'/');
}

// A relative root ("game", "..\game", "X:game", "\game") made full from the launcher's
// current folder: the updater runs in another one, and refuses it. A drive alone ("X:")
// and a full path stay as they are.
inline std::wstring fullRoot(const std::wstring& rootFolder)
{
    const bool driveAlone =
        onDrive(rootFolder) && rootFolder.find_first_not_of(L"\\/", 2) == std::wstring::npos;
    const bool full = (onDrive(rootFolder) && isSeparator(rootFolder, 2)) ||
                      (isSeparator(rootFolder, 0) && isSeparator(rootFolder, 1));
    const std::wstring made = driveAlone || full ? std::wstring() : fullPath(rootFolder);
    return made.empty() ? rootFolder : made;
}

} // namespace detail

// The root folder as the updater is to take it. A drive's root must keep its backslash:
// "X:" alone means the current folder of drive X: (the updater's own, which is the
// update folder), so that nothing would be applied and the launcher started would be the
// copy that is still to be installed. "X:", "X:\" and "X:\\" all become "X:\"; any
// other folder is passed as it is.
inline std::wstring rootArgument(const std::wstring& rootFolder)
{
    const bool drive = detail::onDrive(rootFolder) &&
                       rootFolder.find_first_not_of(L"\\/", 2) == std::wstring::npos;
    return drive ? rootFolder.substr(0, 2) + L"\\" : rootFolder;
}

// The updater's whole command line: its own path (quoted; a path never holds a quote,
// and CommandLineToArgvW takes the program's name without escapes), the root folder
// (see rootArgument), then the further arguments, each quoted.
inline std::wstring updaterCommandLine(const std::wstring& updater, const std::wstring& rootFolder,
                                       const std::vector<std::wstring>& furtherArguments = {})
{
    std::wstring commandLine = L"\"" + updater + L"\" " + quoteArgument(rootArgument(rootFolder));
    for (const std::wstring& argument : furtherArguments)
        commandLine += L" " + quoteArgument(argument);
    return commandLine;
}

// Where the updater waits: root\resources\update\Updater.exe.
inline std::wstring updateFolder(const std::wstring& rootFolder)
{
    const bool separated =
        !rootFolder.empty() && (rootFolder.back() == L'\\' || rootFolder.back() == L'/');
    return rootFolder + (separated ? L"" : L"\\") + L"resources\\update";
}

inline std::wstring updaterPath(const std::wstring& rootFolder)
{
    return updateFolder(rootFolder) + L"\\Updater.exe";
}

namespace detail {

// The form of a path that Windows passes on as written, with no MAX_PATH limit
// ("\\?\C:\..." or "\\?\UNC\server\share\..."), made from its full path.
inline std::wstring longPath(const std::wstring& path)
{
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path;
    const std::wstring full = fullPath(path);
    if (full.empty())
        return path;
    if (full.rfind(L"\\\\", 0) == 0)
        return full.rfind(L"\\\\.\\", 0) == 0 ? full : L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

inline ULONGLONG asNumber(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The last run's log: when it was last written, and whether that run applied the whole
// update: its log reaches "Preparing for exe launch", the line the updater writes once
// its walk is done, just before it starts the launcher; "Launched" and "All done,
// exiting" follow, and a launcher that it started may look before they are written.
// Between the first two may stand one "Launcher not started: " line: the update was
// complete, only the launcher's start failed (and the user was asked to start it).
// False when there is no log.
inline bool lastRun(const std::wstring& log, ULONGLONG& lastWritten, bool& completed)
{
    const ScopedHandle file{CreateFileW(log.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                            &CloseHandle};
    FILETIME written;
    if (file.handle == INVALID_HANDLE_VALUE ||
        !GetFileTime(file.handle, nullptr, nullptr, &written))
        return false;
    lastWritten = asNumber(written);
    const std::string walked = "Preparing for exe launch\r\n";
    const std::string notStarted = "Launcher not started: ";
    const std::string end = "Launched\r\nAll done, exiting\r\n";
    // Enough for the three lines and a "Launcher not started" line of the longest path
    // (32767 characters, each backslash doubled in the log).
    const LONGLONG longestTail = 70000;
    LARGE_INTEGER size = {};
    GetFileSizeEx(file.handle, &size);
    const LONGLONG tailLength = size.QuadPart < longestTail ? size.QuadPart : longestTail;
    std::string tail(static_cast<size_t>(tailLength), '\0');
    DWORD read = 0;
    LARGE_INTEGER from = {};
    from.QuadPart = -tailLength;
    if (tailLength == 0 || !SetFilePointerEx(file.handle, from, nullptr, FILE_END) ||
        !ReadFile(file.handle, &tail[0], static_cast<DWORD>(tailLength), &read, nullptr))
        read = 0;
    tail.resize(read);
    // The log's last lines are "Preparing for exe launch" and what follows it in order.
    // A value never starts a line (a line break in a name is logged as '?').
    const size_t at = tail.rfind(walked);
    completed = at != std::string::npos && (at == 0 || tail[at - 1] == '\n');
    size_t rest = at + walked.size();
    if (completed && tail.compare(rest, notStarted.size(), notStarted) == 0) {
        const size_t lineEnd = tail.find("\r\n", rest);
        completed = lineEnd != std::string::npos;
        rest = lineEnd + 2;
    }
    completed = completed && end.compare(0, tail.size() - rest, tail, rest, std::string::npos) == 0;
    return true;
}

// A file of the update, at any depth, that is not one of the updater's own (whose
// name without extension is "Updater", as the updater itself decides) and that was
// created after `since` (0: whenever).
inline bool holdsUpdateFile(const std::wstring& folder, ULONGLONG since)
{
    WIN32_FIND_DATAW entry;
    const ScopedHandle find{FindFirstFileW((folder + L"\\*").c_str(), &entry), &FindClose};
    if (find.handle == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A link to a folder is not followed: what it leads to is no download.
            found = !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                    holdsUpdateFile(folder + L"\\" + name, since);
        } else {
            const size_t dot = name.find_last_of(L'.');
            const std::wstring stem =
                dot == 0 || dot == std::wstring::npos ? name : name.substr(0, dot);
            found = stem != L"Updater" && asNumber(entry.ftCreationTime) > since;
        }
    } while (!found && FindNextFileW(find.handle, &entry));
    return found;
}

} // namespace detail

// Whether an update is waiting: the updater in resources\update, and beside it a file
// that is not the updater's own (any name but "Updater" with some extension) and that
// the last run has not dealt with. That is, either the last run did not complete (there
// is no Updater.log, or it does not end with "Preparing for exe launch" and what follows
// it, "Launched" and "All done, exiting", with at most a "Launcher not started" line
// between: the files it left are still to be applied), or
// the file was created after that log was last written (the launcher has put a new
// update there since). Where the updater could not write its log, Updater.done, when it
// is newer, tells the same of the last run. The updater leaves some files in place on
// purpose (files meant for the update folder itself, links, names it refuses): after a
// complete run they start nothing, so that the launcher and the updater never start each
// other for ever. A launcher's downloader must therefore give every file it puts there
// its own creation time: it must not set a file's creation time into the past (from an
// archive, or a server's time), or the file may go unnoticed until the next update.
inline bool updateWaiting(const std::wstring& rootFolder)
{
    const std::wstring folder = detail::longPath(updateFolder(rootFolder));
    const DWORD attributes = GetFileAttributesW((folder + L"\\Updater.exe").c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    // Where the updater could not write its log (another program held it), it marks its
    // run's end in Updater.done instead: the newer of the two tells of the last run. A
    // mark dated in the future was put there by somebody else, and tells of no run.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULONGLONG lastWritten = 0;
    bool completed = false;
    if (!detail::lastRun(folder + L"\\Updater.log", lastWritten, completed))
        completed = false;
    ULONGLONG markWritten = 0;
    bool marked = false;
    if (detail::lastRun(folder + L"\\Updater.done", markWritten, marked) &&
        markWritten > lastWritten && markWritten <= detail::asNumber(now)) {
        lastWritten = markWritten;
        completed = marked;
    }
    return detail::holdsUpdateFile(folder, completed ? lastWritten : 0);
}

// Starts the updater and lets it go. Returns ERROR_SUCCESS, or the Windows error code
// of the failed start. After a success the launcher must end soon, by itself: the
// updater touches no file while the launcher runs.
// - A relative root is made full from our current folder (the updater runs in another).
// - The working directory is the updater's own folder: that is the folder the updater
//   applies and writes its log to, whatever folder the launcher runs in.
// - No handle is inherited: an inherited handle to one of the launcher's files would
//   keep that file open after the launcher has ended, and its replacement would fail.
// - Both handles CreateProcessW gives back are closed at once: the launcher does not
//   wait for the updater (the updater waits for the launcher).
// - The updater may take the foreground: it has no window of its own, and its boxes
//   (the retry prompt, the failure message) would otherwise only flash in the taskbar
//   behind the launcher, which is still in the foreground when it starts the updater.
inline DWORD startUpdater(const std::wstring& rootFolder, const std::wstring& updater,
                          const std::vector<std::wstring>& furtherArguments = {})
{
    const size_t separator = updater.find_last_of(L"\\/");
    if (separator == std::wstring::npos)
        return ERROR_BAD_PATHNAME; // a relative name would depend on our own folder
    const std::wstring workingDirectory =
        updater.substr(0, separator == 2 && updater[1] == L':' ? 3 : separator);
    std::wstring commandLine =
        updaterCommandLine(updater, detail::fullRoot(rootFolder), furtherArguments);
    // Suspended until it may take the foreground, so that it cannot ask for it sooner.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(updater.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, workingDirectory.c_str(), &startup, &started))
        return GetLastError();
    const detail::ScopedHandle process{started.hProcess, &CloseHandle};
    const detail::ScopedHandle thread{started.hThread, &CloseHandle};
    AllowSetForegroundWindow(started.dwProcessId); // best effort: the launcher may not have it
    if (ResumeThread(started.hThread) == static_cast<DWORD>(-1)) {
        const DWORD error = GetLastError();
        TerminateProcess(started.hProcess, 1);
        return error;
    }
    return ERROR_SUCCESS;
}

} // namespace qorvath
