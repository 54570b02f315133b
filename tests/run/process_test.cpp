#include "helpers/harness.h"
#include "run/desktop_shell_seams.h"
#include "run/process_seams.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <vector>

TEST(ParentLookup, ProcessCreatedAfterUsIsNoParent)
{
    // Stands for an id that a younger process took over from our ended parent: the
    // reuse itself cannot be brought about on purpose.
    const std::wstring recorder = binDir() + L"\\recorder.exe";
    const StartedProcess child = startProcess(recorder, inQuotes(recorder), CREATE_SUSPENDED);
    ASSERT_TRUE(child.process);
    EXPECT_FALSE(createdNoLaterThanUs(child.process.get()));
    EXPECT_TRUE(createdNoLaterThanUs(GetCurrentProcess()));
}

namespace {

class ProcessControl : public SandboxTest {
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        // Blanks, doubled too, in every path: the launcher gets its own path as its only
        // argument whatever they are.
        box_ = makeSandbox(box_.base + L" with  blanks");
        launcher_ = box_.root + L"\\Qorvath Launcher.exe";
    }

    std::string launcherRecord() { return readFile(launcher_ + L".record"); }
    // The id of the process that started the launcher, a blank, and its file name where
    // it still runs.
    std::string launcherParent() { return readFile(launcher_ + L".parent"); }

    // Starts the updater through a stand-in that lives until end_ is set, with the root
    // as given (the sandbox's own when empty).
    Started startWithLivingParent(bool restrictedParent = false, const std::wstring& root = {})
    {
        const std::wstring event = uniqueName(L"qlu-end");
        end_.reset(CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
        StartOptions options;
        options.args = inQuotes(root.empty() ? box_.root : root);
        options.end = L"event:" + event;
        options.restrictedParent = restrictedParent;
        return startThroughStandin(box_, options);
    }

    std::wstring launcher_;
    UniqueHandle end_;
};

// The windows of a process, top-level and message-only, that do not answer a message
// within a second.
int unansweredWindowsOf(DWORD pid)
{
    int unanswered = 0;
    for (const HWND parent : {HWND(nullptr), HWND_MESSAGE}) {
        for (HWND window = FindWindowExW(parent, nullptr, nullptr, nullptr); window;
             window = FindWindowExW(parent, window, nullptr, nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            DWORD_PTR result = 0;
            unanswered += owner == pid &&
                          !SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 1000, &result);
        }
    }
    return unanswered;
}

} // namespace

// The update waits for the launcher, then applies the tree depth first in listing order
// (the update folder keeps its folders, emptied of everything but the updater's own
// files), and starts the launcher again.
TEST_F(ProcessControl, CompleteRunWaitsForTheLauncherThenAppliesTheTreeAndStartsItAgain)
{
    copyFile(binDir() + L"\\recorder.exe", launcher_);
    makeDirs(box_.root + L"\\bin");
    writeFile(box_.root + L"\\bin\\x.dll", "old");
    makeDirs(box_.updateDir + L"\\bin");
    writeFile(box_.updateDir + L"\\bin\\x.dll", "new");
    writeFile(box_.updateDir + L"\\a.txt", "new a");
    writeFile(box_.log, ""); // the run's own log is listed too
    const std::string walk = walkLines(box_);
    Started started = startWithLivingParent();
    ASSERT_TRUE(started.updater);

    const std::string waiting =
        logLines({"targetDir = " + logged(box_.root), "updateDir = " + logged(box_.updateDir),
                  "Have parent, killing"});
    waitUntil([&] { return readFile(box_.log) == waiting; });
    EXPECT_EQ(readFile(box_.log), waiting);
    // Nothing below the root changes while the launcher lives, and it is not killed.
    quietPeriod(1000);
    EXPECT_EQ(WaitForSingleObject(started.standin.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(readFile(box_.root + L"\\bin\\x.dll"), "old");
    EXPECT_EQ(readFile(box_.log), waiting);
    EXPECT_EQ(launcherRecord(), "<missing>");
    // A thread that owns a window (a COM apartment makes one) must answer its messages;
    // the wait answers none, so the waiting run owns no window at all.
    EXPECT_EQ(unansweredWindowsOf(started.pid), 0);

    SetEvent(end_.get());
    EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
    EXPECT_EQ(readFile(box_.log), waiting + logLines({"Killed"}) + walk + runEndLines(box_));
    EXPECT_EQ(readFile(box_.root + L"\\bin\\x.dll"), "new");
    EXPECT_EQ(readFile(box_.root + L"\\a.txt"), "new a");
    EXPECT_EQ(listing(box_.updateDir + L"\\bin").size(), 0u);
    EXPECT_TRUE(exists(box_.updater));

    // The launcher: started from the root folder, its own path as command line, by the
    // updater itself: whoever started the update was an administrator.
    const std::string root(box_.root.begin(), box_.root.end());
    EXPECT_EQ(waitForFile(launcher_ + L".record"),
              "cwd=" + root + "\ncmdline=\"" + root + "\\Qorvath Launcher.exe\"\n");
    EXPECT_TRUE(startsWith(launcherParent(), std::to_string(started.pid) + " "));
}

// Started by a launcher (or a first instance) without administrator rights, the update
// hands the launcher back with those rights: the desktop shell starts it for the user.
TEST_F(ProcessControl, LauncherComesBackThroughTheDesktopShellWhenTheParentWasNoAdministrator)
{
    copyFile(binDir() + L"\\recorder.exe", launcher_);
    ASSERT_TRUE(waitForDesktopShell()) << "no desktop shell to start the launcher through";
    Started started = startWithLivingParent(true);
    ASSERT_TRUE(started.updater);
    EXPECT_TRUE(waitForLog(box_, "Have parent, killing"));
    SetEvent(end_.get());
    EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
    // The parent was found while it ran: its rights were read.
    EXPECT_NE(readFile(box_.log).find(logLines({"Have parent, killing", "Killed"})),
              std::string::npos)
        << readFile(box_.log);
    const Record record = readRecord(launcher_ + L".record");
    ASSERT_EQ(record.cwd, std::string(box_.root.begin(), box_.root.end()));
    EXPECT_EQ(splitLikeWindows(std::wstring(record.commandLine.begin(), record.commandLine.end())),
              std::vector<std::wstring>{launcher_})
        << record.commandLine;
    EXPECT_NE(launcherParent().rfind(std::to_string(started.pid) + " ", 0), 0u) << launcherParent();
    if (runningUnderWine()) {
        EXPECT_NE(launcherParent().find(" explorer.exe"), std::string::npos) << launcherParent();
    }
}

// A root given through a link (any user may make one in a folder of their own), pointed
// elsewhere while the run waits for the launcher: the files land in the root that was
// checked, and the launcher started is that root's own.
TEST_F(ProcessControl, RootGivenThroughALinkPointedElsewhereDuringTheWaitIsTheOneChecked)
{
    copyFile(binDir() + L"\\recorder.exe", launcher_);
    writeFile(box_.updateDir + L"\\a.txt", "new a");
    const std::wstring elsewhere = box_.base + L"\\elsewhere";
    makeDirs(elsewhere);
    copyFile(binDir() + L"\\recorder.exe", elsewhere + L"\\Qorvath Launcher.exe");
    const std::wstring link = box_.base + L"\\link";
    SKIP_UNLESS(makeFolderLink(box_.root, link, &why));
    Started started = startWithLivingParent(false, link);
    ASSERT_TRUE(waitForLog(box_, "Have parent, killing"));
    removeTree(link);
    SKIP_UNLESS(makeFolderLink(elsewhere, link, &why));
    SetEvent(end_.get());
    EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
    EXPECT_EQ(readFile(box_.root + L"\\a.txt"), "new a");
    EXPECT_EQ(readRecord(launcher_ + L".record").cwd,
              std::string(box_.root.begin(), box_.root.end()));
    EXPECT_EQ(listing(elsewhere), std::vector<std::wstring>{L"Qorvath Launcher.exe"});
}

// A launcher that Windows will not start (here a folder of its name): the update
// is complete, the log says why no launcher runs, and the user is asked to start it.
TEST_F(ProcessControl, LauncherThatCannotBeStartedIsLoggedAndTheUserAskedToStartIt)
{
    makeDirs(launcher_);
    Started started = startWithLivingParent();
    ASSERT_TRUE(waitForLog(box_, "Have parent, killing")); // an administrator: started directly
    SetEvent(end_.get());
    answerMessageBoxShowing(started.pid, startLauncherText(launcher_));
    EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
    const std::string log = readFile(box_.log);
    EXPECT_TRUE(contains(log, logLines({"Preparing for exe launch"}) +
                                  "Launcher not started: " + "CreateProcessW: "))
        << log;
    EXPECT_TRUE(endsWith(log, " " + logged(launcher_) + "\r\n" +
                                  logLines({"Launched", "All done, exiting"})))
        << log;
}

TEST_F(ProcessControl, RunThatFailsEndsWithItsErrorExitCodeOneAndNoLauncher)
{
    copyFile(binDir() + L"\\recorder.exe", launcher_);
    writeFile(box_.updateDir + L"\\a.txt", "new");
    Started started = startWithLivingParent();
    ASSERT_TRUE(started.updater);
    EXPECT_TRUE(waitForLog(box_, "Have parent, killing"));
    // The update folder goes away while the updater waits: the walk cannot list it.
    const std::wstring moved = box_.updateDir + L".gone";
    SKIP_UNLESS(renameHeldFolder(box_.updateDir, moved, &why));
    SetEvent(end_.get());
    answerMessageBoxShowing(started.pid, failureText(box_.updateDir));
    EXPECT_EQ(exitCodeOf(started.updater.get()), 1u);
    const std::string log = readFile(moved + L"\\Updater.log");
    const std::string tail = logLines({"Killed", "Step" + logged(box_.updateDir)}) +
                             "Exception: directory_iterator::directory_iterator: ";
    ASSERT_TRUE(contains(log, tail));
    EXPECT_EQ(log.find("\r\n", log.find(tail) + tail.size()), log.size() - 2)
        << "the error is the last line";
    EXPECT_EQ(readFile(moved + L"\\a.txt"), "new");
    quietPeriod(500);
    EXPECT_EQ(launcherRecord(), "<missing>");
}

TEST_F(ProcessControl, WaitingInstanceSpendsNoProcessorTime)
{
    Started started = startWithLivingParent();
    EXPECT_TRUE(waitForLog(box_, "Have parent, killing"));
    const long long before = processorMillis(started.updater.get(), box_.updater);
    Sleep(3000);
    const long long after = processorMillis(started.updater.get(), box_.updater);
    SetEvent(end_.get());
    EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
    ASSERT_GE(before, 0) << "the updater's processor time cannot be read";
    // A polling wait spends about a second of these three under Wine.
    EXPECT_LT(after - before, 100) << "ms of processor time while waiting";
}

namespace {

// Stand-ins for the desktop shell, which Wine always starts: one that never answers,
// and ones that answer at once.
HANDLE shellThaws = nullptr;
std::wstring shellWasAskedFor;
bool frozenShell(const std::wstring& program, const std::wstring&)
{
    shellWasAskedFor = program;
    WaitForSingleObject(shellThaws, INFINITE);
    return false;
}
bool refusingShellCall(const std::wstring& program, const std::wstring&)
{
    shellWasAskedFor = program;
    return false;
}
int threadsOfThisProcess()
{
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int threads = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry))
        threads += entry.th32OwnerProcessID == GetCurrentProcessId();
    return threads;
}
template <ShellAnswer answer>
ShellAnswer shellThatAnswers(const std::wstring& program, const std::wstring& workDir, DWORD)
{
    shellWasAskedFor = program + L"|" + workDir;
    return answer;
}

} // namespace

TEST_F(ProcessControl, DesktopShellThatIsFrozenIsLateAndOneThatReturnsWithoutStartingRefusedSeam)
{
    const UniqueHandle thaws(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    shellThaws = thaws.get();
    const int threads = threadsOfThisProcess();
    const ULONGLONG begin = GetTickCount64();
    EXPECT_EQ(startThroughDesktopShell(launcher_, box_.root, 1000, frozenShell), ShellAnswer::Late);
    const ULONGLONG took = GetTickCount64() - begin;
    EXPECT_GE(took, 900u);
    EXPECT_LT(took, scaledTimeout(10000));
    // The shell thaws: its thread ends, before the test does (Wine ends a process that
    // exits beside a thread still running with a signal that ctest counts as a failure).
    SetEvent(thaws.get());
    EXPECT_TRUE(waitUntil([&] { return threadsOfThisProcess() <= threads; }));
    EXPECT_EQ(shellWasAskedFor, launcher_);

    EXPECT_EQ(startThroughDesktopShell(launcher_, box_.root, 1000, refusingShellCall),
              ShellAnswer::Refused);
}

// Where no desktop shell takes the start, a launcher that is to run at the starter's
// rights runs with the starter's token, or not at all: never with the administrator's,
// and never beside a shell call that may still start it. It is named by its full path
// whatever form the root was given in.
TEST_F(ProcessControl, WithoutADesktopShellTheLauncherRunsAsItsStarterOrNotAtAllSeam)
{
    copyFile(binDir() + L"\\recorder.exe", launcher_);
    UniqueHandle ours;
    UniqueHandle starters;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE, ours.put()));
    ASSERT_TRUE(DuplicateTokenEx(ours.get(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY,
                                 nullptr, SecurityImpersonation, TokenPrimary, starters.put()));
    const struct {
        const char* name;
        DesktopShellStart shell;
        HANDLE starterToken;
        const char* notStarted;
    } rows[] = {
        {"refused, no token", shellThatAnswers<ShellAnswer::Refused>, nullptr,
         "desktop shell: refused; the starter's rights could not be read"},
        {"late, a token", shellThatAnswers<ShellAnswer::Late>, starters.get(),
         "desktop shell: no answer within 5 s"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(startLauncherProcess(launcher_, box_.root, LauncherRights::SignedInUser,
                                       row.starterToken, row.shell),
                  row.notStarted);
        EXPECT_EQ(shellWasAskedFor, launcher_ + L"|" + box_.root);
        quietPeriod(1000);
        EXPECT_EQ(launcherRecord(), "<missing>") << "started all the same";
    }

    ASSERT_EQ(startLauncherProcess(launcher_, box_.root, LauncherRights::SignedInUser,
                                   starters.get(), shellThatAnswers<ShellAnswer::Refused>),
              "");
    EXPECT_EQ(readRecord(launcher_ + L".record").cwd,
              std::string(box_.root.begin(), box_.root.end()));
    DeleteFileW((launcher_ + L".record").c_str());

    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    ASSERT_TRUE(SetCurrentDirectoryW(box_.updateDir.c_str()));
    startLauncher(L"..\\..", LauncherRights::SignedInUser, starters.get(),
                  shellThatAnswers<ShellAnswer::Refused>);
    SetCurrentDirectoryW(cwd);
    EXPECT_EQ(shellWasAskedFor, launcher_ + L"|" + box_.root);
    EXPECT_EQ(readRecord(launcher_ + L".record").cwd,
              std::string(box_.root.begin(), box_.root.end()));
}
