#include "helpers/harness.h"

#include <gtest/gtest.h>

class RunSequence : public ::testing::Test {
protected:
    void SetUp() override { box_ = makeSandbox(); }

    // With a log that cannot be opened, both ends of a run as without it.
    void expectRunWithoutLog()
    {
        writeFile(box_.updateDir + L"\\a.txt", "new");
        EXPECT_EQ(runUpdater(box_, L"").exitCode, 1u);
        EXPECT_EQ(runUpdater(box_, inQuotes(box_.root)).exitCode, 0u);
        EXPECT_EQ(readFile(box_.root + L"\\a.txt"), "new");
    }
    Sandbox box_;
};

TEST_F(RunSequence, NoArgumentWritesOneLineAndExitsWithOne)
{
    const RunResult run = runUpdater(box_, L"");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.log, "No args, exit 1\r\n");
    EXPECT_EQ(run.log.size(), 17u);
}

TEST_F(RunSequence, OneArgumentIsTheRootFolderWithNoRemovalLines)
{
    const RunResult run = runUpdater(box_, inQuotes(box_.root));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.log.rfind(logLines({"targetDir = " + logged(box_.root),
                                      "updateDir = " + logged(box_.updateDir)}),
                            0),
              0u)
        << run.log;
    EXPECT_EQ(run.log.substr(run.log.size() - 19), "All done, exiting\r\n");
}

TEST_F(RunSequence, FurtherArgumentsAreLoggedInOrderAsPlainText)
{
    const RunResult run = runUpdater(box_, L"C:\\Games\\Root \"old file.dll\" bin\\x.dll");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.log.rfind(
                  logLines({"targetDir = \"C:\\\\Games\\\\Root\"", "File to remove: old file.dll",
                            "File to remove: bin\\x.dll", "updateDir = " + logged(box_.updateDir)}),
                  0),
              0u)
        << run.log;
}

TEST_F(RunSequence, BackslashBeforeClosingQuoteIsSplitByTheEscapingRule)
{
    // \" inside quotes is a literal quote, so the quoted text runs on to the end.
    const RunResult run = runUpdater(box_, L"\"C:\\Games\\Root\\\" next");
    EXPECT_EQ(run.log.rfind(logLines({"targetDir = \"C:\\\\Games\\\\Root\\\" next\""}), 0), 0u)
        << run.log;
}

TEST_F(RunSequence, RelativeRootStaysRelativeAndResolvesAgainstTheUpdateFolder)
{
    writeFile(box_.updateDir + L"\\a.txt", "new");
    const RunResult run = runUpdater(box_, L"..\\..");
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_EQ(run.log.rfind(logLines({"targetDir = \"..\\\\..\""}), 0), 0u) << run.log;
    EXPECT_NE(run.log.find("dest=\"..\\\\..\\\\a.txt\"\r\n"), std::string::npos) << run.log;
    EXPECT_EQ(readFile(box_.root + L"\\a.txt"), "new");
}

TEST_F(RunSequence, OldLogIsEmptiedFirst)
{
    writeFile(box_.log, std::string(5000, 'x') + "\r\nold line\r\n");
    const RunResult run = runUpdater(box_, L"");
    EXPECT_EQ(run.log, "No args, exit 1\r\n");
}

TEST_F(RunSequence, LogHeldWithoutSharingLosesTheLinesNotTheRun)
{
    writeFile(box_.log, "kept");
    UniqueFileHandle holder(CreateFileW(box_.log.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    expectRunWithoutLog();
    holder.reset();
    EXPECT_EQ(readFile(box_.log), "kept");
}

TEST_F(RunSequence, ReadOnlyLogLosesTheLinesNotTheRun)
{
    writeFile(box_.log, "kept");
    SKIP_UNLESS(makeReadOnly(box_.log, &why));
    expectRunWithoutLog();
    EXPECT_EQ(readFile(box_.log), "kept");
    SetFileAttributesW(box_.log.c_str(), FILE_ATTRIBUTE_NORMAL);
}
