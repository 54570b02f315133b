#include "run/environment.h"

#include "run/environment_seams.h"

#include "common/unique_any.h"
#include "common/win32_text.h"
#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"
#include "update/in_folder.h"

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

std::wstring ownModulePath()
{
    return ownModulePath(MAX_PATH);
}

bool isOwnExecutable(const std::wstring& image)
{
    return !image.empty() && sameFinalPath(fullPath(image), fullPath(ownModulePath()));
}

UniqueFileHandle holdOwnUpdateFolder(const std::wstring& workingFolder, std::wstring& finalPath)
{
    OpenedFile held = holdFolder(verbatimPath(workingFolder));
    const std::wstring own = parentPath(ownModulePath());
    const UniqueFileHandle ownFolder = openToLook(own, operation::weaklyCanonical, own);
    if (!held.handle || !ownFolder || !isSameFile(held.handle.get(), ownFolder.get()))
        return {};
    finalPath = withRequestedNames(finalPathOf(held.handle.get(), workingFolder),
                                   verbatimPath(workingFolder));
    return std::move(held.handle);
}

bool isPlacedAsUpdateFolder(const std::wstring& finalPath)
{
    const std::wstring resources = parentPath(finalPath);
    return sameName(fileName(finalPath), L"update") && sameName(fileName(resources), L"resources");
}

HeldRoot holdRootAboveUpdateFolder(const std::wstring& targetDir,
                                   const std::wstring& updateFolderFinalPath)
{
    if (targetDir.empty())
        throw FileSystemError(operation::weaklyCanonical, ERROR_PATH_NOT_FOUND);
    const UniqueFileHandle root =
        openToLook(verbatimPath(targetDir), operation::weaklyCanonical, targetDir);
    if (!root)
        throw FileSystemError(operation::weaklyCanonical, ERROR_PATH_NOT_FOUND, targetDir);
    HeldRoot held;
    held.path = parentPath(parentPath(updateFolderFinalPath));
    held.handle = holdFolder(verbatimPath(held.path)).handle;
    if (!held.handle || !isSameFile(root.get(), held.handle.get()))
        throw FileSystemError(operation::rootFolder, ERROR_BAD_PATHNAME, targetDir);
    return held;
}
