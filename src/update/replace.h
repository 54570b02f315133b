#pragma once

#include "common/unique_any.h"
#include "update/permissions.h"

#include <windows.h>

#include <functional>
#include <string>

// Where one update file goes, as the walk has decided and checked it: its name in the
// folder that is to hold it, reached through that folder's handle.
struct Destination {
    std::wstring shown;             // dest as the user is to see it (the failure message names it)
    HANDLE folder;                  // held open by the walk; null when it could not be opened
    DWORD folderError;              // why not, then: the move fails with this code
    std::wstring exactFolder;       // that folder's path, only to look for copies left behind
    std::wstring name;              // dest's name in that folder
    const FolderSecurity* security; // what files installed into that folder get
    bool flushItself; // the volume cannot be flushed: the new file is, before its move
};

// dest stayed locked (or the update file stayed held) through every try. The log
// already has a line for each try; the run stops with the failure message.
struct FileLocked {
    std::wstring dest; // as the user is to see it
};

// Gives the update file open for its move, or none while another program holds it so
// that it cannot be (the walk checks again what the name leads to).
using OpenUpdateFile = std::function<UniqueFileHandle()>;

// Puts the update file in the place of dest, once dest can be opened for writing, the
// update file can be opened for its move, and the move is not refused (a file that
// another program merely has open cannot be replaced): moved through its handle into
// the held folder, and given that folder's security on the same handle. `updateFile`
// is the walk's handle, or none while the file is held. The old file at dest stays as
// it was unless the new one takes its place. Throws FileLocked when the tries run out,
// FileSystemError when the move fails otherwise.
void replaceFile(const Destination& dest, UniqueFileHandle updateFile,
                 const OpenUpdateFile& openUpdateFile);
