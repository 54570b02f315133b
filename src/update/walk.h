#pragma once

#include "update/signed_list.h"

#include <windows.h>

#include <string>

// The root folder, as the walk installs into it.
struct Destination {
    std::wstring shown; // as given: the log names each destination below it
    std::wstring path;  // where it leads, held by the caller: the files land below it
    // An access-check token (write_rights.h) where the root is not the administrators'
    // own: only folders where it may add and delete files receive any. None: every
    // folder below the root does.
    HANDLE boundBy = nullptr;
};

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
