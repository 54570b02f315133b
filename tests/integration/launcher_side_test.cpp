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

// A path value as the log writes it, for ASCII text.
std::string quotedAscii(const std::wstring& text)
{
    std::string quoted = "\"";
    for (const wchar_t c : text) {
        if (c == L'\\' || c == L'"')
            quoted += '\\';
        quoted += static_cast<char>(c < 0x20 ? L'?' : c);
    }
    return quoted + "\"";
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
        const RunResult run = runUpdater(box, commandLine.substr(box.updater.size() + 3));
        std::string expected = "targetDir = " + quotedAscii(root) + "\r\nFile to remove: ";
        for (const wchar_t c : further[0])
            expected += static_cast<char>(c < 0x20 ? L'?' : c);
        EXPECT_EQ(run.log.substr(0, expected.size() + 2), expected + "\r\n");
    }
}

TEST(LauncherHeader, UpdateWaitsOnlyWithFilesBesideTheUpdater)
{
    const Sandbox box = makeSandbox();
    // The updater leaves its own files behind after an update.
    writeFile(box.log, "log");
    makeDirs(box.updateDir + L"\\bin");
    EXPECT_FALSE(qorvath::updateWaiting(box.root));
    writeFile(box.updateDir + L"\\bin\\x.dll", "new");
    EXPECT_TRUE(qorvath::updateWaiting(box.root));
    EXPECT_TRUE(qorvath::updateWaiting(box.root + L"\\"));
    DeleteFileW(box.updater.c_str());
    EXPECT_FALSE(qorvath::updateWaiting(box.root));
    EXPECT_EQ(qorvath::startUpdater(box.root, box.updater),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(SampleLauncher, StartsTheUpdaterEndsAndComesBackUpdated)
{
    const Sandbox box = makeSandbox();
    const std::wstring launcher = box.root + L"\\Qorvath Launcher.exe";
    copyFile(binDir() + L"\\Qorvath Launcher.exe", launcher);
    writeFile(box.root + L"\\version.txt", "1");
    writeFile(box.updateDir + L"\\version.txt", "2");
    copyFile(binDir() + L"\\Qorvath Launcher.exe", box.updateDir + L"\\Qorvath Launcher.exe");

    // Started from elsewhere: the header gives the updater its own working directory.
    StartedProcess started = startProcess(launcher, inQuotes(launcher), 0, box.base);
    ASSERT_TRUE(started.process);
    EXPECT_EQ(exitCodeOf(started.process.get(), 20000), 0u) << "the launcher did not end";

    HWND shown = waitForWindowCaptioned(L"Qorvath Launcher", 60000);
    ASSERT_NE(shown, nullptr) << "the launcher was not started again\n" << readFile(box.log);
    EXPECT_EQ(messageBoxText(shown), L"Qorvath Launcher, version 2");
    answerMessageBox(shown, IDOK);
    EXPECT_EQ(readFile(box.root + L"\\version.txt"), "2");
    EXPECT_FALSE(exists(box.updateDir + L"\\version.txt"));
    const std::string log = readFile(box.log);
    EXPECT_EQ(log.substr(0, 12 + logged(box.root).size()), "targetDir = " + logged(box.root));
    EXPECT_EQ(log.substr(log.size() - 19), "All done, exiting\r\n");
}
