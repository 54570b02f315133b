// The limit the updater is measured against: walk the update folder and move each
// file to the same place below the root with MoveFileExW, nothing else.
#include <windows.h>

#include <string>

namespace {

void walk(const std::wstring& dir, const std::wstring& target)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic, &entry,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            walk(dir + L"\\" + name, target + L"\\" + name);
        else if (name != L"Updater.exe" && name != L"Updater.log")
            MoveFileExW((dir + L"\\" + name).c_str(), (target + L"\\" + name).c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 1;
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    walk(cwd, argv[1]);
    return 0;
}
