#pragma once

// What the tests reach inside the walk, beside walk.h: Wine can flush no volume, so the
// flush after the last install is watched through a stand-in for the flush.

#include "update/walk.h"

#include <functional>
#include <string>

// applyUpdateTree with `flush` in place of the volume flush.
void applyUpdateTree(const std::wstring& updateDir, const std::wstring& targetDir,
                     const SignedList* signedList,
                     const std::function<bool(const std::wstring& volumePath)>& flush);
