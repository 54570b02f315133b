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

// The updater's whole command line: its own path (quoted; a path never holds a quote,
// and CommandLineToArgvW takes the program's name without escapes), the root folder,
// then the further arguments, each quoted.
inline std::wstring updaterCommandLine(const std::wstring& updater, const std::wstring& rootFolder,
                                       const std::vector<std::wstring>& furtherArguments = {})
{
    std::wstring commandLine = L"\"" + updater + L"\" " + quoteArgument(rootFolder);
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

// A file of the update, at any depth, that is not one of the updater's own (whose
// name without extension is "Updater", as the updater itself decides).
inline bool holdsUpdateFile(const std::wstring& folder)
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
                    holdsUpdateFile(folder + L"\\" + name);
        } else {
            const size_t dot = name.find_last_of(L'.');
            const std::wstring stem =
                dot == 0 || dot == std::wstring::npos ? name : name.substr(0, dot);
            found = stem != L"Updater";
        }
    } while (!found && FindNextFileW(find.handle, &entry));
    return found;
}

} // namespace detail

// Whether an update is waiting: the updater in resources\update, with at least one file
// to apply beside it. The updater leaves its own files (Updater.exe, Updater.log) in
// place when it is done, so their presence alone would start it again at every launch.
inline bool updateWaiting(const std::wstring& rootFolder)
{
    const DWORD attributes = GetFileAttributesW(updaterPath(rootFolder).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           detail::holdsUpdateFile(updateFolder(rootFolder));
}

// Starts the updater and lets it go. Returns ERROR_SUCCESS, or the Windows error code
// of the failed start. After a success the launcher must end soon, by itself: the
// updater touches no file while the launcher runs.
// - The working directory is the updater's own folder: that is the folder the updater
//   applies and writes its log to, whatever folder the launcher runs in.
// - No handle is inherited: an inherited handle to one of the launcher's files would
//   keep that file open after the launcher has ended, and its replacement would fail.
// - Both handles CreateProcessW gives back are closed at once: the launcher does not
//   wait for the updater (the updater waits for the launcher).
inline DWORD startUpdater(const std::wstring& rootFolder, const std::wstring& updater,
                          const std::vector<std::wstring>& furtherArguments = {})
{
    const size_t separator = updater.find_last_of(L"\\/");
    if (separator == std::wstring::npos)
        return ERROR_BAD_PATHNAME; // a relative name would depend on our own folder
    const std::wstring workingDirectory =
        updater.substr(0, separator == 2 && updater[1] == L':' ? 3 : separator);
    std::wstring commandLine = updaterCommandLine(updater, rootFolder, furtherArguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(updater.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workingDirectory.c_str(), &startup, &started))
        return GetLastError();
    const detail::ScopedHandle process{started.hProcess, &CloseHandle};
    const detail::ScopedHandle thread{started.hThread, &CloseHandle};
    return ERROR_SUCCESS;
}

} // namespace qorvath
