#include "common/run_state.h"

// Destroyed in reverse order at exit: targetDir first, then updateDir; the run log
// (another translation unit) outlives neither on purpose, it only has to be closed.
std::wstring updateDir;
std::wstring targetDir;

const wchar_t* const updaterTitle = L"Qorvath Launcher Updater";
