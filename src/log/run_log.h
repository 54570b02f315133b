#pragma once

#include "common/unique_any.h"

#include <string>

// The run's only record: "Updater.log", one line per step, each line written to the
// file with one WriteFile as it ends, so that the file is complete up to the last line
// however the process ends. The log never reports its own failures: a failed open or
// write marks it failed and later lines are dropped. It is the one process-wide value.

// Opens the log at its full path (in the update folder), emptied; never through a link
// planted in its place. A failed open leaves the log failed.
void openRunLog(const wchar_t* path);
void closeRunLog();

// Whether the log keeps lines so far.
bool runLogIsOpen();

// Where the log could not be opened (another program holds it without write sharing, or
// it is read-only), opens the completion mark beside it, at `markPath`, emptied, for
// this run's end. None where the log is open, or where the mark cannot be opened either:
// then no run's end can be recorded, and the caller must not go on.
UniqueFileHandle openCompletionMarkWhereTheLogFailed(const wchar_t* markPath);

// Where the log could not be written, records in `mark` (or, without one, at
// `markPath`) that the walk is done, as the log would have: the launcher's side reads
// it to tell that this run was complete, and would otherwise start the updater again
// for ever. Nothing where the log was written.
void markCompletionWhereTheLogFailed(HANDLE mark, const wchar_t* markPath);

// Whether a path leads to the very file that the open log writes.
bool isRunLog(const std::wstring& path);

// A line is a label, at most one value, and the end of line.
void logLine(const char* label);
void logPath(const char* label, const std::wstring& path);
void logText(const char* label, const std::wstring& text);
void logNumber(const char* label, int value);
void logMessage(const char* label, const std::string& message);
// The message, a blank, and the path in the quoted path form.
void logMessageAndPath(const char* label, const std::string& message, const std::wstring& path);
