#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Names switch only once the data they name is on the disk: a power cut or a crash just
// after a replacing move must not leave a replaced file zero-filled with the old one
// gone. A volume is flushed whole before its first replacement and again after the last
// move; on a volume that cannot be flushed (no administrator's volume handle, a share),
// each new file is flushed through its own handle before its move instead.

// Flushes a volume, named by its volume path ("C:\"); false when it cannot be opened
// or flushed.
bool flushVolume(const std::wstring& volumePath);

struct Durability {
    // How a volume is flushed: flushVolume, or a test's stand-in where no volume can be.
    std::function<bool(const std::wstring& volumePath)> flush = flushVolume;
    std::vector<std::wstring> flushedVolumes;     // flushed before their first move
    std::vector<std::wstring> unflushableVolumes; // their files are flushed one by one
};

// Before a move into `exactFolder`: flushes its volume the first time. True when the
// volume could not be flushed, so that the new file must be flushed itself.
bool prepareMoveInto(Durability& durability, const std::wstring& exactFolder);

// After the last move: flushes again every volume that was flushed before.
void flushAfterLastMove(Durability& durability);

// Flushes an open file's data, best effort: false when it cannot be.
bool flushFile(HANDLE file);
