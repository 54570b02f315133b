#pragma once

// What the tests reach inside process control, beside its interface (process.h).

#include "run/desktop_shell.h"
#include "run/process.h"

#include <windows.h>

#include <string>

// Whether a process could have started this one: it was created no later than we were.
// A process whose creation time cannot be read is given the benefit of the doubt.
bool createdNoLaterThanUs(HANDLE process);

// startLauncher (process.h) with a stand-in for the desktop shell: Wine starts a shell
// whenever one is asked for, so neither a missing nor a frozen one can be shown there.
using DesktopShellStart = ShellAnswer (*)(const std::wstring& program, const std::wstring& workDir,
                                          DWORD deadlineMs);
void startLauncher(const std::wstring& targetDir, LauncherRights rights, HANDLE starterToken,
                   DesktopShellStart shell);

// The start itself, of the launcher that stands at its full `path`, in `root`: why none
// runs (the call and the system's words), or "" where one was started. Neither logs
// nor tells the user.
std::string startLauncherProcess(const std::wstring& path, const std::wstring& root,
                                 LauncherRights rights, HANDLE starterToken,
                                 DesktopShellStart shell);

// How long the desktop shell has to answer.
constexpr DWORD desktopShellDeadlineMs = 5000;
