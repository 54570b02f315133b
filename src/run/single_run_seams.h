#pragma once

// What the tests reach inside the single-run claim, beside its interface (single_run.h).

#include <string>

// The mutex's name for an update folder, within its namespace ("Global\" where the
// system has no private namespaces).
std::wstring mutexName(const std::wstring& canonicalUpdateDir);
