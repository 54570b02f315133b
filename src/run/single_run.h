#pragma once

#include "common/unique_any.h"

#include <string>

// One elevated run per update folder at a time: a launcher started twice (a double
// click) starts two updaters, which would empty one log, walk one tree and race for
// every file.

inline void releaseAndClose(HANDLE mutex)
{
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
using OwnedMutex = UniqueAny<HANDLE, &releaseAndClose>;

// Claims the update folder (named by its final path) for this run, for as long as the
// result lives. When another run has it, waits until that one has ended and gives
// none: that run applies the update and starts the launcher. A claim that cannot be
// made at all (no such object can be created) lets the run go on alone.
OwnedMutex claimUpdateFolder(const std::wstring& canonicalUpdateDir, bool& anotherRunHadIt);
