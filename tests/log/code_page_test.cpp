// Run once per locale (LC_ALL), since Wine fixes a program's ANSI code page at its
// start. Each test first checks that it runs under the code page it is about.
#include "helpers/harness.h"

#include <gtest/gtest.h>

namespace {

std::string targetLine(const Sandbox& box, const std::wstring& root)
{
    // Not the launcher's root: the run stops after its first lines, naming it.
    const RunResult run = runRefused(box, inQuotes(root), root);
    EXPECT_EQ(run.exitCode, 1u) << run.log;
    return run.log.substr(0, run.log.find("\r\n") + 2);
}

} // namespace

TEST(CodePage1251, CyrillicIsWrittenAsSingleAnsiBytes)
{
    ASSERT_EQ(GetACP(), 1251u) << "run this test with LC_ALL=ru_RU.UTF-8";
    const Sandbox box = makeSandbox();
    EXPECT_EQ(targetLine(box, L"C:\\\x0418\x0433\x0440\x044B\\Root"),
              "targetDir = \"C:\\\\\xC8\xE3\xF0\xFB\\\\Root\"\r\n");
}

TEST(CodePage1252, CyrillicBecomesQuestionMarksAndTheRunGoesOn)
{
    ASSERT_EQ(GetACP(), 1252u) << "run this test with LC_ALL=en_US.UTF-8";
    const Sandbox box = makeSandbox();
    EXPECT_EQ(targetLine(box, L"C:\\\x0418\x0433\x0440\x044B"), "targetDir = \"C:\\\\????\"\r\n");
}

TEST(CodePage932, TrailByteLikeABackslashIsEscaped)
{
    ASSERT_EQ(GetACP(), 932u) << "run this test with LC_ALL=ja_JP.UTF-8";
    const Sandbox box = makeSandbox();
    // U+8868 is 0x95 0x5C in code page 932.
    EXPECT_EQ(targetLine(box, L"C:\\\x8868"), "targetDir = \"C:\\\\\x95\\\x5C\"\r\n");
}
