#include "common/paths.h"

#include "common/fs_error.h"
#include "common/unique_any.h"
#include "common/win32_text.h"

#include <windows.h>

#include <vector>

namespace {

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool isDriveLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool isDrive(const std::wstring& path)
{
    return path.size() == 2 && isDriveLetter(path[0]) && path[1] == L':';
}

bool startsWithDrive(const std::wstring& path)
{
    return path.size() >= 2 && isDriveLetter(path[0]) && path[1] == L':';
}

// Length of the root name: "X:" or "\\server" (two separators, then a name).
size_t rootNameLength(const std::wstring& path)
{
    if (startsWithDrive(path))
        return 2;
    if (path.size() > 2 && isSeparator(path[0]) && isSeparator(path[1]) && !isSeparator(path[2])) {
        size_t end = 2;
        while (end < path.size() && !isSeparator(path[end]))
            ++end;
        return end;
    }
    return 0;
}

struct Parsed {
    std::wstring rootName;
    bool rootDirectory = false;
    std::vector<std::wstring> names; // a trailing separator gives a last empty name
};

Parsed parse(const std::wstring& path)
{
    Parsed parsed;
    const size_t rootLength = rootNameLength(path);
    parsed.rootName = path.substr(0, rootLength);
    size_t pos = rootLength;
    if (pos < path.size() && isSeparator(path[pos])) {
        parsed.rootDirectory = true;
        while (pos < path.size() && isSeparator(path[pos]))
            ++pos;
    }
    while (pos < path.size()) {
        size_t end = pos;
        while (end < path.size() && !isSeparator(path[end]))
            ++end;
        parsed.names.push_back(path.substr(pos, end - pos));
        pos = end;
        if (pos < path.size()) {
            while (pos < path.size() && isSeparator(path[pos]))
                ++pos;
            if (pos == path.size())
                parsed.names.emplace_back();
        }
    }
    return parsed;
}

bool isAbsolute(const Parsed& parsed)
{
    return !parsed.rootName.empty() && parsed.rootDirectory;
}

bool hasFileName(const std::wstring& path)
{
    const Parsed parsed = parse(path);
    return !parsed.names.empty() && !parsed.names.back().empty();
}

} // namespace

std::wstring fileName(const std::wstring& path)
{
    size_t start = path.size();
    while (start > 0 && !isSeparator(path[start - 1]) && !(start == 2 && startsWithDrive(path)))
        --start;
    return path.substr(start);
}

std::wstring fileStem(const std::wstring& name)
{
    if (name == L"." || name == L"..")
        return name;
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos || dot == 0)
        return name;
    return name.substr(0, dot);
}

std::wstring appendPath(const std::wstring& base, const std::wstring& name)
{
    if (base.empty() || isDrive(base) || isSeparator(base.back()))
        return base + name;
    return base + L"\\" + name;
}

std::wstring joinPath(const std::wstring& base, const std::wstring& relative)
{
    if (!relative.empty() && !startsWithDrive(relative) && !isSeparator(relative[0]))
        return appendPath(base, relative);

    const Parsed other = parse(relative);
    const Parsed mine = parse(base);
    if (isAbsolute(other) || (!other.rootName.empty() && other.rootName != mine.rootName))
        return relative;
    if (other.rootDirectory)
        return mine.rootName + relative.substr(other.rootName.size());
    std::wstring result = base;
    if (hasFileName(base) || (!mine.rootDirectory && isAbsolute(mine)))
        result += L"\\";
    return result + relative.substr(other.rootName.size());
}

std::wstring lexicallyRelative(const std::wstring& path, const std::wstring& base)
{
    const Parsed mine = parse(path);
    const Parsed other = parse(base);
    if (mine.rootName != other.rootName || isAbsolute(mine) != isAbsolute(other) ||
        (!mine.rootDirectory && other.rootDirectory))
        return {};
    size_t common = 0;
    while (common < mine.names.size() && common < other.names.size() &&
           mine.names[common] == other.names[common])
        ++common;
    if (common == mine.names.size() && common == other.names.size())
        return L".";
    int climb = 0;
    for (size_t i = common; i < other.names.size(); ++i) {
        if (other.names[i] == L"..")
            --climb;
        else if (!other.names[i].empty() && other.names[i] != L".")
            ++climb;
    }
    if (climb < 0)
        return {};
    if (climb == 0 && (common == mine.names.size() || mine.names[common].empty()))
        return L".";
    std::wstring result;
    for (int i = 0; i < climb; ++i)
        result = appendPath(result, L"..");
    for (size_t i = common; i < mine.names.size(); ++i)
        result = appendPath(result, mine.names[i]);
    return result;
}

bool staysBelow(const std::wstring& relative)
{
    const Parsed parsed = parse(relative);
    if (relative.empty() || !parsed.rootName.empty() || parsed.rootDirectory)
        return false;
    for (const std::wstring& name : parsed.names) {
        if (name == L"." || name == L"..")
            return false;
    }
    return true;
}

bool liesBelow(const std::wstring& finalPath, const std::wstring& folder)
{
    return staysBelow(lexicallyRelative(finalPath, folder));
}

std::wstring fullPath(const std::wstring& path)
{
    std::wstring full;
    if (!queryText(
            [&](wchar_t* buffer, DWORD capacity) {
                return GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
            },
            full))
        throw FileSystemError("weakly_canonical", GetLastError(), path);
    return full;
}

namespace {

bool isVerbatim(const std::wstring& path)
{
    return path.rfind(L"\\\\?\\", 0) == 0;
}

} // namespace

std::wstring verbatimPath(const std::wstring& path)
{
    if (isVerbatim(path))
        return path;
    const std::wstring full = fullPath(path);
    if (full.rfind(L"\\\\.\\", 0) == 0 || isVerbatim(full))
        return full; // a device path is taken as written already
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::wstring shownPath(const std::wstring& path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return L"\\" + path.substr(7);
    if (isVerbatim(path))
        return path.substr(4);
    return path;
}

std::wstring withRequestedNames(const std::wstring& finalPath, const std::wstring& requested)
{
    const Parsed resolved = parse(finalPath);
    const Parsed asked = parse(shownPath(requested));
    if (!sameFinalPath(resolved.rootName, asked.rootName) ||
        resolved.names.size() != asked.names.size())
        return finalPath;
    std::wstring result = resolved.rootName + (resolved.rootDirectory ? L"\\" : L"");
    bool changed = false;
    for (size_t i = 0; i < resolved.names.size(); ++i) {
        const std::wstring& got = resolved.names[i];
        const std::wstring& name = asked.names[i];
        if (sameFinalPath(got, name)) {
            result += got; // the letter case as stored
        } else if (name.size() > got.size() && sameFinalPath(got, name.substr(0, got.size())) &&
                   name.find_first_not_of(L". ", got.size()) == std::wstring::npos) {
            result += name;
            changed = true;
        } else {
            return finalPath; // another place: a link on the way
        }
        if (i + 1 < resolved.names.size())
            result += L'\\';
    }
    return changed ? result : finalPath;
}

namespace {

// The final form of an existing path; an empty result when it does not exist.
std::wstring finalPath(const std::wstring& path)
{
    UniqueFileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        const DWORD code = GetLastError();
        if (isMissingPathError(code))
            return {};
        throw FileSystemError("weakly_canonical", code, shownPath(path));
    }
    return withRequestedNames(finalPathOf(file.get(), path), path);
}

} // namespace

std::wstring finalPathOf(HANDLE file, const std::wstring& path)
{
    std::wstring final;
    if (!queryText(
            [file](wchar_t* buffer, DWORD capacity) {
                return GetFinalPathNameByHandleW(file, buffer, capacity,
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
            },
            final))
        throw FileSystemError("weakly_canonical", GetLastError(), shownPath(path));
    return shownPath(final);
}

std::wstring weaklyCanonical(const std::wstring& path)
{
    if (path.empty())
        return path;
    // GetFullPathNameW has already resolved "." and ".." lexically, so the missing
    // tail only has to be carried over. A verbatim path holds exact names, which it
    // would rewrite.
    const std::wstring full = isVerbatim(path) ? path : fullPath(path);
    std::wstring existing = full;
    std::vector<std::wstring> missing;
    for (;;) {
        std::wstring resolved = finalPath(existing);
        if (!resolved.empty()) {
            for (auto name = missing.rbegin(); name != missing.rend(); ++name)
                resolved = appendPath(resolved, *name);
            return resolved;
        }
        const Parsed parsed = parse(existing);
        if (parsed.names.empty())
            return full; // not even the root exists
        std::wstring name = fileName(existing);
        existing.resize(existing.size() - name.size());
        while (existing.size() > parsed.rootName.size() + 1 && isSeparator(existing.back()))
            existing.pop_back();
        if (!name.empty())
            missing.push_back(name);
    }
}

bool sameFinalPath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool isPlainSingleFile(HANDLE file)
{
    // Two cheap queries: GetFileInformationByHandle would also ask for the volume's
    // serial number.
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    return GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
           !(basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) &&
           !standard.Directory && standard.NumberOfLinks == 1;
}

bool isSameFile(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION first;
    BY_HANDLE_FILE_INFORMATION second;
    return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}
