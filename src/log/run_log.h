#pragma once

#include "common/unique_any.h"

#include <string>

// The run's only record: "Updater.log", one line per step, each line written to the
// file with one WriteFile as it ends, so that the file is complete up to the last line
// however the process ends. The log never reports its own failures: a failed open or
// write marks it failed and later lines are dropped.
struct RunLog {
    UniqueFileHandle file;
    bool failed = false;
};

extern RunLog runLog;

// Opens the log at its full path (in the update folder), emptied; never through a link
// planted in its place. A failed open leaves the log failed.
void openRunLog(const wchar_t* path);
void closeRunLog();

// Whether a path leads to the very file that the open log writes.
bool isRunLog(const std::wstring& path);

// A line is a label, at most one value, and the end of line.
void logLine(const char* label);
void logPath(const char* label, const std::wstring& path);
void logText(const char* label, const std::wstring& text);
void logNumber(const char* label, int value);
void logMessage(const char* label, const std::string& message);

// Narrows text to the code page that the log is written in. A character without an
// exact mapping (or an unpaired surrogate) becomes "?", never a look-alike, so that
// a log line can never stop an update.
std::string narrow(const std::wstring& text);
std::string narrow(const std::wstring& text, unsigned codePage);

// The quoted path form: the narrowed bytes between double quotes, with a backslash
// before every byte that is a double quote or a backslash.
std::string quotePath(const std::string& narrowed);
