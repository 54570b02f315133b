// Stands in for a program that the updater starts ("Qorvath Launcher.exe", or the
// elevated twin). Appends one record per start to "<own path>.record": the working
// directory and the full command line, UTF-8, one per line. A test reads it back.
#include "common/unique_any.h"

#include <windows.h>

#include <string>

namespace {

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], length,
                        nullptr, nullptr);
    return result;
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
    const UniqueFileHandle file(CreateFileW(recordPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return 2;
    DWORD written = 0;
    WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    return 0;
}
