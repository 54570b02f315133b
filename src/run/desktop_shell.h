#pragma once

#include "common/unique_any.h"

#include <objbase.h>

#include <string>

// This thread's membership of a single-threaded COM apartment, left when it ends.
// ShellExecuteW (the elevation request) and the desktop shell both ask their callers
// for one.
inline void leaveComApartment(int)
{
    CoUninitialize();
}
using ComApartment = UniqueAny<int, &leaveComApartment>;
ComApartment enterComApartment();

// Starts `program`, with no arguments and `workDir` as its working directory, through
// the desktop shell of the signed-in user: it then runs as that user, with that user's
// rights, whatever ours are. False when no desktop shell answers (none in this
// session) or it refuses.
bool startThroughDesktopShell(const std::wstring& program, const std::wstring& workDir);
