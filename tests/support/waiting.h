#pragma once

// Every time limit of the tests, and the one way they wait for something to hold.

#include <windows.h>

// A limit multiplied by the factor that the environment variable QLU_TIME_FACTOR gives
// (default 1; a loaded CI host may set 3): a limit only catches a run that would never
// end, and must not fail one that is merely slow.
DWORD scaledTimeout(DWORD milliseconds);

// Waits for `milliseconds` (scaled) in which something must not happen (a second
// launcher, a file changed, a process gone): a loaded host gets the longer time that it
// needs to show what a quiet one shows sooner.
void quietPeriod(DWORD milliseconds);

// Polls until `done` holds; false when it does not within the time limit (scaled). A
// limit of 0 looks once.
template <typename Done> bool waitUntil(Done done, DWORD timeoutMs = 10000)
{
    const ULONGLONG end = GetTickCount64() + scaledTimeout(timeoutMs);
    for (; !done(); Sleep(20)) {
        if (GetTickCount64() >= end)
            return false;
    }
    return true;
}
