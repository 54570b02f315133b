#pragma once

#include <functional>
#include <string>

// True when the token this thread acts with is an enabled member of the built-in
// Administrators group. A group present for deny only (an administrator's process
// that has not been elevated) does not count; any failure means "no".
bool isRunningAsAdmin();

// Asks Windows for an elevated instance of this executable with the same arguments
// and working directory, and asks the user whether to try again while that is
// refused. Returns once a request was accepted or the user gave up.
void relaunchElevated();

// The retry loop itself: `request` asks for the elevated instance and tells whether
// Windows accepted; `prompt` asks the user and gives the message box's answer.
void relaunchElevated(const std::function<bool()>& request, const std::function<int()>& prompt);
