// Starts Updater.exe the way the launcher does: working directory the update folder,
// first argument the root folder. Hands the updater's process and thread handles to
// the test (duplicated into the test's process, written to standard output), then
// ends when the test says so. Configured through the environment, so that argument
// texts reach the updater byte for byte:
//   QLU_UPDATER   path of the updater executable
//   QLU_WORKDIR   its working directory
//   QLU_ARGS      the argument text after the program path (may be empty or absent)
//   QLU_TEST_PID  the process that receives the handles (0: nobody)
//   QLU_END       "now", "delay:<ms>" or "event:<name>"
//   QLU_RESTRICTED  "1": start the updater with Administrators for deny-only
//   QLU_RESTRICTED_PARENT  "1": the stand-in itself runs with Administrators for
//                   deny-only and starts the updater as administrator (an unelevated
//                   launcher, or first instance, that an elevated instance has as parent)
//   QLU_SUSPENDED   "1": leave the updater suspended; the test resumes it
//   QLU_HIDE_IMAGE  "1": move the updater's file away before it runs, so that every
//                   request for an elevated twin fails (as when the user declines)
#include "common/unique_any.h"
#include "support/processes.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring env(const wchar_t* name)
{
    wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    return length > 0 && length < 32768 ? std::wstring(buffer, length) : std::wstring();
}

// A suspended updater left behind would hold the Wine prefix busy for ever.
HANDLE startedUpdater = nullptr;

[[noreturn]] void fail(const char* what)
{
    if (startedUpdater)
        TerminateProcess(startedUpdater, 3);
    std::fprintf(stderr, "launcher_standin: %s failed: %lu\n", what, GetLastError());
    std::exit(2);
}

// This process's token with the Administrators group for deny only: what a process of
// an administrator gets before elevation.
UniqueHandle restrictedToken()
{
    UniqueHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY,
                          own.put()))
        fail("OpenProcessToken");
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    UniqueAny<PSID, &FreeSid> admins;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, admins.put()))
        fail("AllocateAndInitializeSid");
    SID_AND_ATTRIBUTES disable = {admins.get(), 0};
    UniqueHandle restricted;
    if (!CreateRestrictedToken(own.get(), 0, 1, &disable, 0, nullptr, 0, nullptr, restricted.put()))
        fail("CreateRestrictedToken");
    return restricted;
}

// The stand-in again, with a restricted token, given an administrator's token to start
// the updater with (QLU_ADMIN_TOKEN, an inherited handle); ends when that one ends.
[[noreturn]] void becomeRestrictedParent()
{
    UniqueHandle own;
    UniqueHandle admin;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put()) ||
        !DuplicateTokenEx(own.get(), TOKEN_ALL_ACCESS, &inherit, SecurityImpersonation,
                          TokenPrimary, admin.put()))
        fail("DuplicateTokenEx");
    SetEnvironmentVariableW(
        L"QLU_ADMIN_TOKEN",
        std::to_wstring(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(admin.get())))
            .c_str());
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = std::wstring(L"\"") + self + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    const UniqueHandle token = restrictedToken();
    if (!createProcessRetrying([&] {
            return CreateProcessAsUserW(token.get(), self, &commandLine[0], nullptr, nullptr, TRUE,
                                        0, nullptr, nullptr, &startup, &info);
        }))
        fail("CreateProcessAsUserW");
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 2;
    GetExitCodeProcess(process.get(), &code);
    std::exit(static_cast<int>(code));
}

} // namespace

int main()
{
    const std::wstring adminToken = env(L"QLU_ADMIN_TOKEN");
    if (env(L"QLU_RESTRICTED_PARENT") == L"1" && adminToken.empty())
        becomeRestrictedParent();
    const std::wstring updater = env(L"QLU_UPDATER");
    const std::wstring workDir = env(L"QLU_WORKDIR");
    const std::wstring args = env(L"QLU_ARGS");
    const std::wstring end = env(L"QLU_END");
    const DWORD testPid =
        static_cast<DWORD>(std::wcstoul(env(L"QLU_TEST_PID").c_str(), nullptr, 10));

    std::wstring commandLine = L"\"" + updater + L"\"";
    if (!args.empty())
        commandLine += L" " + args;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    const UniqueHandle token = !adminToken.empty()
                                   ? UniqueHandle(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(
                                         std::wcstoull(adminToken.c_str(), nullptr, 10))))
                               : env(L"QLU_RESTRICTED") == L"1" ? restrictedToken()
                                                                : UniqueHandle();
    const BOOL started = createProcessRetrying([&] {
        if (token)
            return CreateProcessAsUserW(token.get(), updater.c_str(), &commandLine[0], nullptr,
                                        nullptr, FALSE, CREATE_SUSPENDED, nullptr, workDir.c_str(),
                                        &startup, &info);
        return CreateProcessW(updater.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                              CREATE_SUSPENDED, nullptr, workDir.c_str(), &startup, &info);
    });
    if (!started)
        fail("CreateProcess");
    startedUpdater = info.hProcess;
    const UniqueHandle updaterProcess(info.hProcess);
    const UniqueHandle updaterThread(info.hThread);

    // Without a test (the demonstration) nobody takes the handles.
    const UniqueHandle test(testPid ? OpenProcess(PROCESS_DUP_HANDLE, FALSE, testPid) : nullptr);
    HANDLE process = nullptr;
    HANDLE thread = nullptr;
    if (testPid && !test)
        fail("OpenProcess");
    if (test && (!DuplicateHandle(GetCurrentProcess(), info.hProcess, test.get(), &process, 0,
                                  FALSE, DUPLICATE_SAME_ACCESS) ||
                 !DuplicateHandle(GetCurrentProcess(), info.hThread, test.get(), &thread, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS)))
        fail("DuplicateHandle");
    std::printf(
        "%llu %llu %lu\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(process)),
        static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(thread)), info.dwProcessId);
    std::fflush(stdout);

    if (env(L"QLU_HIDE_IMAGE") == L"1")
        MoveFileExW(updater.c_str(), (updater + L".hidden").c_str(), MOVEFILE_REPLACE_EXISTING);
    if (env(L"QLU_SUSPENDED") != L"1")
        ResumeThread(info.hThread);

    if (end.rfind(L"delay:", 0) == 0) {
        Sleep(static_cast<DWORD>(std::wcstoul(end.c_str() + 6, nullptr, 10)));
    } else if (end.rfind(L"event:", 0) == 0) {
        const UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, end.c_str() + 6));
        WaitForSingleObject(event.get(), INFINITE);
    }
    return 0;
}
