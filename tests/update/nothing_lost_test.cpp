// Whatever the update tree holds and whatever goes wrong, no file is lost: each one is
// installed or still waits in the update folder, and a run that cannot finish says so:
// its line in the log, the failure message, exit code 1.
#include "fs/fs_error.h"
#include "helpers/harness.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

std::wstring exact(const std::wstring& path)
{
    return L"\\\\?\\" + path;
}

class NothingLost : public SandboxTest {
protected:
    Started start(const std::wstring& root) { return startWithoutParent(box_, inQuotes(root)); }

    // The end of a run that stopped: the failure message naming `concerned`, answered,
    // then exit code 1.
    void expectStopNaming(Started& started, const std::wstring& concerned)
    {
        answerMessageBoxShowing(started.pid, failureText(concerned));
        EXPECT_EQ(exitCodeOf(started.updater.get()), 1u);
    }

    std::string lastLine() { return lastLineOf(readFile(box_.log)); }
};

} // namespace

TEST_F(NothingLost, CopyThatRunsOutOfRoomKeepsTheOldFile)
{
    std::string why;
    const std::wstring small = smallVolume(&why);
    if (small.empty())
        GTEST_SKIP() << why;
    // A launcher on the small volume, with an update file that fits once but not twice.
    box_ = makeSandbox(small + uniqueName(L"full"));
    ULARGE_INTEGER free = {};
    ASSERT_TRUE(GetDiskFreeSpaceExW(small.c_str(), &free, nullptr, nullptr));
    const size_t size = static_cast<size_t>(free.QuadPart * 2 / 3);
    writeFile(box_.root + L"\\big.pak", "old");
    writeFile(box_.updateDir + L"\\big.pak", std::string(size, 'n'));
    ASSERT_EQ(readFile(box_.updateDir + L"\\big.pak").size(), size) << "the volume is fuller";
    Started started = start(box_.root);
    expectStopNaming(started, box_.root + L"\\big.pak");
    EXPECT_EQ(lastLine(), "Exception: rename: " + systemMessage(ERROR_DISK_FULL) + "\r\n");
    EXPECT_EQ(readFile(box_.root + L"\\big.pak"), "old");
    EXPECT_EQ(listing(box_.root).size(), 2u) << "a copy left behind beside big.pak, resources";
    EXPECT_EQ(readFile(box_.updateDir + L"\\big.pak").size(), size);
    removeTree(box_.base);
}

// Names that Win32 would rewrite (a final dot or blank, device names) and unusual ones
// (letters outside ASCII, leading dots, 200 letters) are applied under their exact names,
// and installed files that a rewritten name would reach stay. On another volume where
// there is one: a short base keeps the long name within what Wine resolves.
TEST_F(NothingLost, UnusualNamesAndNamesThatWin32WouldRewriteAreAppliedExactly)
{
    std::string why;
    const std::wstring volume = otherVolume(&why);
    std::optional<ScratchFolder> scratch;
    if (!volume.empty()) {
        scratch.emplace(volume + uniqueName(L"names"));
        box_ = makeSandbox(scratch->path());
    }
    // Each update file under its exact name; where the name is a folder, its one file.
    std::vector<std::wstring> files = {
        L"foo.",  L"bar ",   L"CON",          L"aux.txt",          L"COM1.log",
        L"x.dll", L"x.dll.", L"Updater.exe.", L"...\\in dots.txt", L"bin.\\in bin.txt",
    };
    files.insert(files.end(), {L"\x0444\x0430\x0439\x043B.dll", L"\x00E9t\x00E9 \x00FC.txt",
                               L"\x8868\x793A.dat", L".hidden", L"..double", L"a.b.c.d"});
    files.push_back(std::wstring(200, L'n') + L".bin");
    for (const wchar_t* folder : {L"\\...", L"\\bin."}) {
        ASSERT_TRUE(CreateDirectoryW(exact(box_.updateDir + folder).c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(exact(box_.root + folder).c_str(), nullptr));
    }
    for (const std::wstring& name : files)
        writeFile(exact(box_.updateDir + L"\\" + name), "new " + utf8(name));
    // Installed files that the update does not replace: a rewritten name must not reach them.
    writeFile(box_.root + L"\\foo", "installed foo");
    writeFile(box_.root + L"\\bar", "installed bar");
    writeFile(box_.root + L"\\x.dll", "old x.dll");

    const RunResult run = runUpdater(box_, inQuotes(box_.root));
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    for (const std::wstring& name : files) {
        EXPECT_EQ(readFile(exact(box_.root + L"\\" + name)), "new " + utf8(name)) << utf8(name);
        EXPECT_FALSE(exists(exact(box_.updateDir + L"\\" + name))) << utf8(name);
    }
    EXPECT_EQ(readFile(box_.root + L"\\foo"), "installed foo");
    EXPECT_EQ(readFile(box_.root + L"\\bar"), "installed bar");
    EXPECT_TRUE(exists(box_.updater)) << "the running updater was moved";
    EXPECT_FALSE(exists(box_.root + L"\\Updater.exe"));
}

TEST_F(NothingLost, PathLongerThanMaxPathIsAppliedOrStopsLoudly)
{
    std::wstring relative;
    for (int level = 0; level < 6; ++level)
        relative += L"\\" + std::wstring(50, static_cast<wchar_t>(L'a' + level));
    for (const std::wstring& tree : {box_.updateDir, box_.root}) {
        for (size_t pos = 1; pos <= relative.size(); pos += 51)
            ASSERT_TRUE(
                CreateDirectoryW(exact(tree + relative.substr(0, pos + 50)).c_str(), nullptr));
    }
    const std::wstring source = exact(box_.updateDir + relative + L"\\deep.dll");
    const std::wstring dest = exact(box_.root + relative + L"\\deep.dll");
    writeFile(source, "new");
    writeFile(dest, "old");
    ASSERT_GT(dest.size(), static_cast<size_t>(MAX_PATH));

    Started started = start(box_.root);
    // Wine cannot resolve a path this long; Windows can.
    if (HWND box = waitForMessageBox(started.pid, 5000)) {
        answerMessageBox(box, IDOK);
        EXPECT_EQ(exitCodeOf(started.updater.get()), 1u);
        EXPECT_TRUE(startsWith(lastLine(), "Exception: "));
        EXPECT_EQ(readFile(dest), "old");
        EXPECT_EQ(readFile(source), "new");
    } else {
        EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
        EXPECT_EQ(readFile(dest), "new");
        EXPECT_FALSE(exists(source));
    }
}

TEST_F(NothingLost, FileForTheUpdateFolderItselfIsRefused)
{
    const std::wstring nested = box_.updateDir + L"\\resources\\update";
    makeDirs(nested);
    writeFile(nested + L"\\zzz.txt", "nested");
    writeFile(box_.updateDir + L"\\zzz.txt", "pending");
    const RunResult run = runUpdater(box_, inQuotes(box_.root));
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_TRUE(contains(run.log, logLines({"dest=" + logged(box_.updateDir + L"\\zzz.txt"),
                                            "Inside the update folder, ignore it"})));
    EXPECT_EQ(readFile(box_.root + L"\\zzz.txt"), "pending");
    EXPECT_EQ(readFile(nested + L"\\zzz.txt"), "nested");
}

TEST_F(NothingLost, ControlCharactersCannotForgeLogLines)
{
    SKIP_UNLESS(makeFileNamedWithLineBreak(box_.updateDir, L"evil\nAll done, exiting", &why));
    Started started = startWithoutParent(
        box_, L"\"" + box_.root + L"\" \"one\r\nKilled\" \"two\nAll done, exiting\"");
    // Wine lists the name but cannot move it, and the run stops at it, loudly.
    if (HWND box = waitForMessageBox(started.pid, 3000))
        answerMessageBox(box, IDOK);
    exitCodeOf(started.updater.get());
    const std::string log = readFile(box_.log);
    EXPECT_FALSE(contains(log, "\nKilled\r\n"));
    const size_t done = log.find("\nAll done, exiting\r\n");
    EXPECT_TRUE(done == std::string::npos || done + 20 == log.size()) << log;
    size_t lineFeeds = 0;
    size_t lineEnds = 0;
    for (size_t i = 0; i < log.size(); ++i) {
        lineFeeds += log[i] == '\n';
        lineEnds += log.compare(i, 2, "\r\n") == 0;
    }
    EXPECT_EQ(lineFeeds, lineEnds) << "a line break of a value";
    EXPECT_TRUE(contains(log, "File to remove: one??Killed\r\n"));
    EXPECT_TRUE(contains(log, "Sub path" + logged(box_.updateDir + L"\\evil?All done, exiting")));
}
