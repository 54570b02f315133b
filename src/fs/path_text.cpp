#include "fs/path_text.h"

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

bool staysBelowLexically(const std::wstring& relative)
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
    return staysBelowLexically(lexicallyRelative(finalPath, folder));
}

bool liesWithin(const std::wstring& finalPath, const std::wstring& folder)
{
    return sameFinalPath(finalPath, folder) || liesBelow(finalPath, folder);
}

bool isVerbatim(const std::wstring& path)
{
    return path.rfind(L"\\\\?\\", 0) == 0;
}

std::wstring shownPath(const std::wstring& path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return L"\\" + path.substr(7);
    if (isVerbatim(path))
        return path.substr(4);
    return path;
}

std::wstring verbatimOfFinal(const std::wstring& finalPath)
{
    if (isVerbatim(finalPath))
        return finalPath;
    if (finalPath.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + finalPath.substr(2);
    return L"\\\\?\\" + finalPath;
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

bool sameFinalPath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool sameName(const std::wstring& a, const std::wstring& b)
{
    // The one comparison the file system makes, whether of names or of whole paths.
    return sameFinalPath(a, b);
}

std::wstring caseFoldedKey(const std::wstring& finalPath)
{
    std::wstring key = finalPath;
    if (!key.empty())
        CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

std::wstring parentPath(const std::wstring& path)
{
    const Parsed parsed = parse(path);
    if (parsed.names.empty())
        return {};
    std::wstring parent = path.substr(0, path.size() - fileName(path).size());
    while (parent.size() > parsed.rootName.size() + 1 && isSeparator(parent.back()))
        parent.pop_back();
    return parent;
}
