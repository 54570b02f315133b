#pragma once

#include "common/unique_any.h"

#include <windows.h>

#include <string>

// Files reached through a folder that the run holds open, by their bare name in it.
// Whatever is done to the folder's path meanwhile (a folder above renamed, a link put
// where it stood), these reach the folder that was checked, or fail: never a place
// elsewhere that a name has come to lead to.

// Opens a folder for holding: links on the way followed, and without delete sharing,
// so that nobody can rename or remove it (or a folder above it) while it is held.
// Gives none, with the Windows error code in `error`, when it cannot be opened.
UniqueFileHandle holdFolder(const std::wstring& exactPath, DWORD& error);

// What openInFolder does with the name (the native API's FILE_OPEN and FILE_CREATE).
enum class Disposition : unsigned long { OpenExisting = 1, CreateNew = 2 };

// Opens the file `name` in `folder` (NtCreateFile relative to the folder's handle); a
// link at the name is opened itself, not followed. Gives none, with the Windows error
// code in `error`.
UniqueFileHandle openInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access,
                              DWORD share, Disposition disposition, DWORD& error);

// Renames an open file (opened with DELETE access) to `name` in `folder`, replacing a
// file that stands there. Gives ERROR_SUCCESS or the Windows error code.
DWORD renameIntoFolder(HANDLE file, HANDLE folder, const std::wstring& name);

// Marks an open file (opened with DELETE access) for deletion when its last handle closes.
bool deleteOpened(HANDLE file);
