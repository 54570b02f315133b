#pragma once

#include <string>

// Applies one folder of the update, depth first: every file below it, at any depth,
// is moved to the same place below targetDir, except the updater's own files (stem
// "Updater"). Throws FileSystemError when a folder cannot be listed or an entry
// cannot be resolved; a file that cannot be replaced ends the process instead.
void applyUpdateTree(std::wstring dir);

// Whether a listed entry leads to a folder, links followed. The listing's attributes
// answer for everything but links; a link whose target is missing, or whose kind
// cannot be told, counts as a file. Throws FileSystemError "directory_entry::status".
bool leadsToFolder(const std::wstring& path, unsigned long listedAttributes);
