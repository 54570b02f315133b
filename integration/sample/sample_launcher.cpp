// A launcher as small as a launcher gets, to show the exchange with the updater: when
// an update waits in resources\update it starts the updater and ends at once (the
// updater waits for that end); otherwise it shows its version, the first line of
// version.txt beside it. Built as "Qorvath Launcher.exe".
#include "qorvath_updater.h"

#include <windows.h>

#include <string>

namespace {

std::wstring ownFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            // A drive's root keeps its backslash: "X:" alone is a drive's current folder.
            const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
            return folder.size() == 2 && folder[1] == L':' ? folder + L"\\" : folder;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring versionIn(const std::wstring& folder)
{
    const HANDLE file = CreateFileW((folder + L"\\version.txt").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return L"unknown";
    const qorvath::detail::ScopedHandle owner{file, &CloseHandle};
    char text[64] = {};
    DWORD read = 0;
    ReadFile(file, text, sizeof text - 1, &read, nullptr);
    std::string line(text, read);
    line = line.substr(0, line.find_first_of("\r\n"));
    return std::wstring(line.begin(), line.end()); // version numbers are ASCII
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const std::wstring root = ownFolder();
    if (qorvath::updateWaiting(root)) {
        const DWORD error = qorvath::startUpdater(root, qorvath::updaterPath(root));
        if (error == ERROR_SUCCESS)
            return 0;
        const std::wstring text = L"The update could not be started (error " +
                                  std::to_wstring(error) + L"). Starting the current version.";
        MessageBoxW(nullptr, text.c_str(), L"Qorvath Launcher", MB_OK | MB_ICONWARNING);
    }
    const std::wstring text = L"Qorvath Launcher, version " + versionIn(root);
    MessageBoxW(nullptr, text.c_str(), L"Qorvath Launcher", MB_OK | MB_ICONINFORMATION);
    return 0;
}
