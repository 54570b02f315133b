#pragma once

#include "common/unique_any.h"
#include "update/durability.h"
#include "update/receiving_folder.h"
#include "update/signed_list.h"
#include "update/update_file.h"

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

// The install of one update file: the administrator's own copy of it takes dest's place
// in a folder that the run holds (receiving_folder.h), with the tries a held dest gets.

// What every install of a run shares.
struct InstallContext {
    std::vector<char> copyBuffer;       // every install's data passes through it, file after file
    Durability durability;              // each copy's flush, and each volume's after the last
    BCRYPT_ALG_HANDLE sha256 = nullptr; // a signed-updates build: hashes each copy
};

// dest stayed locked (or the update file stayed held) through every try. The log
// already has a line for each try; the run stops with the failure message.
class FileLocked : public std::runtime_error {
public:
    explicit FileLocked(std::wstring dest);
    const std::wstring& dest() const noexcept { return dest_; } // as the user is to see it

private:
    std::wstring dest_;
};

// Puts `file` in the place of `name` in `folder` once dest can be opened for writing,
// the update file can be opened for its install, and the rename over dest is not
// refused (a file that another program merely has open cannot be replaced everywhere).
// The new file is the administrator's own: created in the held folder, owned by
// Administrators with the access list that folder passes on, its data copied from the
// update file's handle (which shares no writes) and on the disk (the context's file
// flush) before it takes dest's name. Then the update file is deleted through that
// handle (one on another volume than dest only after the context's volume flush):
// whatever handles others held on it lead to a deleted file, never to the installed one.
// The old file at dest stays as it was unless the new one takes its place. Throws
// FileLocked when the tries run out, FileSystemError when the install fails otherwise.
// `signedAs`, in a signed-updates build: the size and digest the publisher's list gives;
// the bytes copied are hashed (by the context's `sha256`) as they are written, and a
// copy that differs is never installed (FileSystemError "signed_list").
void installFile(const HeldFolder& folder, const std::wstring& name, UpdateFile file,
                 const ListedFile* signedAs, InstallContext& context);
