#pragma once

// What the tests reach beside release_record.h: a record that cannot be written. Wine
// refuses no write under HKLM to an administrator, and any key that could be made to
// refuse it is shared with the records other tests' runs keep meanwhile; under a key of
// a test's own, a volatile parent refuses the lasting key below it.

#include <windows.h>

#include <string>

// recordRelease, under `keyPath` of HKLM in place of releaseRecordKey.
void recordReleaseUnder(const wchar_t* keyPath, HANDLE root, const std::wstring& shownRoot,
                        unsigned long long release);
