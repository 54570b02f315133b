#pragma once

#include <string>

// Where an update file may land, decided on final paths alone: the walk reads them
// through the handles it holds and asks here. As administrator we write nowhere but
// below the root, and never over the update that is still to be applied.
struct Placement {
    std::wstring dest;         // where dest leads: its held folder's final path and its name
    std::wstring root;         // the root's final path
    std::wstring updateFile;   // where the update file leads
    std::wstring updateFolder; // the update folder's final path
};

// The refusal's log line ("Outside of target, ignore it", "Same file, ignore it",
// "Inside the update folder, ignore it"), or null when the file may land at dest.
const char* refusalOf(const Placement& placement);
