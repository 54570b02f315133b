#include "helpers/harness.h"
#include "log/run_log.h"
#include "log/run_log_seams.h"

#include <gtest/gtest.h>

namespace {

struct QuoteCase {
    const char* narrowed;
    const char* quoted;
};

} // namespace

TEST(QuotedPathForm, EscapesEveryBackslashAndDoubleQuoteByte)
{
    const QuoteCase cases[] = {
        {"", "\"\""},
        {"C:\\Games\\Root", "\"C:\\\\Games\\\\Root\""},
        {"a\"b", "\"a\\\"b\""},
        {"C:/x y/z", "\"C:/x y/z\""},
        {"\\\\server\\share", "\"\\\\\\\\server\\\\share\""},
        // A double-byte character whose trail byte is 0x5C is escaped byte-wise.
        {"\x95\x5C", "\"\x95\\\x5C\""},
    };
    for (const QuoteCase& c : cases)
        EXPECT_EQ(quotePath(c.narrowed), c.quoted) << c.narrowed;
}

TEST(Narrowing, ExactMappingsInTheLogsCodePage)
{
    EXPECT_EQ(narrow(L"", 1251), "");
    EXPECT_EQ(narrow(L"C:\\\x041A\x043E\x0440\x0435\x043D\x044C", 1251),
              "C:\\\xCA\xEE\xF0\xE5\xED\xFC");
    EXPECT_EQ(narrow(L"\x00E9t\x00E9", 1252), "\xE9t\xE9");
    EXPECT_EQ(narrow(L"\x8868", 932), "\x95\x5C");
    EXPECT_EQ(narrow(L"\x041A\xD83D\xDE00", CP_UTF8), "\xD0\x9A\xF0\x9F\x98\x80");
}

TEST(Narrowing, CharacterWithoutExactMappingBecomesQuestionMarkNeverALookAlike)
{
    // Cyrillic in the Western code page: no mapping at all.
    EXPECT_EQ(narrow(L"C:\\\x0418\x0433\x0440\x044B", 1252), "C:\\????");
    // e acute in the Cyrillic code page: a best fit would give a plain "e".
    EXPECT_EQ(narrow(L"caf\x00E9", 1251), "caf?");
    // The infinity sign has a best fit "8" in the Western code page.
    EXPECT_EQ(narrow(L"\x221E", 1252), "?");
    // Unpaired surrogates, in UTF-8 and in an ANSI code page.
    EXPECT_EQ(narrow(L"a\xD800z", CP_UTF8), "a?z");
    EXPECT_EQ(narrow(L"a\xDC00", CP_UTF8), "a?");
    EXPECT_EQ(narrow(L"a\xD800z", 1252), "a?z");
}

// A folder of each test's own: tests run side by side, each in a process of its own.
class RunLogFile : public SandboxTest {
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        dir_ = box_.updateDir;
        path_ = box_.log;
    }
    void TearDown() override { closeRunLog(); }

    std::wstring dir_;
    std::wstring path_;
};

TEST_F(RunLogFile, LinesEndInCrLfAndAreInTheFileAsSoonAsTheyEnd)
{
    writeFile(path_, "old content of an earlier run\r\n");
    openRunLog(path_.c_str());
    EXPECT_EQ(readFile(path_), "");
    logLine("Remove it");
    EXPECT_EQ(readFile(path_), "Remove it\r\n");
    logPath("dest=", L"C:\\R\\a.txt");
    logText("File to remove: ", L"x\\y \"z\"");
    logNumber("File not writable!! Tries: ", 0);
    logNumber("n ", -12);
    logMessage("Exception: ", "rename: failed");
    EXPECT_EQ(readFile(path_),
              logLines({"Remove it", "dest=\"C:\\\\R\\\\a.txt\"", "File to remove: x\\y \"z\"",
                        "File not writable!! Tries: 0", "n -12", "Exception: rename: failed"}));
    closeRunLog();
}

TEST_F(RunLogFile, OthersCanReadAndWriteTheOpenLog)
{
    openRunLog(path_.c_str());
    UniqueFileHandle other(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(other) << GetLastError();
}

TEST_F(RunLogFile, FailedOpenSwallowsEveryLine)
{
    // Held without sharing by another process: the open fails, nothing is written.
    writeFile(path_, "kept");
    {
        UniqueFileHandle holder(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        openRunLog(path_.c_str());
        EXPECT_TRUE(runLog.failed);
        logLine("lost");
    }
    closeRunLog();
    EXPECT_EQ(readFile(path_), "kept");
}

TEST_F(RunLogFile, SecondOpenFailsAndLeavesTheFirstFileOpen)
{
    openRunLog(path_.c_str());
    logLine("first");
    const std::wstring other = dir_ + L"\\other.log";
    openRunLog(other.c_str());
    EXPECT_TRUE(runLog.failed);
    EXPECT_FALSE(exists(other));
    logLine("dropped");
    closeRunLog();
    EXPECT_EQ(readFile(path_), "first\r\n");
}
