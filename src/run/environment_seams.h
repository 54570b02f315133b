#pragma once

// What the tests reach inside environment.h: the growth of the buffer for the
// executable's path, which only a path longer than any test folder would otherwise show.

#include "run/environment.h"

#include <cstddef>
#include <string>

// ownModulePath with a buffer that grows from `initialCapacity` until the whole path fits.
std::wstring ownModulePath(size_t initialCapacity);
