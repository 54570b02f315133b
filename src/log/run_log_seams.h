#pragma once

// What the tests reach inside the run log, beside its interface (run_log.h).

#include "common/unique_any.h"

#include <string>

// The open log: its file, and whether it has failed (lines are then dropped).
struct RunLog {
    UniqueFileHandle file;
    bool failed = false;
};
extern RunLog runLog;

// Narrows text to the code page that the log is written in. A character without an
// exact mapping (or an unpaired surrogate) becomes "?", never a look-alike, so that
// a log line can never stop an update.
std::string narrow(const std::wstring& text);
std::string narrow(const std::wstring& text, unsigned codePage);

// The quoted path form: the narrowed bytes between double quotes, with a backslash
// before every byte that is a double quote or a backslash.
std::string quotePath(const std::string& narrowed);
