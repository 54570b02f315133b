#pragma once

// What the tests need that Windows and Wine do differently, decided at run time. Each
// function that a platform cannot carry out returns false and says why, so that the
// test skips with that reason instead of passing silently.

#include <windows.h>

#include <string>

// Whether the tests run under Wine rather than on Windows.
bool runningUnderWine();

// Links. Windows: CreateSymbolicLinkW (an elevated prompt or developer mode) and a
// mount-point reparse point for the junction. Wine: a Linux symbolic link made through
// /bin/ln, which Wine follows (Wine's CreateSymbolicLinkW makes nothing); Wine has no
// junctions. `target` is absolute.
bool makeFileLink(const std::wstring& target, const std::wstring& link, std::string* why);
bool makeFolderLink(const std::wstring& target, const std::wstring& link, std::string* why);
bool makeJunction(const std::wstring& target, const std::wstring& link, std::string* why);

// Removes a tree without ever following a link out of it.
void removeTree(const std::wstring& path);

// Gives a file the read-only attribute, and checks that it keeps writers out: Wine run
// by root opens such a file for writing all the same.
bool makeReadOnly(const std::wstring& path, std::string* why);

// Renames a folder that another process holds as its working folder. Wine lets Linux do
// it; Windows refuses it for as long as the process lives.
bool renameHeldFolder(const std::wstring& from, const std::wstring& to, std::string* why);

// Makes a file whose name holds a line break: only Linux can, and Wine lists it.
bool makeFileNamedWithLineBreak(const std::wstring& folder, const std::wstring& name,
                                std::string* why);

// Runs a Linux program of /bin with its arguments (Linux paths, quoted as needed) and
// waits until `file` (a Windows path) exists. Wine only; false, with the reason, elsewhere
// or when the file does not appear within `timeoutMs` (scaled).
bool runLinuxUntilFileExists(const std::wstring& program, const std::wstring& arguments,
                             const std::wstring& file, std::string* why, DWORD timeoutMs = 30000);

// The Linux path of a Windows path, as this Wine prefix maps its drives.
std::wstring linuxPath(const std::wstring& path);

// The processor time a process has spent, in milliseconds; -1 when it cannot be read.
// Windows: GetProcessTimes. Wine reports nothing for another process: its Linux
// process is found by a part of its command line and read from /proc.
long long processorMillis(HANDLE process, const std::wstring& commandLinePart);

// A folder on another volume than the tests' own, for moves across volumes: drive S:
// under Wine (the test prefix maps it to /dev/shm); on Windows the folder named by the
// environment variable QLU_OTHER_VOLUME. Empty, with the reason, when there is none.
std::wstring otherVolume(std::string* why);

// Waits until the desktop shell answers for its desktop window (Wine starts it with the
// first program that needs a desktop, and registers it a moment later); false when it
// does not within the limit (scaled). Under ctest, desktop_keeper.exe has it up before
// any test starts.
bool waitForDesktopShell(DWORD timeoutMs = 10000);

// A volume of a few MiB at most, where a copy runs out of room: "T:\" where the test
// scripts could mount one, this process's alone from the call until it ends. Empty,
// with the reason, when there is none.
std::wstring smallVolume(std::string* why);

// A drive whose root a test may use as a launcher's root folder: R: under Wine (the test
// prefix maps it to a scratch folder); on Windows the drive named by the environment
// variable QLU_SCRATCH_DRIVE ("X:"). Empty, with the reason, when there is none.
std::wstring scratchDrive(std::string* why);
