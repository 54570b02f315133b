#pragma once

#include <string>

// The updater's message boxes, all captioned "Qorvath Launcher Updater". It has no other
// window.

// Elevation was refused or failed: asks whether to try again. Gives the box's answer
// (IDOK to try again; IDCANCEL, or 0 when the box cannot be shown, to give up).
int showRetryPrompt();

// Tells the user that the update stopped at `concerned` (a file or folder, shown as
// the user knows it) and what to do now; returns once the box is closed.
void showFailureMessage(const std::wstring& concerned);

// Tells the user that the update is installed but the launcher at `launcher` could not
// be started, and to start it; returns once the box is closed.
void showStartLauncherMessage(const std::wstring& launcher);
