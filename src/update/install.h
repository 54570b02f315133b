#pragma once

#include "common/unique_any.h"
#include "update/durability.h"
#include "update/signed_list.h"

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

// The install of one update file: the administrator's own copy of it takes dest's place
// in a folder that the run holds. Two objects meet there, each checked before: the
// folder that receives, and the update file.

// A folder that is to receive update files, held open from its check until the walk
// moves on: the files land in the folder that was checked.
struct HeldFolder {
    std::wstring exact;              // as it was opened: verbatim, exact names
    UniqueFileHandle handle;         // none when it cannot be opened
    DWORD openError = ERROR_SUCCESS; // why not, then: every install into it fails so
    std::wstring canonical;          // where the handle leads
    bool receives = false;           // readyToReceive has been done
};

// Holds the folder at `exact` (no delete sharing); where it leads is read on that handle.
// A folder that cannot be opened gives a HeldFolder without a handle: nothing can land
// there, and each install into it fails with the open's code.
HeldFolder holdDestFolder(const std::wstring& exact);

// Once per folder, before its first install: deletes the copies that a run ended from
// outside left in it (they may be large; each a plain file with one name, at its own
// place in the folder, under a name that only the updater gives), and notes its volume
// for the flush after the last install. Nothing for a folder without a handle.
void readyToReceive(HeldFolder& folder, Durability& durability);

// One file of the update, as the walk found it.
struct UpdateFile {
    std::wstring exact;     // verbatim path, exact names: below its folder's final path
    std::wstring shown;     // as the log shows it
    std::wstring canonical; // where it leads
    // A plain file with one name, reached by its own name: the only kind that is
    // installed. A link, or a name of a file that has others (a DLL of another
    // program), is not ours, wherever it leads.
    bool ours = false;
    // Open for all the install does with it: its copy and its deletion. None while
    // another program holds it so that it cannot be opened so (reopen tries again).
    UniqueFileHandle opened;
};

// The update file listed as `name` in the walked folder whose final path is
// `canonicalFolder`, at `exact`. Opened for its install, which reads it and then deletes
// it: readers may stay, writers may not, so that the data installed is the data checked.
// Throws FileSystemError "rename" (without its path in the log) when it is refused
// outright (its owner has denied administrators), "weakly_canonical" when a link there
// cannot be looked at.
UpdateFile openUpdateFile(const std::wstring& exact, const std::wstring& shown,
                          const std::wstring& canonicalFolder, const std::wstring& name);

// The update file opened again, when its name still leads to the file that was checked
// (it may lead elsewhere by now); none otherwise, or while another program holds it.
UniqueFileHandle reopen(const UpdateFile& file);

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
// update file's handle (which shares no writes) and on the disk (`durability`'s file
// flush) before it takes dest's name. Then the update file is deleted through that
// handle (one on another volume than dest only after `durability`'s volume flush):
// whatever handles others held on it lead to a deleted file, never to the installed one.
// `copyBuffer` carries the data, file after file. The old file at dest stays as it was unless the
// new one takes its place. Throws FileLocked when the tries run out, FileSystemError when the
// install fails otherwise. `signedAs`, in a signed-updates build: the size and digest the
// publisher's list gives; the bytes copied are hashed (by `sha256`) as they are written, and a copy
// that differs is never installed (FileSystemError "signed_list").
void installFile(const HeldFolder& folder, const std::wstring& name, UpdateFile file,
                 std::vector<char>& copyBuffer, Durability& durability,
                 const ListedFile* signedAs = nullptr, BCRYPT_ALG_HANDLE sha256 = nullptr);
