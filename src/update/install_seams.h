#pragma once

// What the tests reach inside the install, beside its interface (install.h): the
// handling of a read-only dest where the system has no rename that ignores the
// attribute. Under Wine it is never reached (run by root, Wine ignores the attribute;
// run by a user, it refuses attribute writers of a read-only file).

#include "update/install.h"

#include <windows.h>

// The rename over a read-only dest where the system has no rename that ignores the
// attribute: dest loses the attribute for the rename, only when it is dest's own file (a
// plain file with one name where dest leads: never a file elsewhere that a link or
// another name leads to), and gets it back when the rename fails. Gives ERROR_SUCCESS or
// the rename's code.
DWORD renameOverReadOnlyDest(HANDLE copy, const HeldFolder& folder, const std::wstring& name);
