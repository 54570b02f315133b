#pragma once

#include "update/destination.h"
#include "update/signed_list.h"

#include <windows.h>

#include <string>

// Applies the update folder, depth first: every file below it, at any depth, is moved
// to the same place below the root folder, except the updater's own files. A folder
// that `root.boundBy` may not write stops the run before anything lands in it
// (FileSystemError "root_folder" naming it). Throws FileSystemError when a folder cannot be
// listed, an entry cannot be resolved or a move fails, and FileLocked when a file stays locked;
// files already moved stay moved. `signedList`, in a signed-updates build: only the files it names
// are installed, each as it gives it ("Not in the signed list, ignore it" for any other); after the
// walk, each listed file that it did not install must stand in the root as listed, or
// FileSystemError "signed_list" names the first that does not.
void applyUpdateTree(const std::wstring& updateDir, const Destination& root,
                     const SignedList* signedList = nullptr);
