#pragma once

#include <windows.h>

// Loads a library of Windows' that is not one of its known DLLs (which the loader would
// look for first beside the executable, in a folder that ordinary users can write to)
// from the system folder only, with everything it imports. Null, with the last error,
// when it cannot be loaded. The module stays loaded for the process, as an import would.
HMODULE loadSystemLibrary(const wchar_t* name);
