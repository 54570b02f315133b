#pragma once

// Text between UTF-16 and UTF-8 as Windows converts it, apart from the updater's own
// conversion (which the tests check): records of the programs a test starts, and names
// shown in a test's messages.

#include <string>

std::string utf8(const std::wstring& text);
std::wstring widen(const std::string& utf8Text);
