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

// Starts `program`, with no arguments and `workDir` as its working directory, through
// the desktop shell of the signed-in user: it then runs as that user, with that user's
// rights, whatever ours are. False when no desktop shell answers (none in this
// session), it refuses, or it has not answered within `deadlineMs` (a frozen shell:
// its calls cross processes and have no time limit of their own; they go on, on a
// thread of their own, until the process ends).
bool startThroughDesktopShell(const std::wstring& program, const std::wstring& workDir,
                              DWORD deadlineMs);
