#include "update/receiving_folder.h"

#include "fs/file_identity.h"
#include "fs/path_text.h"
#include "update/in_folder.h"

namespace {

constexpr wchar_t copyMarker[] = L".qorvath-updater-";
constexpr wchar_t copySuffix[] = L".new";

bool isCopyName(const std::wstring& found)
{
    const std::wstring marker = copyMarker;
    const std::wstring suffix = copySuffix;
    if (found.size() <= marker.size() + suffix.size() || found.compare(0, marker.size(), marker) ||
        found.compare(found.size() - suffix.size(), suffix.size(), suffix))
        return false;
    const std::wstring middle =
        found.substr(marker.size(), found.size() - marker.size() - suffix.size());
    const size_t dash = middle.find(L'-');
    return dash != std::wstring::npos && dash > 0 && dash + 1 < middle.size() &&
           middle.find_first_not_of(L"0123456789-") == std::wstring::npos &&
           middle.find(L'-', dash + 1) == std::wstring::npos;
}

void removeCopiesLeftIn(const HeldFolder& folder)
{
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle find(FindFirstFileExW(
        appendPath(folder.exact, std::wstring(copyMarker) + L"*" + copySuffix).c_str(),
        FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    for (BOOL more = static_cast<bool>(find); more; more = FindNextFileW(find.get(), &entry)) {
        const std::wstring name = entry.cFileName;
        if (!isCopyName(name))
            continue;
        const OpenedFile copy = openInFolder(folder.handle.get(), name,
                                             DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                             shareAll, Disposition::OpenExisting);
        if (copy.handle && isPlainFileIn(folder, name, copy.handle.get()))
            deleteOpened(copy.handle.get());
    }
}

} // namespace

std::wstring copyName(DWORD process, unsigned attempt)
{
    return copyMarker + std::to_wstring(process) + L"-" + std::to_wstring(attempt) + copySuffix;
}

std::wstring shownIn(const HeldFolder& folder, const std::wstring& name)
{
    return shownPath(appendPath(folder.exact, name));
}

bool isPlainFileIn(const HeldFolder& folder, const std::wstring& name, HANDLE file)
{
    return isPlainFileAt(file, appendPath(folder.exact, name), appendPath(folder.canonical, name));
}

HeldFolder holdDestFolder(const std::wstring& exact)
{
    HeldFolder folder;
    folder.exact = exact;
    OpenedFile held = holdFolder(exact);
    folder.handle = std::move(held.handle);
    folder.openError = held.error;
    if (folder.handle)
        folder.canonical =
            withRequestedNames(finalPathOf(folder.handle.get(), shownPath(exact)), exact);
    return folder;
}

void readyToReceive(HeldFolder& folder, Durability& durability)
{
    if (!folder.handle || folder.receives)
        return;
    removeCopiesLeftIn(folder);
    noteMoveInto(durability, folder.exact);
    folder.receives = true;
}
