#pragma once

// The tries given to a file that another program holds (a launcher that has not quite
// ended, an antivirus scan): the first and three more, half a second apart, each with
// its "File not writable!! Tries: N" line (N from 0); after the last, the update stops.

#include <windows.h>

constexpr int lastTry = 3;

// The answers of an open or a rename that another program's handle refused, for now:
// access denied (a file held for deletion, or mapped) and a sharing violation.
inline bool isRefusal(DWORD code)
{
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
}

// Waits the half second between two tries, however early the sleep wakes.
void pauseBeforeNextTry();
