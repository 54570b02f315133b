#pragma once

#include "update/permissions.h"

#include <string>

// What the walk has already resolved through the file system for one update file, so
// that the replacement asks nothing twice. Final paths, shown without the verbatim
// prefix.
struct Resolved {
    std::wstring source;            // the update file's final path
    std::wstring root;              // the root folder's final path
    std::wstring updateFolder;      // the update folder's final path
    std::wstring destFolder;        // the final path of the folder that is to hold dest
    const FolderSecurity* security; // what files installed into that folder get
    HANDLE opened; // the update file itself, open for its move and its security, or null
};

// dest stayed locked (or the update file stayed held) through every try. The log
// already has a line for each try; the run stops with the failure message.
struct FileLocked {
    std::wstring dest; // as the user is to see it
};

// Puts source in the place of dest, once dest can be opened for writing and source
// can be moved. Both are exact (verbatim) paths. Returns with the file in place, or,
// when dest leads outside the root, into the update folder, or is the update file
// itself, with nothing changed. The old file at dest stays as it was unless the new
// one takes its place. Throws FileLocked when the tries run out, FileSystemError when
// the move fails.
void replaceFile(const std::wstring& source, const std::wstring& dest, const Resolved& resolved);
