#pragma once

#include <windows.h>

#include <string>

// The release that the last complete run of a signed update applied to a root, kept
// where no ordinary user can remove, replace, spoil or lock it (as any reader could lock
// a file in the root, and a user who may write the root could replace one): under
// HKLM, in the 64-bit view that both builds share, one value per root, named by the
// root's identity (its volume and file id) and holding the release as a REG_QWORD.

constexpr wchar_t releaseRecordKey[] = L"SOFTWARE\\Qorvath\\Launcher Updater\\Releases";

// The name of the held root's value. Throws FileSystemError "release_record" naming
// `shownRoot` when the root's identity cannot be read.
std::wstring releaseRecordName(HANDLE root, const std::wstring& shownRoot);

// The release recorded for the held root; 0 where none is. Throws FileSystemError
// "release_record" naming `shownRoot` when a record stands there that is no release
// number, or cannot be read: nothing is installed then.
unsigned long long recordedRelease(HANDLE root, const std::wstring& shownRoot);

// Records `release` for the held root. Throws FileSystemError "release_record" naming
// `shownRoot` when it cannot: a run whose release is not recorded did not complete.
void recordRelease(HANDLE root, const std::wstring& shownRoot, unsigned long long release);
