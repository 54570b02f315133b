#pragma once

#include "common/unique_any.h"

#include <windows.h>

#include <optional>
#include <string>

// Files reached through a folder that the run holds open, by their bare name in it.
// Whatever is done to the folder's path meanwhile (a folder above renamed, a link put
// where it stood), these reach the folder that was checked, or fail: never a place
// elsewhere that a name has come to lead to.

// Opens a folder for holding: links on the way followed, and without delete sharing,
// so that nobody can rename or remove it (or a folder above it) while it is held.
// Gives none, with the Windows error code, when it cannot be opened.
OpenedFile holdFolder(const std::wstring& exactPath);

// What openInFolder does with the name (the native API's FILE_OPEN and FILE_CREATE).
enum class Disposition : unsigned long { OpenExisting = 1, CreateNew = 2 };

// Opens the file `name` in `folder` (NtCreateFile relative to the folder's handle); a
// link at the name is opened itself, not followed. `owner`, when given, owns a file
// that is created. Gives none, with the Windows error code, when it cannot be opened.
OpenedFile openInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access, DWORD share,
                        Disposition disposition, PSID owner = nullptr);

// Holds the folder `name` in `folder` as holdFolder does, making it where nothing
// stands there and `make` says so (owned by `owner`, when given, with the access list
// that `folder` passes on); `made` tells whether it was. A link at the name is opened
// itself, not followed, where the system can. Gives none, with the Windows error code,
// when it cannot be opened or made (ERROR_DIRECTORY: a file stands there).
OpenedFile holdFolderIn(HANDLE folder, const std::wstring& name, bool make, PSID owner, bool& made);

// Renames an open file (opened with DELETE access) to `name` in `folder`, replacing a
// file that stands there even while others have it open (POSIX semantics) and even
// when it is read-only. Gives ERROR_SUCCESS or the Windows error code of a refusal
// (access denied, sharing violation, delete pending) or of another volume; none when
// the system or the volume has no such rename, so that renameReplacing must serve.
std::optional<DWORD> renameReplacingAnyFile(HANDLE file, HANDLE folder, const std::wstring& name);

// The same with the rename that every Windows has: a read-only file, or one that
// another program has open, at `name` refuses it. Gives ERROR_SUCCESS or the code.
DWORD renameReplacing(HANDLE file, HANDLE folder, const std::wstring& name);

// Marks an open file (opened with DELETE access, and FILE_WRITE_ATTRIBUTES where the
// system has no deletion that ignores the read-only attribute) for deletion: its name
// goes at once where the system allows it, its data with the last handle. A read-only
// file is deleted too. False, with the thread's last error, when it cannot be.
bool deleteOpened(HANDLE file);

// Sets an open file's attributes, its times left as they are. False when it cannot.
bool setAttributesOf(HANDLE file, DWORD attributes);
