#pragma once

#include <string>

// Puts source in the place of dest, once dest can be opened for writing. Returns
// with the file in place; when dest stays locked through every try, or removing or
// moving fails, tells the user and ends the process with exit code 1.
void replaceFile(const std::wstring& source, const std::wstring& dest);
