#pragma once

#include "common/unique_any.h"

#include <windows.h>

#include <string>

// What the process was given besides its command line.

// The current directory: the update folder the launcher started us in. Throws
// FileSystemError "current_path()".
std::wstring currentDirectory();

// The full path of this executable, however long.
std::wstring ownModulePath();

// Whether a program's full path names this executable.
bool isOwnExecutable(const std::wstring& image);

// The working folder, opened and held without delete sharing for as long as the result
// lives (neither it nor a folder above it can then be renamed away or replaced by a
// link), when it is the folder that holds this executable, compared by file identity:
// the update folder is the updater's own, whatever folder it was started in. None
// otherwise. `finalPath` gets where it leads, which names it for the whole run.
UniqueFileHandle holdOwnUpdateFolder(const std::wstring& workingFolder, std::wstring& finalPath);

// Whether a folder's final path ends in "resources\update", the update folder's place
// below the launcher's root, in any letter case.
bool isPlacedAsUpdateFolder(const std::wstring& finalPath);

// The launcher's root as the run reaches it.
struct HeldRoot {
    UniqueFileHandle handle; // held without delete sharing until the run ends
    std::wstring path;       // the update folder's grandparent, by its final path
};

// Holds the folder two levels above the update folder (its final path) once the root
// folder as given (resolved against the working folder) is that very folder: as
// administrator we install below the launcher's own root and nowhere else, whatever a
// command line says. From then on everything below the root is reached through `path`,
// never through the text given: a link given as the root (any user can make one in a
// folder of their own) may be pointed elsewhere while the run waits for the launcher.
// Throws FileSystemError naming the root as given: "weakly_canonical" when it leads to
// nothing (no path when it is empty), "root_folder" when it leads elsewhere.
HeldRoot holdRootAboveUpdateFolder(const std::wstring& targetDir,
                                   const std::wstring& updateFolderFinalPath);
