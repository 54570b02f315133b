#pragma once

// What the tests reach inside the walk, beside walk.h: Wine can flush no volume, and no
// file system shows whether a file's data reached the disk before its name, so the
// flushes are watched through stand-ins; nor does Wine refuse the listing class with
// file ids, as some network redirectors do.

#include "update/durability.h"
#include "update/walk.h"

#include <string>

struct WalkStandIns {
    Durability durability;      // its flushes in place of the real ones, its volumes empty
    bool plainListings = false; // every folder listed as where the class with ids is refused
};

// applyUpdateTree with the stand-ins.
void applyUpdateTree(const std::wstring& updateDir, const Destination& root,
                     const SignedList* signedList, WalkStandIns standIns);
