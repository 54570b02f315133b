// The header launchers start the updater with, and the sample launcher built on it.
#include "helpers/harness.h"
#include "qorvath_updater.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Text that hand-made command lines get wrong: blanks, backslashes before quotes and at
// the end, quotes, a tab, long text, letters outside ASCII; `ascii` leaves the letters
// out, so that the log's bytes do not depend on the ANSI code page.
std::wstring generated(std::mt19937& random, bool ascii)
{
    static const std::wstring pieces[] = {
        L"C:\\Games\\Qorvath",
        L" ",
        L"\\",
        L"\\\\",
        L"\"",
        L"\\\"",
        L"x y\\",
        L"\t",
        L"a",
        L"\\\\\\\"",
        std::wstring(300, L'p'),
        L"\x00E9t\x00E9",
        L"\x0416\x8868",
    };
    const size_t last = sizeof pieces / sizeof pieces[0] - (ascii ? 2 : 0);
    std::uniform_int_distribution<size_t> count(0, 6);
    std::uniform_int_distribution<size_t> pick(0, last - 1);
    std::wstring text;
    for (size_t i = count(random); i > 0; --i)
        text += pieces[pick(random)];
    return text;
}

} // namespace

TEST(LauncherHeader, CommandLineSplitsBackIntoExactlyTheArguments)
{
    std::mt19937 random(14);
    for (int round = 0; round < 400; ++round) {
        const std::wstring root = generated(random, false);
        std::vector<std::wstring> further(random() % 3);
        for (std::wstring& argument : further)
            argument = generated(random, false);
        const std::wstring updater = L"C:\\Games\\Q L\\resources\\update\\Updater.exe";
        std::vector<std::wstring> expected = {updater, root};
        expected.insert(expected.end(), further.begin(), further.end());
        EXPECT_EQ(splitLikeWindows(qorvath::updaterCommandLine(updater, root, further)), expected)
            << testing::PrintToString(qorvath::updaterCommandLine(updater, root, further));
    }
}

TEST(LauncherHeader, RealUpdaterLogsTheRootAndArgumentsAsGiven)
{
    const Sandbox box = makeSandbox();
    std::mt19937 random(41);
    for (int round = 0; round < 6; ++round) {
        const std::wstring root = generated(random, true);
        const std::vector<std::wstring> further = {generated(random, true)};
        const std::wstring commandLine = qorvath::updaterCommandLine(box.updater, root, further);
        SCOPED_TRACE(testing::PrintToString(commandLine));
        // The stand-in puts the program's path in front, as the header does.
        // Not the launcher's root: the run stops after its first lines, naming it.
        const RunResult run = runRefused(box, commandLine.substr(box.updater.size() + 3), root);
        EXPECT_EQ(run.log.rfind(logLines({"targetDir = " + logged(root),
                                          "File to remove: " + loggedText(further[0])}),
                                0),
                  0u)
            << run.log;
    }
}

namespace {

const char completeLog[] =
    "targetDir = \"x\"\r\nPreparing for exe launch\r\nLaunched\r\nAll done, exiting\r\n";

// A file created a moment after everything before it: creation times are compared.
void writeLater(const std::wstring& path, const std::string& content)
{
    Sleep(50);
    writeFile(path, content);
}

} // namespace

// An update waits while files beside the updater are still to be dealt with: after an
// incomplete run (or none), any file but the updater's own; after a complete run, only
// a file put there since. What a complete run leaves on purpose starts nothing.
TEST(LauncherHeader, UpdateWaitsForFilesTheLastRunHasNotDealtWith)
{
    const Sandbox box = makeSandbox();
    makeDirs(box.updateDir + L"\\bin");
    EXPECT_FALSE(qorvath::updateWaiting(box.root)) << "the updater's own file alone";
    writeFile(box.updateDir + L"\\bin\\left.txt", "left on purpose");
    EXPECT_TRUE(qorvath::updateWaiting(box.root)) << "no run yet";
    writeLater(box.log, "targetDir = \"x\"\r\nException: rename: Access is denied.\r\n");
    EXPECT_TRUE(qorvath::updateWaiting(box.root)) << "the last run stopped";
    writeLater(box.updateDir + L"\\Updater.done", "Preparing for exe launch\r\n");
    EXPECT_FALSE(qorvath::updateWaiting(box.root)) << "a complete run that could not log";
    {
        const UniqueFileHandle mark(CreateFileW((box.updateDir + L"\\Updater.done").c_str(),
                                                FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                                                nullptr));
        FILETIME tomorrow;
        GetSystemTimeAsFileTime(&tomorrow);
        tomorrow.dwHighDateTime += 201; // 201 * 2^32 * 100 ns: a day
        ASSERT_TRUE(SetFileTime(mark.get(), nullptr, nullptr, &tomorrow));
    }
    writeLater(box.log, "targetDir = \"x\"\r\nException: rename: Access is denied.\r\n");
    EXPECT_TRUE(qorvath::updateWaiting(box.root)) << "a mark from the future hides a stop";
    // A launcher that the updater starts may look before its last two lines are written.
    for (const std::string& complete :
         {std::string(completeLog), std::string("Preparing for exe launch\r\n"),
          std::string("Preparing for exe launch\r\nLaunched\r\n"),
          std::string("Preparing for exe launch\r\nLauncher not started: x \"y\"\r\nLaunched\r\n"
                      "All done, exiting\r\n")}) {
        writeLater(box.log, complete);
        EXPECT_FALSE(qorvath::updateWaiting(box.root)) << "left by a complete run: " << complete;
    }
    // The complete run's last lines, the first not at a line's start.
    for (const char* incomplete : {"Preparing for exe launch\r\nLaunched\r\nException: x\r\n",
                                   "Preparing for exe launch\r\nLauncher not started: x\r\n"
                                   "Exception: y\r\n",
                                   "targetDir = \"x\"\r\nx Preparing for exe launch\r\nLaunched"
                                   "\r\nAll done, exiting\r\n"}) {
        writeLater(box.log, incomplete);
        EXPECT_TRUE(qorvath::updateWaiting(box.root)) << incomplete;
    }
    writeLater(box.log, completeLog);
    EXPECT_FALSE(qorvath::updateWaiting(box.root + L"\\"));
    writeLater(box.updateDir + L"\\bin\\x.dll", "new");
    EXPECT_TRUE(qorvath::updateWaiting(box.root)) << "put there after the run";
    EXPECT_TRUE(qorvath::updateWaiting(box.root + L"\\"));
    DeleteFileW(box.updater.c_str());
    EXPECT_FALSE(qorvath::updateWaiting(box.root));
    EXPECT_EQ(qorvath::startUpdater(box.root, box.updater),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A file unpacked from an archive after the run keeps the archive's write time: its
// creation time tells that it is new. Wine keeps no creation time of its own (a write
// time set into the past moves it too).
TEST(LauncherHeader, FileUnpackedAfterTheRunWithAnOldWriteTimeWaitsWindowsOnly)
{
    if (runningUnderWine())
        GTEST_SKIP() << "Wine keeps no creation time apart from the write time";
    const Sandbox box = makeSandbox();
    writeFile(box.log, completeLog);
    writeLater(box.updateDir + L"\\x.dll", "new");
    const UniqueFileHandle file(CreateFileW((box.updateDir + L"\\x.dll").c_str(),
                                            FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                                            nullptr));
    const FILETIME archived = {0, 0x01C00000}; // in 1998
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &archived));
    EXPECT_TRUE(qorvath::updateWaiting(box.root));
}

TEST(LauncherHeader, UpdateWaitingWorksPastMaxPath)
{
    const Sandbox box = makeSandbox();
    std::wstring root = L"\\\\?\\" + box.base;
    while (root.size() < MAX_PATH + 20)
        root += L"\\" + std::wstring(40, L'r');
    const std::wstring update = root + L"\\resources\\update";
    makeDirs(update);
    copyFile(updaterBuild(), update + L"\\Updater.exe");
    writeFile(update + L"\\Updater.log", completeLog);
    EXPECT_FALSE(qorvath::updateWaiting(root));
    EXPECT_FALSE(qorvath::updateWaiting(root.substr(4)));
    writeLater(update + L"\\x.dll", "new");
    EXPECT_TRUE(qorvath::updateWaiting(root));
    EXPECT_TRUE(qorvath::updateWaiting(root.substr(4)));
}

namespace {

// Starts `program` through the header as a launcher does, from a go-between that ends
// at once (the updater then waits for nobody), running in `from` (the test's own folder
// when empty).
void startThroughHeader(const std::wstring& root, const std::wstring& program,
                        const std::wstring& from = {})
{
    const std::wstring starter = binDir() + L"\\header_starter.exe";
    const StartedProcess started = startProcess(
        starter, inQuotes(starter) + L" " + qorvath::quoteArgument(root) + L" " + inQuotes(program),
        0, from);
    ASSERT_TRUE(started.process);
    EXPECT_EQ(exitCodeOf(started.process.get()), 0u);
}

std::string waitForCompleteLog(const std::wstring& log)
{
    std::string text;
    waitUntil([&] { return endsWith(text = readFile(log), "All done, exiting\r\n"); }, 60000);
    return text;
}

} // namespace

// "X:" alone names the current folder of drive X: (the updater's own), and a relative
// root the launcher's own folder's: the header hands the updater the root itself,
// however the launcher wrote it.
TEST(LauncherHeader, DriveRootIsTheFolderItselfHoweverItIsWritten)
{
    std::string why;
    const std::wstring drive = scratchDrive(&why);
    if (drive.empty())
        GTEST_SKIP() << why;
    const struct {
        std::wstring root;
        std::wstring launcherFolder; // the test's own when empty
    } rows[] = {
        {drive, {}}, {drive + L"\\", {}}, {drive + L"\\\\", {}}, {L"..", drive + L"\\resources"}};
    for (const auto& row : rows) {
        const std::wstring& root = row.root;
        SCOPED_TRACE(testing::PrintToString(root));
        removeTree(drive + L"\\resources");
        DeleteFileW((drive + L"\\a.txt").c_str());
        const Sandbox box = {drive, drive + L"\\", drive + L"\\resources\\update",
                             drive + L"\\resources\\update\\Updater.exe",
                             drive + L"\\resources\\update\\Updater.log"};
        ASSERT_FALSE(exists(box.log)) << "an earlier run's log";
        makeDirs(box.updateDir);
        copyFile(updaterBuild(), box.updater);
        writeFile(box.updateDir + L"\\a.txt", "new");
        startThroughHeader(root, box.updater, row.launcherFolder);
        const std::string log = waitForCompleteLog(box.log);
        EXPECT_TRUE(startsWith(log, "targetDir = " + logged(drive + L"\\") + "\r\n"));
        EXPECT_EQ(readFile(drive + L"\\a.txt"), "new") << log;
    }
    removeTree(drive + L"\\resources");
    DeleteFileW((drive + L"\\a.txt").c_str());
}

// A handle that the launcher made inheritable (for a child of its own) must not reach
// the updater: it would keep one of the launcher's files open after the launcher has
// ended.
TEST(LauncherHeader, UpdaterInheritsNoHandleOfTheLauncher)
{
    const Sandbox box = makeSandbox();
    copyFile(binDir() + L"\\recorder.exe", box.updater);
    const std::wstring marker = box.base + L"\\held-by-the-launcher.txt";
    SetEnvironmentVariableW(L"QLU_INHERITABLE_FILE", marker.c_str());
    startThroughHeader(box.root, box.updater);
    SetEnvironmentVariableW(L"QLU_INHERITABLE_FILE", nullptr);
    ASSERT_NE(waitForFile(box.updater + L".record"), "<missing>") << "the program did not start";
    const std::string leadsTo = readFile(box.updater + L".handle");
    ASSERT_NE(leadsTo, "<missing>") << "the program did not look for the handle";
    EXPECT_FALSE(contains(leadsTo, "held-by-the-launcher.txt"));
}

namespace {

class SampleLauncher : public SandboxTest {};

} // namespace

// The sample launcher starts the updater for its update (version 2 of its files and of
// itself), ends, and comes back updated. The updater leaves some files in place on
// purpose (here one meant for the update folder itself): the launcher must not start it
// again for them, at any later start, but must for a file put there afterwards, once.
// So too where another program holds the log without letting it be written: the run
// marks its end in Updater.done.
TEST_F(SampleLauncher, ComesBackUpdatedAndRunsTheUpdaterOncePerUpdate)
{
    for (const bool logHeld : {false, true}) {
        SCOPED_TRACE(logHeld ? "the log held by a reader" : "the log written");
        const Sandbox& box = nextRowSandbox();
        const std::wstring launcher = box.root + L"\\Qorvath Launcher.exe";
        copyFile(binDir() + L"\\Qorvath Launcher.exe", launcher);
        copyFile(binDir() + L"\\Qorvath Launcher.exe", box.updateDir + L"\\Qorvath Launcher.exe");
        writeFile(box.root + L"\\version.txt", "1");
        writeFile(box.updateDir + L"\\version.txt", "2");
        UniqueFileHandle reader;
        if (logHeld) {
            writeFile(box.log, "an earlier run's log\r\n");
            reader.reset(CreateFileW(box.log.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(reader);
        }
        // What the last run left: its log, or its mark where the log could not be written.
        const std::wstring record = logHeld ? box.updateDir + L"\\Updater.done" : box.log;
        makeDirs(box.updateDir + L"\\resources\\update");
        writeFile(box.updateDir + L"\\resources\\update\\notes.txt", "for the update folder");

        // One start of the launcher, from elsewhere (the header gives the updater its own
        // working folder): its window (or that of the launcher the updater starts again)
        // answered.
        const auto launch = [&] {
            StartedProcess started = startProcess(launcher, inQuotes(launcher), 0, box.base);
            DWORD owner = 0;
            const HWND shown = waitForWindowOfImage(launcher, L"Qorvath Launcher", owner, 60000);
            if (!shown)
                return std::wstring(L"no window");
            const std::wstring text = messageBoxText(shown);
            answerMessageBox(shown, IDOK);
            waitUntil([shown] { return !IsWindow(shown); }, 5000);
            EXPECT_EQ(exitCodeOf(started.process.get()), 0u);
            return text;
        };
        const auto lastWritten = [&] {
            WIN32_FILE_ATTRIBUTE_DATA data = {};
            GetFileAttributesExW(record.c_str(), GetFileExInfoStandard, &data);
            return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                   data.ftLastWriteTime.dwLowDateTime;
        };

        EXPECT_EQ(launch(), L"Qorvath Launcher, version 2");
        EXPECT_EQ(readFile(box.root + L"\\version.txt"), "2");
        EXPECT_FALSE(exists(box.updateDir + L"\\version.txt"));
        if (logHeld) {
            ASSERT_TRUE(waitUntil([&] { return exists(record); }));
        } else {
            const std::string firstRun = waitForCompleteLog(box.log);
            EXPECT_TRUE(startsWith(firstRun, "targetDir = " + logged(box.root) + "\r\n"));
            EXPECT_TRUE(endsWith(firstRun, "All done, exiting\r\n"));
            ASSERT_TRUE(contains(firstRun, "Inside the update folder, ignore it"));
        }
        const ULONGLONG firstWritten = lastWritten();
        for (int start = 0; start < 3; ++start) {
            SCOPED_TRACE("later start " + std::to_string(start));
            EXPECT_EQ(launch(), L"Qorvath Launcher, version 2");
            EXPECT_EQ(lastWritten(), firstWritten) << "the updater ran again";
        }

        writeLater(box.updateDir + L"\\extra.txt", "extra");
        EXPECT_EQ(launch(), L"Qorvath Launcher, version 2");
        waitUntil([&] { return exists(box.root + L"\\extra.txt"); });
        if (!logHeld)
            waitForCompleteLog(box.log);
        EXPECT_EQ(readFile(box.root + L"\\extra.txt"), "extra");
        const ULONGLONG secondWritten = lastWritten();
        EXPECT_NE(secondWritten, firstWritten) << "the updater did not run for the new file";
        EXPECT_EQ(launch(), L"Qorvath Launcher, version 2");
        EXPECT_EQ(lastWritten(), secondWritten) << "the updater ran again";
        EXPECT_EQ(readFile(box.updateDir + L"\\resources\\update\\notes.txt"),
                  "for the update folder");
    }
}
