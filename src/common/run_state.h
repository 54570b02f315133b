#pragma once

#include <string>

// The launcher's root folder, verbatim from the first argument.
extern std::wstring targetDir;
// The update folder: the working directory the launcher started us in.
extern std::wstring updateDir;

// The caption of every message box the updater shows.
extern const wchar_t* const updaterTitle;
