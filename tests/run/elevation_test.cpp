#include "helpers/harness.h"
#include "run/elevation_seams.h"
#include "run/environment_seams.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const std::wstring retryText = L"Для обновления лаунчера необходимы права администратора\n"
                               L"Нажмите \x041E\x041A для повтора";

// Runs the retry loop with requests that fail until `acceptAt` (0: never) and with
// the given answers; gives the number of requests made.
int requestsMade(int acceptAt, const std::vector<int>& answers, size_t* promptsShown,
                 FirstAsk first = FirstAsk::Windows)
{
    int requests = 0;
    size_t prompts = 0;
    relaunchElevated([&] { return ++requests == acceptAt; },
                     [&] { return prompts < answers.size() ? answers[prompts++] : IDCANCEL; },
                     first);
    *promptsShown = prompts;
    return requests;
}

} // namespace

TEST(ElevationRetryLoop, RequestsAreOkAnswersPlusOne)
{
    size_t prompts = 0;
    EXPECT_EQ(requestsMade(1, {}, &prompts), 1);
    EXPECT_EQ(prompts, 0u);
    EXPECT_EQ(requestsMade(0, {IDOK, IDOK, IDCANCEL}, &prompts), 3);
    EXPECT_EQ(prompts, 3u);
    // No cap on the attempts: only the user's answer ends the loop.
    EXPECT_EQ(requestsMade(0, {IDOK, IDOK, IDOK, IDCANCEL}, &prompts), 4);
    EXPECT_EQ(prompts, 4u);
    EXPECT_EQ(requestsMade(3, {IDOK, IDOK, IDCANCEL}, &prompts), 3);
    EXPECT_EQ(prompts, 2u);
    // A box that cannot be shown (0) gives up like Cancel.
    EXPECT_EQ(requestsMade(0, {IDOK, 0, IDOK}, &prompts), 2);
    EXPECT_EQ(prompts, 2u);
}

// A twin that came back without rights asks the user first: as many requests as OK
// answers, never one on its own.
TEST(ElevationRetryLoop, TwinWithoutRightsRequestsOnlyWhenTheUserSaysOk)
{
    size_t prompts = 0;
    EXPECT_EQ(requestsMade(1, {IDCANCEL}, &prompts, FirstAsk::User), 0);
    EXPECT_EQ(prompts, 1u);
    EXPECT_EQ(requestsMade(1, {IDOK}, &prompts, FirstAsk::User), 1);
    EXPECT_EQ(prompts, 1u);
    EXPECT_EQ(requestsMade(0, {IDOK, IDOK, IDCANCEL}, &prompts, FirstAsk::User), 2);
    EXPECT_EQ(prompts, 3u);
}

TEST(OwnModulePath, GrowsTheBufferUntilTheWholePathFits)
{
    wchar_t expected[32768];
    const DWORD length = GetModuleFileNameW(nullptr, expected, 32768);
    EXPECT_EQ(ownModulePath(4), std::wstring(expected, length));
    EXPECT_EQ(ownModulePath(length), std::wstring(expected, length));
    EXPECT_EQ(ownModulePath(), std::wstring(expected, length));
}

namespace {

class Unelevated : public SandboxTest {
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        endEvent_ = uniqueName(L"qlu-end");
        end_.reset(CreateEventW(nullptr, TRUE, FALSE, endEvent_.c_str()));
        twin_ = box_.updater + L".record";
    }

    // Starts an instance without administrator rights whose parent, the stand-in,
    // lives until the test ends it; `prepare` runs while it is still suspended.
    template <typename Prepare> Started start(const std::wstring& args, Prepare prepare)
    {
        StartOptions options;
        options.args = args;
        options.end = L"event:" + endEvent_;
        options.restricted = true;
        options.suspended = true;
        Started started = startThroughStandin(box_, options);
        // The running image keeps its name; the file can move away under it.
        EXPECT_TRUE(MoveFileW(box_.updater.c_str(), (box_.updater + L".running").c_str()));
        prepare();
        ResumeThread(started.thread.get());
        return started;
    }

    void putRecorderInPlace() { copyFile(binDir() + L"\\recorder.exe", box_.updater); }

    // Ends the stand-in and checks that the instance ends after it, with exit code 0.
    void expectExitAfterParent(Started& started)
    {
        EXPECT_EQ(WaitForSingleObject(started.updater.get(), 500), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the instance ended before its parent";
        SetEvent(end_.get());
        EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
        EXPECT_EQ(WaitForSingleObject(started.standin.get(), 0), WAIT_OBJECT_0);
        EXPECT_FALSE(exists(box_.log)) << "an unelevated instance writes no log";
    }

    std::wstring endEvent_;
    UniqueHandle end_;
    std::wstring twin_;
};

// The argument text after the program in a command line.
std::string argumentsOf(const std::string& commandLine)
{
    size_t pos = 0;
    if (!commandLine.empty() && commandLine[0] == '"')
        pos = commandLine.find('"', 1) + 1;
    else
        pos = commandLine.find(' ');
    if (pos == std::string::npos || pos >= commandLine.size())
        return {};
    return commandLine.substr(commandLine[pos] == ' ' ? pos + 1 : pos);
}

} // namespace

TEST_F(Unelevated, AsksForOneElevatedTwinWithTheSameArgumentsAndFolder)
{
    const std::wstring args =
        L"\"" + box_.root + L"\"  \"old file.dll\" a\\b \"q\\\"uote\" \"tail\\\\\"";
    Started started = start(args, [this] { putRecorderInPlace(); });
    const Record record = readRecord(twin_);
    ASSERT_EQ(record.cwd, std::string(box_.updateDir.begin(), box_.updateDir.end()));
    EXPECT_EQ(argumentsOf(record.commandLine), std::string(args.begin(), args.end()));
    expectExitAfterParent(started);
    EXPECT_EQ(readRecord(twin_).starts, 1) << "more than one twin";
}

TEST_F(Unelevated, WithoutArgumentsTheTwinGetsAnEmptyArgumentText)
{
    writeFile(box_.log, "left by an earlier run");
    Started started = start(L"", [this] { putRecorderInPlace(); });
    const Record record = readRecord(twin_);
    EXPECT_EQ(argumentsOf(record.commandLine), "") << record.commandLine;
    EXPECT_EQ(WaitForSingleObject(started.updater.get(), 500), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(end_.get());
    EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
    EXPECT_EQ(readFile(box_.log), "left by an earlier run");
}

TEST_F(Unelevated, ParentAlreadyEndedMeansRelaunchThenExitAtOnce)
{
    StartOptions options;
    options.args = inQuotes(box_.root);
    options.restricted = true;
    options.suspended = true;
    Started started = startThroughStandin(box_, options); // ends at once
    ASSERT_TRUE(started.updater);
    EXPECT_TRUE(MoveFileW(box_.updater.c_str(), (box_.updater + L".running").c_str()));
    putRecorderInPlace();
    EXPECT_EQ(exitCodeOf(started.standin.get()), 0u);
    ResumeThread(started.thread.get());
    EXPECT_EQ(exitCodeOf(started.updater.get(), 20000), 0u);
    EXPECT_EQ(readRecord(twin_).starts, 1) << "no twin was asked for";
    EXPECT_FALSE(exists(box_.log));
}

TEST_F(Unelevated, DeclinedElevationPromptsUntilTheUserGivesUp)
{
    // With the executable gone, every request fails like a declined elevation.
    Started started = start(inQuotes(box_.root), [] {});
    for (int prompt = 0; prompt < 3; ++prompt)
        answerMessageBoxShowing(started.pid, retryText, IDOK);
    answerMessageBoxShowing(started.pid, retryText, IDCANCEL);
    EXPECT_EQ(waitForMessageBox(started.pid, 1000), nullptr) << "a fifth prompt";
    expectExitAfterParent(started);
    EXPECT_EQ(readFile(twin_), "<missing>");
}

TEST_F(Unelevated, RetryAfterAFailedRequestStartsTheTwinOnce)
{
    Started started = start(inQuotes(box_.root), [] {});
    answerMessageBoxShowing(started.pid, retryText, IDOK);
    putRecorderInPlace();
    answerMessageBoxShowing(started.pid, retryText, IDOK);
    EXPECT_EQ(readRecord(twin_).starts, 1) << "no twin";
    EXPECT_EQ(waitForMessageBox(started.pid, 1000), nullptr)
        << "a prompt after an accepted request";
    expectExitAfterParent(started);
    EXPECT_EQ(readRecord(twin_).starts, 1) << "more than one twin";
}

// Windows starts the "runas" twin without rights where elevation cannot be had (UAC
// off for a standard account; Wine does so from a restricted token). The twin asks the
// user instead of asking Windows again, which would start the same twin for ever; so
// it does when the launcher, and then the first instance, have ended before it looks.
TEST_F(Unelevated, TwinThatComesBackWithoutRightsAsksTheUserInsteadOfRelaunching)
{
    for (const bool launcherStays : {true, false}) {
        SCOPED_TRACE(launcherStays ? "the launcher stays" : "the launcher ends at once");
        StartOptions options;
        options.args = inQuotes(box_.root);
        options.end = launcherStays ? L"event:" + endEvent_ : L"now";
        options.restricted = true;
        Started started = startThroughStandin(box_, options);
        ASSERT_TRUE(started.updater);
        DWORD twin = 0;
        const HWND box = waitForWindowOfImage(box_.updater, L"Qorvath Launcher Updater", twin);
        ASSERT_NE(box, nullptr) << "no retry prompt; updater processes: "
                                << processesRunning(box_.updater).size();
        EXPECT_NE(twin, started.pid) << "the first instance asked the user instead of Windows";
        EXPECT_LE(processesRunning(box_.updater).size(), 2u) << "the first instance and one twin";
        answerMessageBoxShowing(twin, retryText, IDCANCEL);
        Sleep(1000);
        EXPECT_LE(processesRunning(box_.updater).size(), 2u) << "a twin started after Cancel";
        EXPECT_EQ(waitForMessageBox(twin, 0), nullptr);

        // Both wait for the launcher, then end.
        SetEvent(end_.get());
        EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
        EXPECT_TRUE(waitUntil([&] { return processesRunning(box_.updater).empty(); }))
            << "an updater process left";
        EXPECT_FALSE(exists(box_.log)) << "no instance had rights to write one";
        ResetEvent(end_.get());
    }
}
