#include "helpers/harness.h"

#include <gtest/gtest.h>

namespace {

class PlantedLogLink : public SandboxTest {
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        victim_ = box_.base + L"\\victim.txt";
        writeFile(victim_, "a file elsewhere that the user cannot write");
    }

    // A complete run; the log must be a file of its own and the victim untouched.
    void expectVictimUntouched()
    {
        writeFile(box_.updateDir + L"\\a.txt", "new");
        const RunResult run = runUpdater(box_, inQuotes(box_.root));
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(readFile(victim_), "a file elsewhere that the user cannot write");
        EXPECT_EQ(run.log.rfind("targetDir = ", 0), 0u) << run.log;
        EXPECT_TRUE(contains(run.log, "All done, exiting\r\n"));
        EXPECT_EQ(readFile(box_.root + L"\\a.txt"), "new");

        UniqueFileHandle log(CreateFileW(box_.log.c_str(), 0, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION info = {};
        ASSERT_TRUE(log && GetFileInformationByHandle(log.get(), &info));
        EXPECT_EQ(info.nNumberOfLinks, 1u);
        EXPECT_EQ(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    }

    std::wstring victim_;
};

} // namespace

TEST_F(PlantedLogLink, HardLinkNamedLikeTheLogIsReplacedNotTruncated)
{
    ASSERT_TRUE(CreateHardLinkW(box_.log.c_str(), victim_.c_str(), nullptr)) << GetLastError();
    expectVictimUntouched();
}

// Windows opens a link itself when asked and removes the link's name; Wine always
// follows a Linux link, even to delete it, so there the updater leaves the name alone
// and runs without a log. Either way the file it leads to stays as it was.
TEST_F(PlantedLogLink, SymbolicLinkNamedLikeTheLogIsNeverFollowedUnderWineRunsWithoutLog)
{
    SKIP_UNLESS(makeFileLink(victim_, box_.log, &why));
    ASSERT_EQ(readFile(box_.log), readFile(victim_)) << "the link does not lead to the victim";
    writeFile(box_.updateDir + L"\\a.txt", "new");
    const RunResult run = runUpdater(box_, inQuotes(box_.root));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(readFile(victim_), "a file elsewhere that the user cannot write");
    EXPECT_EQ(readFile(box_.root + L"\\a.txt"), "new");
}

TEST_F(PlantedLogLink, SymbolicLinkNamedLikeTheLogIsRemovedAndAFreshLogWrittenWindowsOnly)
{
    if (runningUnderWine())
        GTEST_SKIP() << "Wine follows a Linux link even to remove it (see the test above)";
    SKIP_UNLESS(makeFileLink(victim_, box_.log, &why));
    expectVictimUntouched();
}

// A link named like the log whose target is gone: a fresh log is made as the name
// itself, never as the file the link names (which a truncating create would make
// wherever it points, as administrator). Wine cannot make the name itself and runs
// without a log; either way nothing appears at the target.
TEST_F(PlantedLogLink, DanglingSymbolicLinkNamedLikeTheLogNeverCreatesItsTarget)
{
    const std::wstring target = box_.base + L"\\made-through-the-link.txt";
    writeFile(target, "soon gone");
    SKIP_UNLESS(makeFileLink(target, box_.log, &why));
    ASSERT_TRUE(DeleteFileW(target.c_str()));
    ASSERT_FALSE(exists(target));
    writeFile(box_.updateDir + L"\\a.txt", "new");
    const RunResult run = runUpdater(box_, inQuotes(box_.root));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(readFile(box_.root + L"\\a.txt"), "new");
    EXPECT_FALSE(exists(target)) << readFile(target);
    if (!runningUnderWine()) {
        EXPECT_TRUE(contains(run.log, "All done, exiting\r\n"));
    }
}
