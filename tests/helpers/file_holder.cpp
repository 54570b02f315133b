// Holds a file open without sharing for a while, as a running launcher holds its own
// files: file_holder.exe <path> <milliseconds>.
#include "common/unique_any.h"

#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    const UniqueFileHandle file(CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return 1;
    Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    return 0;
}
