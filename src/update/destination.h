#pragma once

#include <windows.h>

#include <string>

// The root folder, as the walk installs into it and a release's layout changes it.
struct Destination {
    std::wstring shown; // as given: the log names each destination below it
    std::wstring path;  // where it leads, held by the caller: the files land below it
    // An access-check token (write_rights.h) where the root is not the administrators'
    // own: only folders where it may add and delete files receive any. None: every
    // folder below the root does.
    HANDLE boundBy = nullptr;
    // The root, held by the caller without delete sharing: the release's folders and
    // removals are reached from it, element by element.
    HANDLE held = nullptr;
};
