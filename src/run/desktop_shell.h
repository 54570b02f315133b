#pragma once

#include <windows.h>

#include <string>

// What became of a start through the desktop shell.
enum class ShellAnswer {
    Started, // the shell took the start
    Refused, // no desktop shell answers in this session, or it refused: nothing started
    Late,    // no answer within the deadline: the call goes on, and may still start it
};

// Starts `program`, with no arguments and `workDir` as its working directory, through
// the desktop shell of the signed-in user: it then runs as that user, with that user's
// rights, whatever ours are. The shell's calls cross processes and have no time limit
// of their own (a frozen shell): they run on a thread of their own, which goes on after
// `deadlineMs` until it returns or the process ends.
ShellAnswer startThroughDesktopShell(const std::wstring& program, const std::wstring& workDir,
                                     DWORD deadlineMs);
