#pragma once

#include "common/unique_any.h"

#include <objbase.h>

#include <windows.h>

#include <string>

// This thread's membership of a single-threaded COM apartment, left when it ends.
// ShellExecuteW (the elevation request) and the desktop shell both ask their callers
// for one; it is entered only around those calls, since a member thread must pump
// messages and the run's long waits do not.
inline void leaveComApartment(int)
{
    CoUninitialize();
}
using ComApartment = UniqueAny<int, &leaveComApartment>;
ComApartment enterComApartment();

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
