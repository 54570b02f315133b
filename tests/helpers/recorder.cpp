// Stands in for a program that the updater starts ("Qorvath Launcher.exe", or the
// elevated twin). Appends one record per start to "<own path>.record": the working
// directory and the full command line, UTF-8, one per line. A test reads it back, and
// may read it the moment it appears: the record is written whole under another name
// and then renamed into place, so that it is never seen half written. Before that, the
// id of the process that started it and, where it still runs, its file name go to
// "<own path>.parent"; and where QLU_PROBE_HANDLE names a handle of the program that
// started it, whatever file that handle value leads to here goes to "<own path>.handle"
// (nothing: no such handle was inherited).
#include "common/unique_any.h"
#include "support/text.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cwchar>
#include <string>

namespace {

// The id of the process that started this one, and its executable's file name where
// that process still runs (an updater that started us has ended by now).
std::wstring parentIdAndName()
{
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId())
            parent = entry.th32ParentProcessID;
    }
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (parent != 0 && entry.th32ProcessID == parent)
            return std::to_wstring(parent) + L" " + entry.szExeFile;
    }
    return std::to_wstring(parent) + L" ";
}

bool writeWhole(const std::wstring& path, const std::string& content)
{
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                     nullptr) &&
           written == content.size();
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t self[32768];
    const DWORD selfLength = GetModuleFileNameW(nullptr, self, 32768);
    wchar_t cwd[32768];
    const DWORD cwdLength = GetCurrentDirectoryW(32768, cwd);
    const std::string record =
        "cwd=" + utf8(std::wstring(cwd, cwdLength)) + "\ncmdline=" + utf8(GetCommandLineW()) + "\n";
    const std::wstring recordPath = std::wstring(self, selfLength) + L".record";
    const std::wstring partPath = recordPath + L"." + std::to_wstring(GetCurrentProcessId());
    std::string content;
    {
        const UniqueFileHandle earlier(CreateFileW(recordPath.c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        char buffer[4096];
        DWORD read = 0;
        while (earlier && ReadFile(earlier.get(), buffer, sizeof buffer, &read, nullptr) && read)
            content.append(buffer, read);
    }
    content += record;
    wchar_t probe[32] = {};
    if (GetEnvironmentVariableW(L"QLU_PROBE_HANDLE", probe, 32) > 0) {
        const auto handle =
            reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(std::wcstoull(probe, nullptr, 10)));
        wchar_t leadsTo[MAX_PATH] = {};
        const DWORD length = GetFinalPathNameByHandleW(handle, leadsTo, MAX_PATH, 0);
        if (!writeWhole(std::wstring(self, selfLength) + L".handle",
                        length > 0 && length < MAX_PATH ? utf8(leadsTo) : std::string()))
            return 2;
    }
    if (!writeWhole(std::wstring(self, selfLength) + L".parent", utf8(parentIdAndName())) ||
        !writeWhole(partPath, content))
        return 2;
    return MoveFileExW(partPath.c_str(), recordPath.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 2;
}
