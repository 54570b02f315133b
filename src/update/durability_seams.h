#pragma once

// What the tests reach inside the flushes, beside durability.h: Wine can flush no
// volume, so the flush after the last install is tested with a stand-in for the flush.

#include "update/durability.h"

#include <functional>
#include <string>

// flushAfterLastMove with `flush` in place of flushVolume.
void flushAfterLastMove(Durability& durability,
                        const std::function<bool(const std::wstring& volumePath)>& flush);
