#pragma once

#include "common/unique_any.h"

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// Names switch only once the data they name is on the disk: a power cut or a crash just
// after a replacing install must not leave a replaced file zero-filled with the old one
// gone. Every new file is flushed through its own handle before it takes its name (it is
// a copy that the run has just written); every volume that received files is flushed
// whole after the last install, so that the names themselves are on the disk before the
// run says it is done.

// Flushes a volume, named by its volume path ("C:\"); false when it cannot be opened
// or flushed (no administrator's volume handle, a share).
bool flushVolume(const std::wstring& volumePath);

// Flushes an open file's data; false when it cannot be.
bool flushFile(HANDLE file);

struct Durability {
    std::vector<std::wstring> volumes; // that received files, each once
    // Update files installed onto another volume than their own, each with its dest as
    // the user knows it: deleted only once the volumes are flushed, since the deletion
    // could reach its disk before the rename reached the other, and a power cut would
    // leave the file in neither place.
    std::vector<std::pair<UniqueFileHandle, std::wstring>> deleteAfterFlush;
    // The flushes themselves. The tests put stand-ins in their place: Wine flushes no
    // volume, and no file system shows whether a file's data reached the disk first.
    std::function<bool(const std::wstring& volumePath)> flushVolume = ::flushVolume;
    std::function<bool(HANDLE file)> flushFile = ::flushFile;
};

// Before an install into `exactFolder`: notes its volume.
void noteMoveInto(Durability& durability, const std::wstring& exactFolder);

// After the last install: flushes every volume noted, best effort, then deletes the
// update files that wait for it. Throws FileSystemError "remove" naming the dest of one
// that cannot be deleted.
void flushAfterLastMove(Durability& durability);
