// The floor of the updater's design: per file exactly the calls the design cannot do
// without, and nothing else. The listing; the update file opened once, its kind, its
// number of names and its final path read on that handle (the checks before its
// security is reset); the probe of the destination; one replacing move through the
// handle; owner and access list set on the handle from a list computed once per
// folder (by the updater's own functions); the five log lines of a file written one by one. Paths
// are formatted as the updater's log would have them only in length, not in bytes: the floor
// writes, it does not render.
#include "common/unique_any.h"
#include "update/permissions.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr DWORD allSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct Floor {
    HANDLE log;
};

void writeLine(const Floor& floor, const std::wstring& text)
{
    const std::string line(text.begin(), text.end());
    DWORD written = 0;
    WriteFile(floor.log, (line + "\r\n").data(), static_cast<DWORD>(line.size() + 2), &written,
              nullptr);
}

void applyFile(Floor& floor, const std::wstring& source, const std::wstring& dest,
               const FolderSecurity& security)
{
    writeLine(floor, L"Sub path\"" + source + L"\"");
    const UniqueFileHandle file(CreateFileW(
        source.c_str(), DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
        allSharing, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic);
    GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard);
    wchar_t final[1024];
    GetFinalPathNameByHandleW(file.get(), final, 1024, FILE_NAME_NORMALIZED);
    writeLine(floor, L"relativePath=\"" + std::wstring(source.size() / 2, L'r') + L"\"");
    writeLine(floor, L"dest=\"" + dest + L"\"");
    {
        const UniqueFileHandle probe(CreateFileW(dest.c_str(), GENERIC_WRITE, 0, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    writeLine(floor, L"Remove it");
    writeLine(floor, L"Move it");
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + dest.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->FileNameLength = static_cast<DWORD>(dest.size() * sizeof(wchar_t));
    dest.copy(rename->FileName, dest.size());
    SetFileInformationByHandle(file.get(), FileRenameInfo, rename,
                               static_cast<DWORD>(buffer.size()));
    applyFolderSecurity(file.get(), security);
}

void walk(Floor& floor, const std::wstring& dir, const std::wstring& target)
{
    writeLine(floor, L"Step\"" + dir + L"\"");
    const FolderSecurity security = securityForFilesIn(target);
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle find(FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic, &entry,
                                                 FindExSearchNameMatch, nullptr,
                                                 FIND_FIRST_EX_LARGE_FETCH));
    if (!find)
        return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            walk(floor, dir + L"\\" + name, target + L"\\" + name);
        else if (name != L"Updater.exe" && name != L"Updater.log")
            applyFile(floor, dir + L"\\" + name, target + L"\\" + name, security);
    } while (FindNextFileW(find.get(), &entry));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 1;
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    const UniqueFileHandle log(CreateFileW(L"Updater.log", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    Floor floor{log.get()};
    walk(floor, L"\\\\?\\" + std::wstring(cwd), L"\\\\?\\" + std::wstring(argv[1]));
    return 0;
}
