#pragma once

// What the tests reach inside process control, beside its interface (process.h).

#include <windows.h>

// Whether a process could have started this one: it was created no later than we were.
// A process whose creation time cannot be read is given the benefit of the doubt.
bool createdNoLaterThanUs(HANDLE process);
