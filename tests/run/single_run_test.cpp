#include "fs/fs_error.h"
#include "fs/file_identity.h"
#include "helpers/harness.h"
#include "run/single_run_seams.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <string>

// A launcher started twice (a double click) starts two updaters on one update folder:
// one applies the update and starts the launcher, the other waits for it and ends.
TEST(SingleRun, TwoUpdatersStartedTogetherApplyEveryFileOnceAndStartTheLauncherOnce)
{
    const Sandbox box = makeSandbox();
    const std::wstring launcher = box.root + L"\\Qorvath Launcher.exe";
    copyFile(binDir() + L"\\recorder.exe", launcher);
    UpdateTree tree;
    tree.chains = 20;
    tree.filesPerFolder = 100;
    layOut(tree, box.updateDir, box.root);
    const int files = static_cast<int>(filesOf(tree).size());
    StartOptions options;
    options.args = inQuotes(box.root);
    options.suspended = true;
    // The second through a link to the root where the platform makes one: two spellings of
    // one update folder are one folder.
    StartOptions through = options;
    std::string why;
    if (makeFolderLink(box.root, box.base + L"\\link", &why)) {
        through.workDir = box.base + L"\\link\\resources\\update";
        through.updater = through.workDir + L"\\Updater.exe";
    }
    Started first = startThroughStandin(box, options);
    Started second = startThroughStandin(box, through);
    ASSERT_TRUE(first.updater && second.updater);
    exitCodeOf(first.standin.get());
    exitCodeOf(second.standin.get());
    ResumeThread(first.thread.get());
    ResumeThread(second.thread.get());
    const DWORD limit = 5000 + 30 * static_cast<DWORD>(files); // from the work, not a constant
    EXPECT_EQ(exitCodeOf(first.updater.get(), limit), 0u);
    EXPECT_EQ(exitCodeOf(second.updater.get(), limit), 0u);
    EXPECT_EQ(waitForMessageBox(first.pid, 0), nullptr);
    EXPECT_EQ(waitForMessageBox(second.pid, 0), nullptr);

    EXPECT_EQ(whereFilesStand(tree, box.updateDir, box.root).installed, files);
    // One run's log, whole: every file moved once, in one run, to its end.
    const std::string log = readFile(box.log);
    EXPECT_TRUE(startsWith(log, "targetDir = "));
    EXPECT_EQ(countOf(log, "targetDir = "), 1);
    EXPECT_EQ(countOf(log, "Move it\r\n"), files);
    EXPECT_TRUE(endsWith(log, runEndLines(box)));
    // The launcher: once, however long a second start would take to show.
    waitForFile(launcher + L".record");
    quietPeriod(1000);
    EXPECT_EQ(countOf(readFile(launcher + L".record"), "cwd="), 1);
}

// The single-run name taken first by another program: an object of another type, or a
// mutex that a user who is no administrator made. The run stops loudly before it
// touches a file, rather than wait for ever or go on without exclusion, and its log says
// why. (Where the
// system has private namespaces, as Windows has, no other user can take the name at
// all; Wine has none, so this is the global name's case.)
TEST(SingleRun, NameTakenByAnotherProgramStopsTheRunLoudly)
{
    struct Squatter {
        const char* what;
        bool event;
        const wchar_t* sddl;
        DWORD refusal;
    };
    const Squatter squatters[] = {
        {"an event", true, L"D:(A;;GA;;;WD)", ERROR_INVALID_HANDLE},
        {"a mutex of a user", false, L"O:WDD:(A;;GA;;;WD)", ERROR_ACCESS_DENIED},
    };
    for (const Squatter& squatter : squatters) {
        SCOPED_TRACE(squatter.what);
        const Sandbox box = makeSandbox();
        writeFile(box.updateDir + L"\\a.txt", "new");
        UniqueAny<PSECURITY_DESCRIPTOR, &LocalFree> descriptor;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            squatter.sddl, SDDL_REVISION_1, descriptor.put(), nullptr));
        SECURITY_ATTRIBUTES security = {sizeof security, descriptor.get(), FALSE};
        const std::wstring name = L"Global\\" + mutexName(weaklyCanonical(box.updateDir));
        const UniqueHandle taken(squatter.event ? CreateEventW(&security, TRUE, FALSE, name.c_str())
                                                : CreateMutexW(&security, TRUE, name.c_str()));
        ASSERT_TRUE(taken);
        Started started = startWithoutParent(box, inQuotes(box.root));
        answerMessageBoxShowing(started.pid, failureText(box.updateDir));
        EXPECT_EQ(exitCodeOf(started.updater.get()), 1u);
        EXPECT_EQ(readFile(box.updateDir + L"\\a.txt"), "new");
        EXPECT_FALSE(exists(box.root + L"\\a.txt"));
        EXPECT_EQ(readFile(box.log),
                  "Exception: single run: " + systemMessage(squatter.refusal) + "\r\n");
    }
}

// A run ended from outside: a second run that was waiting for it, or one that starts
// after it while another program keeps its mutex (abandoned before the second looks),
// takes over and applies the rest, rather than end with nothing applied. A third run
// started while the second still waits for its own parent waits for the second, even
// where the first made the private namespace that held the name (Windows only: Wine
// has none; there the name is global and the test keeps the mutex itself).
TEST(SingleRun, SecondRunTakesOverFromAFirstThatWasKilled)
{
    const std::wstring base = makeSandbox().base;
    for (const bool secondWaits : {true, false}) {
        SCOPED_TRACE(secondWaits ? "the second waits" : "the second starts after the kill");
        const Sandbox box = makeSandbox(base + (secondWaits ? L"-waits" : L"-after"));
        for (const wchar_t* name : {L"\\a.txt", L"\\b.txt"})
            writeFile(box.updateDir + name, "new");
        StartOptions waiting;
        waiting.args = inQuotes(box.root);
        waiting.end = L"event:" + uniqueName(L"qlu-never");
        Started first = startThroughStandin(box, waiting); // holds the folder, waits for its parent
        ASSERT_TRUE(waitForLog(box, "Have parent"));
        const UniqueHandle kept(OpenMutexW(
            SYNCHRONIZE, FALSE, (L"Global\\" + mutexName(weaklyCanonical(box.updateDir))).c_str()));
        Started second;
        const std::wstring secondsParentEnds = uniqueName(L"qlu-second");
        const UniqueHandle endSecondsParent(
            CreateEventW(nullptr, TRUE, FALSE, secondsParentEnds.c_str()));
        if (secondWaits) {
            StartOptions options;
            options.args = inQuotes(box.root) + L" second";
            options.end = L"event:" + secondsParentEnds;
            second = startThroughStandin(box, options);
            quietPeriod(500); // the second is waiting for the folder
            EXPECT_EQ(WaitForSingleObject(second.updater.get(), 0),
                      static_cast<DWORD>(WAIT_TIMEOUT));
        }
        TerminateProcess(first.updater.get(), 9);
        exitCodeOf(first.updater.get());
        if (secondWaits) {
            ASSERT_TRUE(waitForLog(box, "File to remove: second\r\nupdateDir"));
            const Started third = startWithoutParent(box, inQuotes(box.root));
            quietPeriod(500);
            EXPECT_EQ(WaitForSingleObject(third.updater.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
                << "a third run beside the second";
            SetEvent(endSecondsParent.get());
            EXPECT_EQ(exitCodeOf(third.updater.get()), 0u);
        } else {
            second = startWithoutParent(box, inQuotes(box.root));
        }
        EXPECT_EQ(exitCodeOf(second.updater.get()), 0u);
        EXPECT_TRUE(endsWith(readFile(box.log), "All done, exiting\r\n"));
        for (const wchar_t* name : {L"\\a.txt", L"\\b.txt"})
            EXPECT_EQ(readFile(box.root + name), "new");
    }
}
