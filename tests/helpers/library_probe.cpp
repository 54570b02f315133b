// Loads a library by its bare name, as Windows' own DLLs do for their dependencies,
// after restricting the search the way Updater.exe does (first argument "restricted")
// or not ("plain"). Exit code 0 when the library loaded.
#include "run/library_search.h"

#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    if (std::wstring(argv[1]) == L"restricted")
        restrictLibrarySearchToSystem();
    return LoadLibraryW(argv[2]) ? 0 : 1;
}
