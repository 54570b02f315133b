#pragma once

#include <string>

// What the process was given besides its command line.

// The current directory: the update folder the launcher started us in. Throws
// FileSystemError "current_path()".
std::wstring currentDirectory();

// The full path of this executable, however long: the buffer grows from
// `initialCapacity` until the whole path fits.
std::wstring ownModulePath(size_t initialCapacity = 260);

// Whether a program's full path names this executable.
bool isOwnExecutable(const std::wstring& image);

// Whether a folder is the one that holds this executable, compared by where both lead:
// the update folder is the updater's own, whatever folder it was started in. Throws
// FileSystemError "weakly_canonical" when either cannot be resolved.
bool holdsOwnExecutable(const std::wstring& folder);
