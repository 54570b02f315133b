#include "helpers/harness.h"

#include "fs/fs_error.h"
#include "log/log_words.h"

#include <gtest/gtest.h>

#include <shellapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <iostream>
#include <cwctype>
#include <cstdio>
#include <cwchar>
#include <vector>

void reportSetupFailure(const std::string& what)
{
    ADD_FAILURE() << what;
}

std::wstring updaterBuild()
{
    return binDir() + L"\\Updater.exe";
}

namespace {

std::wstring testName()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
    for (char& c : name) {
        if (c == '/')
            c = '_';
    }
    return widen(name);
}

} // namespace

Sandbox makeSandbox(const std::wstring& baseDir)
{
    Sandbox sandbox;
    sandbox.base = baseDir.empty() ? binDir() + L"\\sandbox\\" + testName() : baseDir;
    removeTree(sandbox.base);
    sandbox.root = sandbox.base + L"\\root";
    sandbox.updateDir = sandbox.root + L"\\resources\\update";
    sandbox.updater = sandbox.updateDir + L"\\Updater.exe";
    sandbox.log = sandbox.updateDir + L"\\Updater.log";
    makeDirs(sandbox.updateDir);
    copyFile(updaterBuild(), sandbox.updater);
    return sandbox;
}

const Sandbox& SandboxTest::nextRowSandbox()
{
    if (firstBase_.empty())
        firstBase_ = box_.base;
    box_ = makeSandbox(firstBase_ + L"-" + std::to_wstring(++rows_));
    return box_;
}

std::wstring uniqueName(const wchar_t* prefix)
{
    static std::atomic<int> counter{0};
    return std::wstring(prefix) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter);
}

namespace {

UniqueHandle& currentJob()
{
    static UniqueHandle job;
    return job;
}

HANDLE testJob()
{
    UniqueHandle& job = currentJob();
    if (!job) {
        // Wine starts its desktop shell for the first program that needs a desktop, as
        // that program's child: one started for a program in a test's job would end with
        // the test. Asked for here, it is a child of the test program, in no job.
        GetDesktopWindow();
        job.reset(CreateJobObjectW(nullptr, nullptr));
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!job || !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                             sizeof limits))
            ADD_FAILURE() << "cannot make the test's job: " << GetLastError();
    }
    return job.get();
}

// Closing the job's only handle ends every process in it.
class EndProcessesOfTheTest : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override { currentJob().reset(); }
};

const bool endProcessesOfEveryTest = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new EndProcessesOfTheTest);
    return true;
}();

} // namespace

StartedProcess startProcess(const std::wstring& program, std::wstring commandLine, DWORD flags,
                            const std::wstring& workDir, STARTUPINFOW* startup, bool inheritHandles)
{
    STARTUPINFOW plain = {};
    plain.cb = sizeof plain;
    PROCESS_INFORMATION info = {};
    // Suspended until it is in the job, so that nothing it starts escapes the job.
    if (!createProcessRetrying([&] {
            return CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr,
                                  inheritHandles ? TRUE : FALSE, flags | CREATE_SUSPENDED, nullptr,
                                  workDir.empty() ? nullptr : workDir.c_str(),
                                  startup ? startup : &plain, &info);
        })) {
        ADD_FAILURE() << "cannot start " << testing::PrintToString(program) << ": "
                      << GetLastError();
        return {};
    }
    StartedProcess started{UniqueHandle(info.hProcess), UniqueHandle(info.hThread)};
    if (!AssignProcessToJobObject(testJob(), info.hProcess))
        ADD_FAILURE() << "cannot put the process in the test's job: " << GetLastError();
    if (!(flags & CREATE_SUSPENDED))
        ResumeThread(info.hThread);
    return started;
}

Started startThroughStandin(const Sandbox& sandbox, const StartOptions& options)
{
    Started started;
    SetEnvironmentVariableW(L"QLU_UPDATER",
                            (options.updater.empty() ? sandbox.updater : options.updater).c_str());
    SetEnvironmentVariableW(
        L"QLU_WORKDIR", (options.workDir.empty() ? sandbox.updateDir : options.workDir).c_str());
    SetEnvironmentVariableW(L"QLU_ARGS", options.args.empty() ? nullptr : options.args.c_str());
    SetEnvironmentVariableW(L"QLU_END", options.end.c_str());
    SetEnvironmentVariableW(L"QLU_TEST_PID", std::to_wstring(GetCurrentProcessId()).c_str());
    SetEnvironmentVariableW(L"QLU_RESTRICTED", options.restricted ? L"1" : nullptr);
    SetEnvironmentVariableW(L"QLU_RESTRICTED_PARENT", options.restrictedParent ? L"1" : nullptr);
    SetEnvironmentVariableW(L"QLU_SUSPENDED", options.suspended ? L"1" : nullptr);

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe failed";
        return started;
    }
    UniqueHandle reader(readEnd);
    UniqueHandle writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = nullptr;
    const std::wstring standin = binDir() + L"\\launcher_standin.exe";
    started.standin = startProcess(standin, L"\"" + standin + L"\"", 0, {}, &startup, true).process;
    if (!started.standin)
        return started;
    writer.reset();

    std::string line;
    char c;
    DWORD read = 0;
    while (ReadFile(reader.get(), &c, 1, &read, nullptr) && read == 1 && c != '\n')
        line += c;
    unsigned long long process = 0;
    unsigned long long thread = 0;
    unsigned long pid = 0;
    if (std::sscanf(line.c_str(), "%llu %llu %lu", &process, &thread, &pid) != 3) {
        ADD_FAILURE() << "the launcher stand-in did not start the updater: '" << line << "'";
        return started;
    }
    started.updater.reset(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(process)));
    started.thread.reset(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(thread)));
    started.pid = pid;
    return started;
}

DWORD exitCodeOf(HANDLE process, DWORD timeoutMs)
{
    timeoutMs = scaledTimeout(timeoutMs);
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "process still running after " << timeoutMs << " ms; ending it";
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
}

Started startWithoutParent(const Sandbox& sandbox, const std::wstring& args)
{
    StartOptions options;
    options.args = args;
    return startWithoutParent(sandbox, options);
}

Started startWithoutParent(const Sandbox& sandbox, StartOptions options)
{
    options.end = L"now";
    options.suspended = true;
    Started started = startThroughStandin(sandbox, options);
    if (started.updater) {
        exitCodeOf(started.standin.get());
        ResumeThread(started.thread.get());
    }
    return started;
}

RunResult runUpdater(const Sandbox& sandbox, const std::wstring& args, DWORD timeoutMs)
{
    Started started = startWithoutParent(sandbox, args);
    if (!started.updater)
        return {999, {}};
    const DWORD code = exitCodeOf(started.updater.get(), timeoutMs);
    return {code, readFile(sandbox.log)};
}

std::string lastLineOf(const std::string& log)
{
    const size_t start = log.size() < 3 ? std::string::npos : log.rfind("\r\n", log.size() - 3);
    return log.substr(start == std::string::npos ? 0 : start + 2);
}

bool waitForLog(const Sandbox& sandbox, const std::string& part)
{
    return waitUntil([&] { return readFile(sandbox.log).find(part) != std::string::npos; });
}

RunResult runRefused(const Sandbox& sandbox, const std::wstring& args,
                     const std::wstring& concerned)
{
    Started started = startWithoutParent(sandbox, args);
    if (!started.updater)
        return {999, {}};
    answerMessageBoxShowing(started.pid, failureText(concerned));
    const DWORD code = exitCodeOf(started.updater.get());
    return {code, readFile(sandbox.log)};
}

std::string waitForFile(const std::wstring& path)
{
    std::string content;
    waitUntil([&] { return (content = readFile(path)) != "<missing>"; });
    return content;
}

Record readRecord(const std::wstring& path)
{
    const std::string text = waitForFile(path);
    Record record;
    if (text == "<missing>")
        return record;
    const auto field = [&text](const std::string& name) {
        const size_t start = text.find(name);
        if (start == std::string::npos)
            return std::string();
        const size_t value = start + name.size();
        return text.substr(value, text.find('\n', value) - value);
    };
    record.cwd = field("cwd=");
    record.commandLine = field("\ncmdline=");
    record.starts = countOf(text, "cwd=");
    return record;
}

testing::AssertionResult contains(const std::string& text, const std::string& part)
{
    const bool found = text.find(part) != std::string::npos;
    return (found ? testing::AssertionSuccess() : testing::AssertionFailure())
           << testing::PrintToString(part) << (found ? " stands in:\n" : " is missing from:\n")
           << text;
}

testing::AssertionResult endsWith(const std::string& text, const std::string& end)
{
    const bool ends =
        text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    return (ends ? testing::AssertionSuccess() : testing::AssertionFailure())
           << "the text " << (ends ? "ends" : "does not end") << " with "
           << testing::PrintToString(end) << ":\n"
           << text;
}

testing::AssertionResult startsWith(const std::string& text, const std::string& start)
{
    const bool starts = text.compare(0, start.size(), start) == 0;
    return (starts ? testing::AssertionSuccess() : testing::AssertionFailure())
           << "the text " << (starts ? "starts" : "does not start") << " with "
           << testing::PrintToString(start) << ":\n"
           << text;
}

int countOf(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1))
        ++count;
    return count;
}

std::string logLines(std::initializer_list<std::string> lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

std::string loggedText(const std::wstring& text)
{
    const UINT codePage = GetACP();
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] < 0x20 || text[i] == 0x7F) {
            bytes += '?';
            continue;
        }
        const int units =
            IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1]) ? 2
                                                                                               : 1;
        char out[16];
        BOOL usedDefault = FALSE;
        const bool utf8 = codePage == CP_UTF8;
        const int length = WideCharToMultiByte(
            codePage, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, &text[i], units, out,
            sizeof out, nullptr, utf8 ? nullptr : &usedDefault);
        if (length <= 0 || usedDefault)
            bytes += '?';
        else
            bytes.append(out, static_cast<size_t>(length));
        i += static_cast<size_t>(units) - 1;
    }
    return bytes;
}

std::string logged(const std::wstring& path)
{
    std::string quoted = "\"";
    for (char byte : loggedText(path)) {
        if (byte == '\\' || byte == '"')
            quoted += '\\';
        quoted += byte;
    }
    return quoted + "\"";
}

namespace {

// A top-level window with this caption of process `pid` (0: of any process).
HWND windowOf(DWORD pid, const std::wstring& caption)
{
    for (HWND window = FindWindowExW(nullptr, nullptr, nullptr, caption.c_str()); window;
         window = FindWindowExW(nullptr, window, nullptr, caption.c_str())) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (pid == 0 || owner == pid)
            return window;
    }
    return nullptr;
}

} // namespace

HWND waitForMessageBox(DWORD pid, DWORD timeoutMs)
{
    HWND box = nullptr;
    waitUntil([&] { return (box = windowOf(pid, L"Qorvath Launcher Updater")) != nullptr; },
              timeoutMs);
    return box;
}

std::vector<DWORD> processesRunning(const std::wstring& image)
{
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    std::vector<DWORD> running;
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        const UniqueHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        wchar_t path[MAX_PATH];
        DWORD length = MAX_PATH;
        if (process && QueryFullProcessImageNameW(process.get(), 0, path, &length) &&
            CompareStringOrdinal(path, static_cast<int>(length), image.c_str(),
                                 static_cast<int>(image.size()), TRUE) == CSTR_EQUAL)
            running.push_back(entry.th32ProcessID);
    }
    return running;
}

HWND waitForWindowOfImage(const std::wstring& image, const std::wstring& caption, DWORD& owner,
                          DWORD timeoutMs)
{
    HWND window = nullptr;
    waitUntil(
        [&] {
            for (const DWORD pid : processesRunning(image)) {
                if ((window = windowOf(pid, caption)) != nullptr) {
                    owner = pid;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return window;
}

std::wstring messageBoxText(HWND box)
{
    // The message box keeps its text in a static control with the id 0xFFFF.
    HWND text = GetDlgItem(box, 0xFFFF);
    wchar_t buffer[4096] = {};
    SendMessageW(text ? text : box, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

void answerMessageBox(HWND box, int button)
{
    PostMessageW(box, WM_COMMAND, button, 0);
}

std::vector<std::wstring> splitLikeWindows(const std::wstring& commandLine)
{
    int count = 0;
    UniqueAny<wchar_t**, &LocalFree> argv(CommandLineToArgvW(commandLine.c_str(), &count));
    std::vector<std::wstring> args;
    for (int i = 0; argv && i < count; ++i)
        args.emplace_back(argv.get()[i]);
    return args;
}

bool rowLeftOut(bool done, const std::string& why)
{
    if (!done)
        std::cout << "row left out: " << why << "\n";
    return !done;
}

std::string runEndLines(const Sandbox& box)
{
    const std::wstring launcher = box.root + L"\\Qorvath Launcher.exe";
    if (exists(launcher))
        return logLines({words::preparing, words::launched, words::allDone});
    return logLines({words::preparing,
                     words::launcherNotStarted + std::string("GetFileAttributesW: ") +
                         systemMessage(ERROR_FILE_NOT_FOUND) + " " + logged(launcher),
                     words::launched, words::allDone});
}

std::wstring failureText(const std::wstring& concerned)
{
    return L"При обновлении не удалось заменить файл на новый!\nФайл: " + concerned +
           L"\nПопробуйте снова, либо переместите все файлы из \"resources\\update\" в "
           L"корень лаунчера вручную.";
}

std::wstring startLauncherText(const std::wstring& launcher)
{
    return L"Обновление установлено, но запустить лаунчер не удалось.\nЕсли он не открылся, "
           L"запустите его вручную:\n" +
           launcher;
}

void answerMessageBoxShowing(DWORD pid, const std::wstring& text, int button)
{
    const HWND box = waitForMessageBox(pid);
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_EQ(messageBoxText(box), text);
    ASSERT_NE(GetDlgItem(box, button), nullptr) << "no button " << button;
    answerMessageBox(box, button);
    EXPECT_TRUE(waitUntil([box] { return !IsWindow(box); }, 5000))
        << "the box stays after the answer";
}

std::string subPathLine(const std::wstring& path)
{
    return words::subPath + logged(path);
}

std::string walkLines(const Sandbox& sandbox, const std::wstring& folder)
{
    const std::wstring walked = folder.empty() ? sandbox.updateDir : folder;
    std::string lines = words::step + logged(walked) + "\r\n";
    for (const std::wstring& name : listing(walked)) {
        const std::wstring path = walked + L"\\" + name;
        const std::wstring relative = path.substr(sandbox.updateDir.size() + 1);
        if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            lines += logLines({subPathLine(path), words::directory}) + walkLines(sandbox, path);
        else if (relative == L"Updater.exe" || relative == L"Updater.log")
            lines += logLines({subPathLine(path), words::ownFile});
        else
            lines += logLines({subPathLine(path), words::relativePath + logged(relative),
                               words::dest + logged(sandbox.root + L"\\" + relative),
                               words::removeIt, words::moveIt});
    }
    return lines;
}
