#pragma once

#include "common/unique_any.h"
#include "update/signed_list.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Where one update file goes, as the walk has decided and checked it: its name in the
// folder that is to hold it, reached through that folder's handle.
struct Destination {
    std::wstring shown;     // dest as the user is to see it (the failure message names it)
    std::wstring exact;     // dest's exact path, only to name it in a question of identity
    std::wstring canonical; // where dest leads: the held folder's final path and the name
    HANDLE folder;          // held open by the walk; null when it could not be opened
    DWORD folderError;      // why not, then: the install fails with this code
    std::wstring name;      // dest's name in that folder
};

// dest stayed locked (or the update file stayed held) through every try. The log
// already has a line for each try; the run stops with the failure message.
struct FileLocked {
    std::wstring dest; // as the user is to see it
};

// Gives the update file open for its install, or none while another program holds it
// so that it cannot be (the walk checks again what the name leads to).
using OpenUpdateFile = std::function<UniqueFileHandle()>;

// Puts a new file in the place of dest, once dest can be opened for writing, the update
// file can be opened for its install, and the rename over dest is not refused (a file
// that another program merely has open cannot be replaced everywhere). The new file is
// the administrator's own: created in the held folder, owned by Administrators with
// the access list that folder passes on, its data copied from the walk's handle (which
// shares no writes) and on the disk before it takes dest's name. Then the update file
// is deleted through that handle: whatever handles others held on it lead to a deleted
// file, never to the installed one. `updateFile` is the walk's handle, or none while
// the file is held. `copyBuffer` carries the data, file after file. The old file at dest
// stays as it was unless the new one takes its place. Throws FileLocked when the tries
// run out, FileSystemError when the install fails otherwise.
// `signedAs`, in a signed-updates build: the size and digest the publisher's list gives;
// the bytes copied are hashed as they are written, and a copy that differs is never
// installed (FileSystemError "signed_list"). `sha256` hashes them.
void replaceFile(const Destination& dest, UniqueFileHandle updateFile,
                 const OpenUpdateFile& openUpdateFile, std::vector<char>& copyBuffer,
                 const ListedFile* signedAs = nullptr, BCRYPT_ALG_HANDLE sha256 = nullptr);

// Deletes the copies that a run ended from outside left in a folder that is to receive
// files (they may be large): each a plain file with one name, at its own place in the
// folder, under a name that only the updater gives. `exactFolder` lists the folder,
// `canonicalFolder` is where the held `folder` leads.
void removeCopiesLeftIn(HANDLE folder, const std::wstring& exactFolder,
                        const std::wstring& canonicalFolder);
