#pragma once

#include "update/signed_list.h"

#include <string>

// Applies the update folder, depth first: every file below it, at any depth, is moved
// to the same place below the root folder, except the updater's own files. The log
// names each destination below `targetDir` (the root as given); the files land below
// `rootPath` (where it leads, held by the caller). Throws FileSystemError when a folder cannot be
// listed, an entry cannot be resolved or a move fails, and FileLocked when a file stays locked;
// files already moved stay moved. `signedList`, in a signed-updates build: only the files it names
// are installed, each as it gives it ("Not in the signed list, ignore it" for any other); after the
// walk, each listed file that it did not install must stand in the root as listed, or
// FileSystemError "signed_list" names the first that does not.
void applyUpdateTree(const std::wstring& updateDir, const std::wstring& targetDir,
                     const std::wstring& rootPath, const SignedList* signedList = nullptr);
