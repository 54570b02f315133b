#pragma once

// What the tests reach inside the install, beside its interface (install.h): the
// handling of a read-only dest where the system has no rename that ignores the
// attribute. Under Wine it is never reached (run by root, Wine ignores the attribute;
// run by a user, it refuses attribute writers of a read-only file).

#include "update/install.h"

#include <windows.h>

// Clears the read-only attribute of what stands at `name` in `folder` (dest), when that
// is a plain file with one name where dest leads. Gives its attributes as they were, or
// 0 when nothing was changed.
DWORD clearReadOnlyOfDest(const HeldFolder& folder, const std::wstring& name);

// Puts `attributes` back on what stands at dest, checked the same way.
void restoreAttributesOfDest(const HeldFolder& folder, const std::wstring& name, DWORD attributes);
