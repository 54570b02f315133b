#include "support/waiting.h"

#include <cwchar>

DWORD scaledTimeout(DWORD milliseconds)
{
    static const double factor = [] {
        wchar_t text[32] = {};
        const DWORD length = GetEnvironmentVariableW(L"QLU_TIME_FACTOR", text, 32);
        const double value = length > 0 && length < 32 ? std::wcstod(text, nullptr) : 1.0;
        return value >= 1.0 ? value : 1.0;
    }();
    const double scaled = milliseconds * factor;
    return scaled >= 4.0e9 ? INFINITE - 1 : static_cast<DWORD>(scaled);
}

void quietPeriod(DWORD milliseconds)
{
    Sleep(scaledTimeout(milliseconds));
}
