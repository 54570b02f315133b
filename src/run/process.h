#pragma once

#include "common/unique_any.h"

#include <windows.h>

#include <string>

// The program the updater starts again when it is done, in the root folder.
extern const char launcherExeName[];

// The process that started this one, opened for waiting (SYNCHRONIZE) only; none when
// it has ended, cannot be opened, or its id now belongs to a younger process.
UniqueHandle findParentProcess();

// Whether a process could have started this one: it was created no later than we were.
// A process whose creation time cannot be read is given the benefit of the doubt.
bool createdNoLaterThanUs(HANDLE process);

// Blocks until the process has ended (or the wait itself fails).
void waitForExit(UniqueHandle process);

// Asks the process to end (the handle's rights refuse it, so in effect it is left
// to end by itself) and waits for its end, logging before and after.
void terminateAndWait(UniqueHandle process);

// targetDir joined with launcherExeName.
std::wstring launcherPath(const std::wstring& targetDir);

// Starts the launcher from targetDir, detached, with no arguments and none of our
// handles; whether it started is not examined.
void startLauncher(const std::wstring& targetDir);
