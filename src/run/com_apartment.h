#pragma once

#include "common/unique_any.h"

#include <objbase.h>

// This thread's membership of a single-threaded COM apartment, left when it ends.
// ShellExecuteW (the elevation request) and the desktop shell both ask their callers
// for one; it is entered only around those calls, since a member thread must pump
// messages and the run's long waits do not.
inline void leaveComApartment(int)
{
    CoUninitialize();
}
using ComApartment = UniqueAny<int, &leaveComApartment>;
ComApartment enterComApartment();
