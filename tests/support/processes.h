#pragma once

// How the tests, their helper programs and the benchmark start processes.

#include <windows.h>

#include <string>

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

// An argument in double quotes, as the launcher passes the root folder.
inline std::wstring inQuotes(const std::wstring& argument)
{
    return L"\"" + argument + L"\"";
}
