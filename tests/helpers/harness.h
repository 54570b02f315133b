#pragma once

// Drives the real Updater.exe under Wine the way the launcher does: every run goes
// through the launcher stand-in, which becomes the updater's parent.

#include "common/unique_any.h"
#include "support/files.h"
#include "support/platform.h"
#include "support/processes.h"
#include "support/text.h"
#include "support/update_tree.h"
#include "support/waiting.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <initializer_list>
#include <iostream>
#include <vector>
#include <string>

std::wstring updaterBuild(); // the Updater.exe the build made

// A fresh tree for one test: <base>\root with root\resources\update holding a copy of
// Updater.exe. The base is named after the running test.
struct Sandbox {
    std::wstring base;
    std::wstring root;
    std::wstring updateDir;
    std::wstring updater; // the copy in updateDir
    std::wstring log;     // updateDir\Updater.log
};
Sandbox makeSandbox(const std::wstring& baseDir = {});

// The fixture of the tests that each work on a fresh sandbox of their own.
class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override { box_ = makeSandbox(); }
    // Replaces the sandbox with a fresh one for a table's next row, beside the first
    // ("<base>-1", "<base>-2", ...), so that a failing row leaves its scene to look at.
    const Sandbox& nextRowSandbox();
    Sandbox box_;

private:
    std::wstring firstBase_;
    int rows_ = 0;
};

struct StartOptions {
    std::wstring args;             // the text after the program path, verbatim
    std::wstring end = L"now";     // when the stand-in ends: "now", "delay:<ms>", "event:<name>"
    bool restricted = false;       // Administrators for deny-only: an unelevated instance
    bool restrictedParent = false; // an administrator's updater whose parent is not one
    bool suspended = false;        // the test resumes the updater's thread itself
    std::wstring updater;          // default: the sandbox's copy
    std::wstring workDir;          // default: the sandbox's update folder
};

// A program started for the test: creation retried through Wine's transient error
// (process_start.h), the process put in the test's job. The job ends every process
// the test started, and whatever those started in turn, when the test ends, passed or
// failed, so that the next test begins on a quiet Wine server. A failure to start is
// a failure of the test (the handles are then empty).
struct StartedProcess {
    UniqueHandle process;
    UniqueHandle thread;
};
StartedProcess startProcess(const std::wstring& program, std::wstring commandLine, DWORD flags = 0,
                            const std::wstring& workDir = {}, STARTUPINFOW* startup = nullptr,
                            bool inheritHandles = false);

struct Started {
    UniqueHandle updater;
    UniqueHandle thread;
    UniqueHandle standin;
    DWORD pid = 0;
};

Started startThroughStandin(const Sandbox& sandbox, const StartOptions& options);

// Starts the updater through a stand-in that has ended before the updater runs: a run
// without a parent, whose log holds no lines of the wait.
Started startWithoutParent(const Sandbox& sandbox, const std::wstring& args);
// The same with further options; when the stand-in ends, and that the updater waits
// suspended for it, are this function's own.
Started startWithoutParent(const Sandbox& sandbox, StartOptions options);

// Polls until the sandbox's log holds `part`; false when it does not within the time
// limit (scaled).
bool waitForLog(const Sandbox& sandbox, const std::string& part);

// Waits for a process and gives its exit code; a process still running after the
// time-out (scaled) is a failure of the test and is ended.
DWORD exitCodeOf(HANDLE process, DWORD timeoutMs = 60000);

struct RunResult {
    DWORD exitCode;
    std::string log;
};
// Starts the updater through a stand-in that has ended before the updater runs, and
// waits for the updater's end (a run of many files gives a limit that grows with them).
RunResult runUpdater(const Sandbox& sandbox, const std::wstring& args, DWORD timeoutMs = 60000);

// Starts the updater as runUpdater does, for a run that is to be refused: answers the
// failure message, which must name `concerned`, and gives the exit code and the log.
RunResult runRefused(const Sandbox& sandbox, const std::wstring& args,
                     const std::wstring& concerned);

// A file that a program started for the test writes (a record of the recorder), read
// once it is there; "<missing>" when it does not appear within 10 s (scaled).
std::string waitForFile(const std::wstring& path);

// Whether `text` (a log, a record, a manifest) holds `part`; either way the message
// shows the part and the whole text:
//     EXPECT_TRUE(contains(run.log, "Killed"));   EXPECT_FALSE(contains(run.log, "Killed"));
testing::AssertionResult contains(const std::string& text, const std::string& part);
// Whether `text` ends with `end`, shown the same way.
testing::AssertionResult endsWith(const std::string& text, const std::string& end);

// What the recorder wrote of its starts: the first one's working folder and command line
// (UTF-8), and how many starts it recorded (0: none within the time limit).
struct Record {
    std::string cwd;
    std::string commandLine;
    int starts = 0;
};
// Waits for the record at `path` ("<recorder's path>.record", 10 s scaled) and reads it.
Record readRecord(const std::wstring& path);

// How many times `part` stands in `text`.
int countOf(const std::string& text, const std::string& part);

// The lines of a log as the file holds them: each one followed by CR LF.
std::string logLines(std::initializer_list<std::string> lines);
// The last line of a log, with its line end; the whole text when it has one line.
std::string lastLineOf(const std::string& log);
// A text as the log writes it, worked out here one character at a time (not with the
// updater's own conversion): in the system's ANSI code page, each character without an
// exact mapping, and each control character, as "?".
std::string loggedText(const std::wstring& text);
// A path as the log writes it: that text between quotes, backslashes and quotes escaped.
std::string logged(const std::wstring& path);

// A unique name for a named kernel object of this test process.
std::wstring uniqueName(const wchar_t* prefix);

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

// Skips the test, with the platform's reason, when `done` is false. `done` may set
// the string `why` that this macro declares:
//     SKIP_UNLESS(makeJunction(target, link, &why));
#define SKIP_UNLESS(done)                                                                          \
    do {                                                                                           \
        std::string why;                                                                           \
        if (!(done))                                                                               \
            GTEST_SKIP() << why;                                                                   \
    } while (false)

// In a table's loop: leaves the row out, with the platform's reason on the console,
// when `done` is false; the other rows still run. `done` may set `why` as above. Two
// statements (it declares `why`): in braces where it follows an `if`.
#define SKIP_ROW_UNLESS(done)                                                                      \
    std::string why;                                                                               \
    if (!(done)) {                                                                                 \
        std::cout << "row left out: " << why << "\n";                                              \
        continue;                                                                                  \
    }

// Declares `name`, a scratch folder on another volume than the build's, or skips the
// test with the platform's reason when there is none:
//     REQUIRE_OTHER_VOLUME(volume);
#define REQUIRE_OTHER_VOLUME(name)                                                                 \
    std::string name##Missing;                                                                     \
    const std::wstring name = otherVolume(&name##Missing);                                         \
    if (name.empty())                                                                              \
    GTEST_SKIP() << name##Missing

// A command line split into its elements as CommandLineToArgvW splits it.
std::vector<std::wstring> splitLikeWindows(const std::wstring& commandLine);

// The last lines of a complete run in `box`: with a line that says why no launcher
// started where the root has none.
std::string runEndLines(const Sandbox& box);

// The failure message's text for the file or folder that stopped the update.
std::wstring failureText(const std::wstring& concerned);

// The text of the box that asks the user to start the launcher at `launcher`.
std::wstring startLauncherText(const std::wstring& launcher);

// Waits for the updater's message box, checks its caption (by which it is found) and
// text, presses `button` and waits until the box has gone.
void answerMessageBoxShowing(DWORD pid, const std::wstring& text, int button = IDOK);

// Each "Sub path" block of a walk starts with this line.
std::string subPathLine(const std::wstring& path);

// The lines of a walk of the update folder (or of `folder` below it) as it is listed now,
// from its "Step" line: each entry in listing order, the updater's own two files skipped,
// every folder gone down into, every other file applied without obstacle to its place
// below the root. Worked out before the run, which moves what it applies.
std::string walkLines(const Sandbox& sandbox, const std::wstring& folder = {});
