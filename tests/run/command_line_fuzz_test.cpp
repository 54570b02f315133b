// Generated argument texts: quotes, backslashes before quotes, blanks, empty
// arguments and letters outside ASCII must reach the elevated twin byte for byte, and
// the log must show exactly what the command-line split yields.
#include "helpers/harness.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::wstring generatedArguments(std::mt19937& random)
{
    static const std::wstring pieces[] = {
        L"a",    L"Zz",       L" ",    L"  ",           L"\"",     L"\\",
        L"\\\\", L"\\\"",     L"\"\"", L"\x0416\x0438", L"\x00E9", L"C:\\Games\\Root",
        L"x y",  L"\\\\\\\"", L"\t",   L"\x8868",
    };
    std::uniform_int_distribution<size_t> count(0, 12);
    std::uniform_int_distribution<size_t> pick(0, sizeof pieces / sizeof pieces[0] - 1);
    std::wstring text;
    for (size_t i = count(random); i > 0; --i)
        text += pieces[pick(random)];
    return text;
}

bool moveWithRetry(const std::wstring& from, const std::wstring& to)
{
    return waitUntil(
        [&] { return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE; },
        5000);
}

} // namespace

TEST(CommandLineFuzzSlow, LogShowsExactlyWhatTheSplitYields)
{
    const Sandbox box = makeSandbox();
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        const std::wstring text = generatedArguments(random);
        SCOPED_TRACE("argument text: " + utf8(text));
        const std::vector<std::wstring> args =
            splitLikeWindows(L"\"" + box.updater + L"\" " + text);
        // None of these roots is the launcher's: each run stops after its first lines.
        const RunResult run =
            args.size() < 2 ? runUpdater(box, text)
                            : runRefused(box, text, args[1].empty() ? box.updateDir : args[1]);
        if (args.size() < 2) {
            EXPECT_EQ(run.log, "No args, exit 1\r\n");
            EXPECT_EQ(run.exitCode, 1u);
            continue;
        }
        std::string expected = "targetDir = " + logged(args[1]) + "\r\n";
        for (size_t i = 2; i < args.size(); ++i)
            expected += "File to remove: " + loggedText(args[i]) + "\r\n";
        expected += "updateDir = ";
        EXPECT_EQ(run.log.substr(0, expected.size()), expected);
        ASSERT_GE(run.log.size(), 2u);
        EXPECT_TRUE(endsWith(run.log, "\r\n"));
    }
}

TEST(CommandLineFuzzSlow, ArgumentTextReachesTheElevatedTwinUnchanged)
{
    const Sandbox box = makeSandbox();
    const std::wstring real = box.updateDir + L"\\real.bin";
    const std::wstring recorder = box.updateDir + L"\\recorder.bin";
    const std::wstring record = box.updater + L".record";
    copyFile(binDir() + L"\\recorder.exe", recorder);
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        const std::wstring text = generatedArguments(random);
        SCOPED_TRACE("argument text: " + utf8(text));
        StartOptions options;
        options.args = text;
        options.restricted = true;
        options.suspended = true;
        Started started = startThroughStandin(box, options);
        ASSERT_TRUE(started.updater);
        // The running image keeps its name while its file moves away.
        ASSERT_TRUE(moveWithRetry(box.updater, real));
        ASSERT_TRUE(moveWithRetry(recorder, box.updater));
        ResumeThread(started.thread.get());
        EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
        const std::string commandLine = readRecord(record).commandLine;
        const std::string program = "\"" + utf8(box.updater) + "\"";
        // The twin's command line is its program, a blank, and our argument text.
        EXPECT_EQ(commandLine, text.empty() ? program : program + " " + utf8(text));
        ASSERT_TRUE(moveWithRetry(box.updater, recorder));
        ASSERT_TRUE(moveWithRetry(real, box.updater));
        DeleteFileW(record.c_str());
    }
    EXPECT_FALSE(exists(box.log));
}
