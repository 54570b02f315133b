#include "run/library_search.h"

#include <windows.h>

void restrictLibrarySearchToSystem()
{
    // Looked up at run time: Windows 7 has the call only with its update KB2533623.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Also takes the current folder out of the search where the call above is missing.
    SetDllDirectoryW(L"");
}
