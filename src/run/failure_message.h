#pragma once

#include <string>

// Tells the user that the update stopped at `concerned` (a file or folder, shown as
// the user knows it) and what to do now; returns once the box is closed.
void showFailureMessage(const std::wstring& concerned);
