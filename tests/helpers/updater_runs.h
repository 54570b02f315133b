#pragma once

// Runs of the real Updater.exe the way the launcher starts it: through the launcher
// stand-in, which becomes the updater's parent; and the waits for their ends.

#include "helpers/sandbox.h"

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
