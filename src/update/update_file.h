#pragma once

#include "common/unique_any.h"

#include <windows.h>

#include <string>

// An update file, as the walk finds it and the install takes it: opened once, for its
// copy and its deletion, and never again by a name that could lead elsewhere.

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
