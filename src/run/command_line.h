#pragma once

#include <string>
#include <vector>

// The process's arguments as CommandLineToArgvW splits them; element 0 is the
// program. A split that fails gives no elements at all.
std::vector<std::wstring> splitCommandLine(const wchar_t* commandLine);
