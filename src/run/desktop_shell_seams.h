#pragma once

// What the tests reach inside the desktop shell's start, beside its interface
// (desktop_shell.h): Wine's shell always answers, so a frozen one is a stand-in.

#include "run/desktop_shell.h"

#include <windows.h>

#include <string>

// The shell's own calls, made on the worker thread.
using ShellCall = bool (*)(const std::wstring& program, const std::wstring& workDir);

// startThroughDesktopShell with `call` in place of the shell's calls.
ShellAnswer startThroughDesktopShell(const std::wstring& program, const std::wstring& workDir,
                                     DWORD deadlineMs, ShellCall call);
