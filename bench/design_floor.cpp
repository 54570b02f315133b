// The floor of the updater's design: per file exactly the calls the design cannot do
// without, and nothing else. The listing; the update file opened once, its kind, its
// number of names and its final path read on that handle (the checks before it is
// copied); the destination's folder held open once per folder; the probe of the
// destination; the administrator's own copy, created relative to that folder, written
// from the update file's handle, flushed, renamed over the destination relative to the
// folder, given the update file's times; the update file deleted through its handle;
// the volumes flushed after the last file; the five log lines of a file written one by
// one. Paths are formatted as the updater's log would have them only in length, not in
// bytes: the floor writes, it does not render.
#include "common/unique_any.h"
#include "update/durability.h"
#include "update/in_folder.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

struct Floor {
    HANDLE log;
    Durability durability;    // the volumes flushed after the last file
    std::vector<char> buffer; // one for the whole run
};

void writeLine(const Floor& floor, const std::wstring& text)
{
    const std::string line(text.begin(), text.end());
    DWORD written = 0;
    WriteFile(floor.log, (line + "\r\n").data(), static_cast<DWORD>(line.size() + 2), &written,
              nullptr);
}

void applyFile(Floor& floor, const std::wstring& source, const std::wstring& dest,
               const std::wstring& name, HANDLE folder)
{
    writeLine(floor, L"Sub path\"" + source + L"\"");
    const UniqueFileHandle file(CreateFileW(
        source.c_str(), DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr));
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic);
    GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard);
    wchar_t final[1024];
    GetFinalPathNameByHandleW(file.get(), final, 1024, FILE_NAME_NORMALIZED);
    writeLine(floor, L"relativePath=\"" + std::wstring(source.size() / 2, L'r') + L"\"");
    writeLine(floor, L"dest=\"" + dest + L"\"");
    // The probe: opened and let go.
    openInFolder(folder, name, GENERIC_WRITE, 0, Disposition::OpenExisting).handle.reset();
    writeLine(floor, L"Remove it");
    writeLine(floor, L"Move it");
    const UniqueFileHandle copy =
        openInFolder(folder, L".copy.new", GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                     Disposition::CreateNew)
            .handle;
    for (DWORD read = 0; ReadFile(file.get(), floor.buffer.data(),
                                  static_cast<DWORD>(floor.buffer.size()), &read, nullptr) &&
                         read != 0;) {
        DWORD written = 0;
        WriteFile(copy.get(), floor.buffer.data(), read, &written, nullptr);
    }
    flushFile(copy.get());
    if (!renameReplacingAnyFile(copy.get(), folder, name))
        renameReplacing(copy.get(), folder, name);
    basic.ChangeTime.QuadPart = 0;
    SetFileInformationByHandle(copy.get(), FileBasicInfo, &basic, sizeof basic);
    deleteOpened(file.get());
}

void walk(Floor& floor, const std::wstring& dir, const std::wstring& target)
{
    writeLine(floor, L"Step\"" + dir + L"\"");
    const UniqueFileHandle folder = holdFolder(target).handle;
    noteMoveInto(floor.durability, target);
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
            applyFile(floor, dir + L"\\" + name, target + L"\\" + name, name, folder.get());
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
    Floor floor{log.get(), {}, std::vector<char>(1 << 20)};
    walk(floor, L"\\\\?\\" + std::wstring(cwd), L"\\\\?\\" + std::wstring(argv[1]));
    flushAfterLastMove(floor.durability);
    return 0;
}
