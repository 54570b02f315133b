#include "common/run_state.h"

// Defined in this order so that the exit destroys targetDir first, then updateDir.
std::wstring updateDir;
std::wstring targetDir;

const wchar_t* const updaterTitle = L"Qorvath Launcher Updater";
