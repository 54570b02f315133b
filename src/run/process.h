#pragma once

#include "common/unique_any.h"

#include <windows.h>

#include <string>

// The process that started this one, as found while it still runs.
struct ParentProcess {
    // Opened for waiting (SYNCHRONIZE) only; none when it has ended, cannot be opened, or
    // its id now belongs to a younger process.
    UniqueHandle handle;
    // Its token is an enabled member of the built-in Administrators group; false when
    // that cannot be read.
    bool administrator = false;
    // The full path of its executable; empty when it cannot be read.
    std::wstring image;
    // Its token, duplicated as a primary token: the launcher's where it is to run at the
    // starter's rights and no desktop shell answers. None when it cannot be had.
    UniqueHandle token;
};
ParentProcess findParentProcess();

// Blocks until the process has ended (or the wait itself fails).
void waitForExit(UniqueHandle process);

// Waits for the parent's end, logging "Have parent, killing" before and "Killed" after.
// It never ends the parent: the launcher (or the unelevated instance) ends by itself,
// and the wait lasts until it has. The two lines stay as earlier logs have them:
// readers know them, and "Killed" marks the parent's end however it came about.
void waitForParentToEnd(UniqueHandle parent);

// Whose rights the launcher is started with: ours (administrator), or those of the
// user signed in at the desktop, through the desktop shell.
enum class LauncherRights { Ours, SignedInUser };

// Starts the launcher by its full path below targetDir (resolved against our working
// folder), with no arguments and targetDir as its working folder, detached and with
// none of our handles. At the signed-in user's rights: through the desktop shell, or,
// where none takes the start, with `starterToken` (the starter's own token), or not at
// all: never with ours, and never beside a shell call that may still start it. At ours:
// directly. Where no launcher could be started, a line before "Launched" says why, and
// a box asks the user to start it (unless there is none to start).
void startLauncher(const std::wstring& targetDir, LauncherRights rights, HANDLE starterToken);
