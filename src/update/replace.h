#pragma once

#include <string>

// What the walk has already resolved through the file system for one update file, so
// that the replacement asks nothing twice.
struct Resolved {
    std::wstring source;     // the update file's final path
    std::wstring root;       // the root folder's final path
    std::wstring destFolder; // the final path of the folder that is to hold dest
};

// Puts source in the place of dest, once dest can be opened for writing. Returns
// with the file in place, or, when dest leads outside the root or is the update file
// itself, with nothing changed; when dest stays locked through every try, or removing
// or moving fails, tells the user and ends the process with exit code 1.
void replaceFile(const std::wstring& source, const std::wstring& dest, const Resolved& resolved);
