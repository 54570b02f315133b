#pragma once

// What the helper programs and the updater show and leave: the recorder's records, the
// message boxes and their texts, other programs' windows, and Windows' own split of
// a command line.

#include "helpers/sandbox.h"

// What the recorder wrote of its starts: the first one's working folder and command line
// (UTF-8), and how many starts it recorded (0: none within the time limit).
struct Record {
    std::string cwd;
    std::string commandLine;
    int starts = 0;
};
// Waits for the record at `path` ("<recorder's path>.record", 10 s scaled) and reads it.
Record readRecord(const std::wstring& path);

// Message boxes of one updater process, found by the caption "Qorvath Launcher Updater"
// (tests run side by side, each with its own updater).
HWND waitForMessageBox(DWORD pid, DWORD timeoutMs = 20000);
// The processes that run the executable at `image`.
std::vector<DWORD> processesRunning(const std::wstring& image);
// A window with this caption of a process that runs `image` (a program whose process
// the test does not know, such as a launcher that the updater started; other tests'
// programs may show windows of the same caption meanwhile), and that process.
HWND waitForWindowOfImage(const std::wstring& image, const std::wstring& caption, DWORD& owner,
                          DWORD timeoutMs = 20000);
std::wstring messageBoxText(HWND box);
void answerMessageBox(HWND box, int button);

// A command line split into its elements as CommandLineToArgvW splits it.
std::vector<std::wstring> splitLikeWindows(const std::wstring& commandLine);

// The failure message's text for the file or folder that stopped the update.
std::wstring failureText(const std::wstring& concerned);

// The text of the box that asks the user to start the launcher at `launcher`.
std::wstring startLauncherText(const std::wstring& launcher);

// Waits for the updater's message box, checks its caption (by which it is found) and
// text, presses `button` and waits until the box has gone.
void answerMessageBoxShowing(DWORD pid, const std::wstring& text, int button = IDOK);
