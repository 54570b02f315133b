#pragma once

#include <string>

// What the process was given besides its command line.

// The current directory: the update folder the launcher started us in. Throws
// FileSystemError "current_path()".
std::wstring currentDirectory();

// The full path of this executable, however long: the buffer grows from
// `initialCapacity` until the whole path fits.
std::wstring ownModulePath(size_t initialCapacity = 260);
