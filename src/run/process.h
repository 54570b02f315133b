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

// Waits for the process's end, logging "Have parent, killing" before and "Killed"
// after. It never ends the process: the handle from findParentProcess carries
// SYNCHRONIZE alone, so the termination it asks for is always refused, and the
// launcher (or the unelevated instance) ends by itself. The name and the two log
// lines stay as they are: readers of the log know them, and "Killed" marks the
// parent's end however it came about.
void terminateAndWait(UniqueHandle process);

// Starts the launcher from targetDir, detached, with no arguments and none of our
// handles; whether it started is not examined.
void startLauncher(const std::wstring& targetDir);
