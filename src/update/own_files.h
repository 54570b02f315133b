#pragma once

#include "fs/path_text.h"
#include "log/log_words.h"

#include <string>

// The updater's own files in the update folder: the executable and its log, and any
// other file named "Updater" with some extension (Updater.pdb). The walk leaves them
// where they are; the log is one of them by this same rule (its name: log_words.h).

// Whether a listed name is the log's, in any letter case: the one file system names it
// so. Only the file that is the open log counts as the log (see isRunLog).
inline bool isLogFileName(const std::wstring& name)
{
    return sameName(name, logFileName);
}

// By the stem of the name exactly as listed: "updater.exe" (case) and "Updater.tar.gz"
// (stem "Updater.tar") are update files.
inline bool isOwnFile(const std::wstring& name)
{
    return fileStem(name) == L"Updater";
}
