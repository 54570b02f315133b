#pragma once

// What the tests reach inside the elevation, beside elevation.h: the retry loop apart
// from Windows' consent prompt and the message box, which a test cannot answer as a
// user would.

#include "run/elevation.h"

#include <functional>

// The retry loop itself: `request` asks for the elevated instance and tells whether
// Windows accepted; `prompt` asks the user and gives the message box's answer.
void relaunchElevated(const std::function<bool()>& request, const std::function<int()>& prompt,
                      FirstAsk first);
