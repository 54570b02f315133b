#include "helpers/harness.h"

#include <gtest/gtest.h>

#include <string>

// A launcher started twice (a double click) starts two updaters on one update folder:
// one applies the update and starts the launcher, the other waits for it and ends.
TEST(SingleRun, TwoUpdatersStartedTogetherApplyEveryFileOnceAndStartTheLauncherOnce)
{
    const Sandbox box = makeSandbox();
    const std::wstring launcher = box.root + L"\\Qorvath Launcher.exe";
    copyFile(binDir() + L"\\recorder.exe", launcher);
    const int folders = 20;
    const int filesPerFolder = 100;
    for (int folder = 0; folder < folders; ++folder) {
        const std::wstring relative = L"\\d" + std::to_wstring(folder);
        makeDirs(box.updateDir + relative);
        makeDirs(box.root + relative);
        for (int file = 0; file < filesPerFolder; ++file)
            writeFile(box.updateDir + relative + L"\\f" + std::to_wstring(file),
                      "new " + std::to_string(folder * filesPerFolder + file));
    }
    StartOptions options;
    options.args = inQuotes(box.root);
    options.suspended = true;
    Started first = startThroughStandin(box, options);
    Started second = startThroughStandin(box, options);
    ASSERT_TRUE(first.updater && second.updater);
    exitCodeOf(first.standin.get());
    exitCodeOf(second.standin.get());
    ResumeThread(first.thread.get());
    ResumeThread(second.thread.get());
    const DWORD limit = 5000 + 30 * folders * filesPerFolder; // from the work, not a constant
    EXPECT_EQ(exitCodeOf(first.updater.get(), limit), 0u);
    EXPECT_EQ(exitCodeOf(second.updater.get(), limit), 0u);
    EXPECT_EQ(waitForMessageBox(first.pid, 0), nullptr);
    EXPECT_EQ(waitForMessageBox(second.pid, 0), nullptr);

    int applied = 0;
    for (int folder = 0; folder < folders; ++folder) {
        for (int file = 0; file < filesPerFolder; ++file) {
            const std::wstring relative =
                L"\\d" + std::to_wstring(folder) + L"\\f" + std::to_wstring(file);
            applied += readFile(box.root + relative) ==
                           "new " + std::to_string(folder * filesPerFolder + file) &&
                       !exists(box.updateDir + relative);
        }
    }
    EXPECT_EQ(applied, folders * filesPerFolder);
    // One run's log, whole: every file moved once, in one run, to its end.
    const std::string log = readFile(box.log);
    EXPECT_EQ(log.rfind("targetDir = ", 0), 0u) << log.substr(0, 200);
    EXPECT_EQ(countOf(log, "targetDir = "), 1);
    EXPECT_EQ(countOf(log, "Move it\r\n"), folders * filesPerFolder);
    EXPECT_EQ(log.substr(log.size() - runEndLines().size()), runEndLines());
    // The launcher: once, however long a second start would take to show.
    waitForFile(launcher + L".record");
    Sleep(1000);
    EXPECT_EQ(countOf(readFile(launcher + L".record"), "cwd="), 1);
}
