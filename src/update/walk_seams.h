#pragma once

// What the tests reach inside the walk, beside walk.h: Wine can flush no volume, and no
// file system shows whether a file's data reached the disk before its name, so the
// flushes are watched through stand-ins.

#include "update/durability.h"
#include "update/walk.h"

#include <string>

// applyUpdateTree with the flushes of `durability` (its volumes empty) in place of the
// real ones.
void applyUpdateTree(const std::wstring& updateDir, const Destination& root,
                     const SignedList* signedList, Durability durability);
