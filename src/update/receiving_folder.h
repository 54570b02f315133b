#pragma once

#include "common/unique_any.h"
#include "update/durability.h"

#include <windows.h>

#include <string>

// A folder that is to receive update files, and the copies of ours that it holds
// while an install runs (and that a run ended from outside may have left there).

// A folder that is to receive update files, held open from its check until the walk
// moves on: the files land in the folder that was checked.
struct HeldFolder {
    std::wstring exact;              // as it was opened: verbatim, exact names
    UniqueFileHandle handle;         // none when it cannot be opened
    DWORD openError = ERROR_SUCCESS; // why not, then: every install into it fails so
    std::wstring canonical;          // where the handle leads
    bool receives = false;           // readyToReceive has been done
};

// Holds the folder at `exact` (no delete sharing); where it leads is read on that handle.
// A folder that cannot be opened gives a HeldFolder without a handle: nothing can land
// there, and each install into it fails with the open's code.
HeldFolder holdDestFolder(const std::wstring& exact);

// Once per folder, before its first install: deletes the copies that a run ended from
// outside left in it (they may be large; each a plain file with one name, at its own
// place in the folder, under a name that only the updater gives), and notes its volume
// for the flush after the last install. Nothing for a folder without a handle.
void readyToReceive(HeldFolder& folder, Durability& durability);

// The name of a copy of ours, one that no file of a game bears:
// "<marker><process>-<attempt>.new".
std::wstring copyName(DWORD process, unsigned attempt);

// `name` in the folder as the user is to see it (the failure message names it).
std::wstring shownIn(const HeldFolder& folder, const std::wstring& name);

// Whether `file` is a plain file with one name, standing at `name` in the held folder
// itself (not another name of a file elsewhere, nor a link: Wine follows a link at the
// name even when asked to open it itself, so where the handle leads decides).
bool isPlainFileIn(const HeldFolder& folder, const std::wstring& name, HANDLE file);
