#include "helpers/harness.h"
#include "run/elevation_seams.h"
#include "run/environment_seams.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const std::wstring retryText = L"Для обновления лаунчера необходимы права администратора\n"
                               L"Нажмите \x041E\x041A для повтора";

} // namespace

// The loop asks Windows for a twin and, each time that fails, the user: as many requests
// as OK answers plus one, with no cap (only the user's answer ends it); a box that
// cannot be shown (0) gives up like Cancel. A twin that came back without rights asks
// the user first: as many requests as OK answers, never one on its own.
TEST(ElevationRetryLoop, RequestsFollowTheUsersAnswers)
{
    const struct {
        int acceptAt; // the request that succeeds; 0: none
        std::vector<int> answers;
        FirstAsk first;
        int requests;
        size_t prompts;
    } rows[] = {
        {1, {}, FirstAsk::Windows, 1, 0},
        {0, {IDOK, IDOK, IDCANCEL}, FirstAsk::Windows, 3, 3},
        {0, {IDOK, IDOK, IDOK, IDCANCEL}, FirstAsk::Windows, 4, 4},
        {3, {IDOK, IDOK, IDCANCEL}, FirstAsk::Windows, 3, 2},
        {0, {IDOK, 0, IDOK}, FirstAsk::Windows, 2, 2},
        {1, {IDCANCEL}, FirstAsk::User, 0, 1},
        {1, {IDOK}, FirstAsk::User, 1, 1},
        {0, {IDOK, IDOK, IDCANCEL}, FirstAsk::User, 2, 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "accepted at " << row.acceptAt << ", answers "
                                        << testing::PrintToString(row.answers)
                                        << (row.first == FirstAsk::User ? ", the user first" : ""));
        int requests = 0;
        size_t prompts = 0;
        relaunchElevated(
            [&] { return ++requests == row.acceptAt; },
            [&] { return prompts < row.answers.size() ? row.answers[prompts++] : IDCANCEL; },
            row.first);
        EXPECT_EQ(requests, row.requests);
        EXPECT_EQ(prompts, row.prompts);
    }
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
    }

    // Starts an instance without administrator rights, with an earlier run's log beside
    // it, whose parent, the stand-in, lives until the test ends it (or has ended before
    // the instance runs); `prepare` runs while the instance is still suspended.
    template <typename Prepare>
    Started start(const std::wstring& args, Prepare prepare, bool parentStays = true)
    {
        writeFile(box_.log, earlierLog);
        ResetEvent(end_.get());
        StartOptions options;
        options.args = args;
        options.end = parentStays ? L"event:" + endEvent_ : L"now";
        options.restricted = true;
        options.suspended = true;
        Started started = startThroughStandin(box_, options);
        // The running image keeps its name; the file can move away under it.
        EXPECT_TRUE(MoveFileW(box_.updater.c_str(), (box_.updater + L".running").c_str()));
        prepare();
        if (!parentStays) {
            EXPECT_EQ(exitCodeOf(started.standin.get()), 0u);
        }
        ResumeThread(started.thread.get());
        return started;
    }

    void putRecorderInPlace() { copyFile(binDir() + L"\\recorder.exe", box_.updater); }
    // What the twin, the recorder in the updater's place, records of its starts.
    std::wstring twin() const { return box_.updater + L".record"; }

    // Ends the stand-in and checks that the instance ends after it, with exit code 0.
    void expectExitAfterParent(Started& started)
    {
        EXPECT_EQ(WaitForSingleObject(started.updater.get(), 500), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the instance ended before its parent";
        SetEvent(end_.get());
        EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
        EXPECT_EQ(WaitForSingleObject(started.standin.get(), 0), WAIT_OBJECT_0);
        expectLogUntouched();
    }

    void expectLogUntouched()
    {
        EXPECT_EQ(readFile(box_.log), earlierLog) << "an unelevated instance writes no log";
    }

    const std::string earlierLog = "left by an earlier run";
    std::wstring endEvent_;
    UniqueHandle end_;
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

// An instance without administrator rights asks Windows for one elevated twin, in its own
// working folder, with its own argument text byte for byte (none: an empty text), and
// ends after its parent, or at once where that has ended; it writes no log.
TEST_F(Unelevated, AsksForOneElevatedTwinWithTheSameArgumentsAndFolder)
{
    const struct {
        const char* what;
        bool root; // the argument text begins with the quoted root
        std::wstring rest;
        bool parentStays;
    } rows[] = {
        {"quotes, blanks and backslashes", true,
         L"  \"old file.dll\" a\\b \"q\\\"uote\" \"tail\\\\\"", true},
        {"no arguments", false, L"", true},
        {"the parent ended already", true, L"", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        nextRowSandbox();
        const std::wstring args = (row.root ? inQuotes(box_.root) : L"") + row.rest;
        Started started = start(
            args, [this] { putRecorderInPlace(); }, row.parentStays);
        const Record record = readRecord(twin());
        ASSERT_EQ(record.cwd, std::string(box_.updateDir.begin(), box_.updateDir.end()));
        EXPECT_EQ(argumentsOf(record.commandLine), std::string(args.begin(), args.end()));
        if (row.parentStays) {
            expectExitAfterParent(started);
        } else {
            EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
            expectLogUntouched();
        }
        EXPECT_EQ(readRecord(twin()).starts, 1) << "more than one twin";
    }
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
    EXPECT_EQ(readFile(twin()), "<missing>");
}

TEST_F(Unelevated, RetryAfterAFailedRequestStartsTheTwinOnce)
{
    Started started = start(inQuotes(box_.root), [] {});
    answerMessageBoxShowing(started.pid, retryText, IDOK);
    // Put in place while the second prompt shows: the retry, not the first request, finds it.
    ASSERT_NE(waitForMessageBox(started.pid), nullptr) << "no second prompt";
    putRecorderInPlace();
    answerMessageBoxShowing(started.pid, retryText, IDOK);
    EXPECT_EQ(readRecord(twin()).starts, 1) << "no twin";
    EXPECT_EQ(waitForMessageBox(started.pid, 1000), nullptr)
        << "a prompt after an accepted request";
    expectExitAfterParent(started);
    EXPECT_EQ(readRecord(twin()).starts, 1) << "more than one twin";
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
        writeFile(box_.log, earlierLog);
        Started started = startThroughStandin(box_, options);
        ASSERT_TRUE(started.updater);
        DWORD twin = 0;
        const HWND box = waitForWindowOfImage(box_.updater, L"Qorvath Launcher Updater", twin);
        ASSERT_NE(box, nullptr) << "no retry prompt; updater processes: "
                                << processesRunning(box_.updater).size();
        EXPECT_NE(twin, started.pid) << "the first instance asked the user instead of Windows";
        EXPECT_LE(processesRunning(box_.updater).size(), 2u) << "the first instance and one twin";
        answerMessageBoxShowing(twin, retryText, IDCANCEL);
        quietPeriod(1000);
        EXPECT_LE(processesRunning(box_.updater).size(), 2u) << "a twin started after Cancel";
        EXPECT_EQ(waitForMessageBox(twin, 0), nullptr);

        // Both wait for the launcher, then end.
        SetEvent(end_.get());
        EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
        EXPECT_TRUE(waitUntil([&] { return processesRunning(box_.updater).empty(); }))
            << "an updater process left";
        expectLogUntouched();
        ResetEvent(end_.get());
    }
}
