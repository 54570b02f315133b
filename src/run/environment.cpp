#include "run/environment.h"

#include "common/win32_text.h"
#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"

#include <windows.h>

std::wstring currentDirectory()
{
    std::wstring directory;
    if (!queryText(
            [](wchar_t* buffer, DWORD capacity) { return GetCurrentDirectoryW(capacity, buffer); },
            directory))
        throw FileSystemError(operation::currentPath, GetLastError());
    return directory;
}

std::wstring ownModulePath(size_t initialCapacity)
{
    std::wstring path;
    // A path cut short fills the buffer to its end; it would never start.
    queryText([](wchar_t* buffer,
                 DWORD capacity) { return GetModuleFileNameW(nullptr, buffer, capacity); },
              path, initialCapacity > 0 ? initialCapacity : 1);
    return path;
}

bool isOwnExecutable(const std::wstring& image)
{
    return !image.empty() && sameFinalPath(fullPath(image), fullPath(ownModulePath()));
}

bool holdsOwnExecutable(const std::wstring& folder)
{
    return sameFinalPath(weaklyCanonical(folder), weaklyCanonical(parentPath(ownModulePath())));
}
