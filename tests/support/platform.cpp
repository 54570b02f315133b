#include "support/platform.h"

#include "common/unique_any.h"
#include "support/files.h"
#include "support/processes.h"
#include "support/waiting.h"

#include <winioctl.h>
#include <exdisp.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <sstream>
#include <vector>

bool runningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::wstring linuxPath(const std::wstring& path)
{
    using UnixFileName = char*(CDECL*)(const wchar_t*);
    const auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* const unix = unixFileName ? unixFileName(path.c_str()) : nullptr;
    if (!unix)
        return path;
    std::wstring result(unix, unix + strlen(unix)); // a test's paths are ASCII
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

namespace {

// Runs a program of /bin and waits until `done` holds (Wine gives no handle to wait on
// for a Linux program). False when it never does.
template <typename Done>
bool runLinux(const std::wstring& program, const std::wstring& arguments, Done done,
              DWORD timeoutMs = 30000)
{
    const std::wstring path = L"Z:\\bin\\" + program;
    std::wstring commandLine = path + L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!createProcessRetrying([&] {
            return CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                  nullptr, nullptr, &startup, &info);
        }))
        return false;
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    return waitUntil(done, timeoutMs);
}

bool listed(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    const UniqueFindHandle find(FindFirstFileW(path.c_str(), &data));
    return static_cast<bool>(find);
}

bool holdsName(const std::wstring& folder, const std::wstring& name)
{
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    for (BOOL more = static_cast<bool>(find); more; more = FindNextFileW(find.get(), &entry)) {
        if (name == entry.cFileName)
            return true;
    }
    return false;
}

bool makeLinuxLink(const std::wstring& target, const std::wstring& link, std::string* why)
{
    // Listed even when it points at nothing.
    if (runLinux(L"ln", L"-s " + inQuotes(linuxPath(target)) + L" " + inQuotes(linuxPath(link)),
                 [&] { return listed(link) || exists(link); }))
        return true;
    *why = "/bin/ln made no link";
    return false;
}

bool makeWindowsLink(const std::wstring& target, const std::wstring& link, DWORD flags,
                     std::string* why)
{
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(),
                            flags | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        return true;
    *why = "CreateSymbolicLinkW failed (" + std::to_string(GetLastError()) +
           "): run the tests elevated or turn on developer mode";
    return false;
}

// The mount-point form of a reparse point, as FSCTL_SET_REPARSE_POINT takes it.
struct MountPoint {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
};

void removeWindowsTree(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    // A link or junction is removed itself; what it leads to stays.
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW entry;
        const UniqueFindHandle find(FindFirstFileW((path + L"\\*").c_str(), &entry));
        for (BOOL more = static_cast<bool>(find); more; more = FindNextFileW(find.get(), &entry)) {
            const std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..")
                removeWindowsTree(path + L"\\" + name);
        }
    }
    RemoveDirectoryW(path.c_str());
}

} // namespace

bool makeFileLink(const std::wstring& target, const std::wstring& link, std::string* why)
{
    return runningUnderWine() ? makeLinuxLink(target, link, why)
                              : makeWindowsLink(target, link, 0, why);
}

bool makeFolderLink(const std::wstring& target, const std::wstring& link, std::string* why)
{
    return runningUnderWine() ? makeLinuxLink(target, link, why)
                              : makeWindowsLink(target, link, SYMBOLIC_LINK_FLAG_DIRECTORY, why);
}

bool makeJunction(const std::wstring& target, const std::wstring& link, std::string* why)
{
    if (runningUnderWine()) {
        *why = "Wine has no junctions";
        return false;
    }
    if (!CreateDirectoryW(link.c_str(), nullptr)) {
        *why = "cannot make the junction's folder";
        return false;
    }
    const UniqueFileHandle folder(
        CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const std::wstring substitute = L"\\??\\" + target;
    std::vector<wchar_t> names(substitute.begin(), substitute.end());
    names.push_back(L'\0');
    names.insert(names.end(), target.begin(), target.end());
    names.push_back(L'\0');
    const WORD namesBytes = static_cast<WORD>(names.size() * sizeof(wchar_t));
    MountPoint header = {IO_REPARSE_TAG_MOUNT_POINT,
                         static_cast<WORD>(8 + namesBytes),
                         0,
                         0,
                         static_cast<WORD>(substitute.size() * sizeof(wchar_t)),
                         static_cast<WORD>((substitute.size() + 1) * sizeof(wchar_t)),
                         static_cast<WORD>(target.size() * sizeof(wchar_t))};
    std::vector<BYTE> buffer(sizeof header + namesBytes);
    memcpy(buffer.data(), &header, sizeof header);
    memcpy(buffer.data() + sizeof header, names.data(), namesBytes);
    DWORD returned = 0;
    if (folder &&
        DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                        static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr))
        return true;
    *why = "FSCTL_SET_REPARSE_POINT failed (" + std::to_string(GetLastError()) + ")";
    return false;
}

void removeTree(const std::wstring& path)
{
    if (!exists(path) && !listed(path))
        return;
    if (!runningUnderWine())
        return removeWindowsTree(path);
    // From the Linux side: Wine follows links even to delete them. rm removes the top
    // last: once it is gone, rm is done.
    runLinux(L"rm", L"-rf " + inQuotes(linuxPath(path)),
             [&] { return !exists(path) && !listed(path); });
}

bool runLinuxUntilFileExists(const std::wstring& program, const std::wstring& arguments,
                             const std::wstring& file, std::string* why, DWORD timeoutMs)
{
    if (!runningUnderWine()) {
        *why = "Linux programs run only under Wine";
        return false;
    }
    if (runLinux(
            program, arguments, [&] { return exists(file); }, timeoutMs))
        return true;
    *why = "/bin/" + std::string(program.begin(), program.end()) + " made no file";
    return false;
}

bool makeReadOnly(const std::wstring& path, std::string* why)
{
    if (!SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY)) {
        *why = "cannot set the read-only attribute";
        return false;
    }
    const UniqueFileHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    if (!writer)
        return true;
    *why = "a read-only file opens for writing here (Wine run by root)";
    return false;
}

bool renameHeldFolder(const std::wstring& from, const std::wstring& to, std::string* why)
{
    if (!runningUnderWine()) {
        *why = "Windows keeps a process's working folder from being renamed";
        return false;
    }
    if (runLinux(L"mv", inQuotes(linuxPath(from)) + L" " + inQuotes(linuxPath(to)),
                 [&] { return exists(to); }))
        return true;
    *why = "/bin/mv did not rename the folder";
    return false;
}

bool makeFileNamedWithLineBreak(const std::wstring& folder, const std::wstring& name,
                                std::string* why)
{
    if (!runningUnderWine()) {
        *why = "Windows allows no line break in a file name";
        return false;
    }
    if (runLinux(L"touch", inQuotes(linuxPath(folder) + L"/" + name),
                 [&] { return holdsName(folder, name); }))
        return true;
    *why = "/bin/touch made no such file";
    return false;
}

long long processorMillis(HANDLE process, const std::wstring& commandLinePart)
{
    if (!runningUnderWine()) {
        FILETIME created, exited, kernel, user;
        if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
            return -1;
        const auto ticks = [](const FILETIME& time) {
            return (static_cast<long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        };
        return (ticks(kernel) + ticks(user)) / 10000;
    }
    const std::string part(commandLinePart.begin(), commandLinePart.end());
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle find(FindFirstFileW(L"Z:\\proc\\*", &entry));
    for (BOOL more = static_cast<bool>(find); more; more = FindNextFileW(find.get(), &entry)) {
        const std::wstring pid = entry.cFileName;
        if (pid.find_first_not_of(L"0123456789") != std::wstring::npos)
            continue;
        const auto read = [&](const wchar_t* name) {
            const UniqueFileHandle file(CreateFileW((L"Z:\\proc\\" + pid + name).c_str(),
                                                    GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, 0, nullptr));
            std::string text;
            char buffer[4096];
            DWORD got = 0;
            while (file && ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got)
                text.append(buffer, got);
            return text;
        };
        std::string commandLine = read(L"\\cmdline");
        for (char& c : commandLine) {
            if (c == '\0')
                c = ' ';
        }
        if (commandLine.find(part) == std::string::npos)
            continue;
        const std::string stat = read(L"\\stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        long long ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14 || i == 15)
                ticks += std::atoll(field.c_str()); // user, then system time
        }
        return ticks * 10; // clock ticks of 10 ms
    }
    return -1;
}

std::wstring otherVolume(std::string* why)
{
    if (runningUnderWine())
        return L"S:\\";
    wchar_t folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"QLU_OTHER_VOLUME", folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        return folder;
    *why = "set QLU_OTHER_VOLUME to a folder on another volume than the build";
    return {};
}

bool waitForDesktopShell(DWORD timeoutMs)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool answered = waitUntil(
        [] {
            IShellWindows* windows = nullptr;
            if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                        IID_IShellWindows, reinterpret_cast<void**>(&windows))))
                return false;
            VARIANT desktop;
            VariantInit(&desktop);
            desktop.vt = VT_I4;
            desktop.lVal = CSIDL_DESKTOP;
            VARIANT none;
            VariantInit(&none);
            long window = 0;
            IDispatch* found = nullptr;
            const bool shown = windows->FindWindowSW(&desktop, &none, SWC_DESKTOP, &window,
                                                     SWFO_NEEDDISPATCH, &found) == S_OK &&
                               found;
            if (found)
                found->Release();
            windows->Release();
            return shown;
        },
        timeoutMs);
    CoUninitialize();
    return answered;
}

std::wstring smallVolume(std::string* why)
{
    // One test at a time fills it: a test that runs beside another would find it full
    // before its own copy. Held until this process (one test, under ctest) ends.
    static const HANDLE turn = CreateMutexW(nullptr, FALSE, L"Global\\qlu-small-volume");
    if (!turn || WaitForSingleObject(turn, INFINITE) == WAIT_FAILED) {
        *why = "the small volume's turn cannot be had";
        return {};
    }
    ULARGE_INTEGER free = {};
    ULARGE_INTEGER total = {};
    if (GetDiskFreeSpaceExW(L"T:\\", &free, &total, nullptr) && total.QuadPart <= 4 * 1024 * 1024)
        return L"T:\\";
    *why = "no small volume at T: (the test scripts mount one where the host lets them)";
    return {};
}

std::wstring scratchDrive(std::string* why)
{
    if (runningUnderWine())
        return L"R:";
    wchar_t drive[8] = {};
    const DWORD length = GetEnvironmentVariableW(L"QLU_SCRATCH_DRIVE", drive, 8);
    if (length == 2 && drive[1] == L':')
        return drive;
    *why = "set QLU_SCRATCH_DRIVE to a drive (\"X:\") whose root the tests may fill";
    return {};
}
