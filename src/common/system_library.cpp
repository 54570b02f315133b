#include "common/system_library.h"

#include "common/win32_text.h"

#include <string>

HMODULE loadSystemLibrary(const wchar_t* name)
{
    if (const HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
        return module;
    // Windows 7 without its update KB2533623 knows no such flag: the library by its full
    // path in the system folder, whose imports are then looked for there first.
    if (GetLastError() != ERROR_INVALID_PARAMETER)
        return nullptr;
    std::wstring system;
    if (!queryText(
            [](wchar_t* buffer, DWORD capacity) { return GetSystemDirectoryW(buffer, capacity); },
            system))
        return nullptr;
    return LoadLibraryExW((system + L"\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
