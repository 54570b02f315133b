#pragma once

// How every test helper starts a process.

#include <windows.h>

// Wine now and then fails a process creation under load with ERROR_INTERNAL_ERROR
// (1359); that is no fault of the program being started, so the creation is tried
// again a few times. `create` makes one attempt and returns the Win32 result; the
// last error of the final attempt is left for the caller.
template <typename Create> BOOL createProcessRetrying(Create create)
{
    for (int attempt = 1;; ++attempt) {
        if (create())
            return TRUE;
        const DWORD code = GetLastError();
        if (code != ERROR_INTERNAL_ERROR || attempt == 5)
            return FALSE;
        Sleep(100 * attempt);
        SetLastError(code);
    }
}
