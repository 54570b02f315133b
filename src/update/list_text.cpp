#include "update/list_text.h"

#include "fs/path_text.h"
#include "update/own_files.h"

#include <windows.h>

#include <set>

namespace {

bool startsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool hexDigit(char c, unsigned& value)
{
    if (c >= '0' && c <= '9')
        value = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
        value = static_cast<unsigned>(c - 'a' + 10);
    else
        return false;
    return true;
}

bool fromHex(const std::string& text, unsigned char* bytes, size_t count)
{
    if (text.size() != 2 * count)
        return false;
    for (size_t i = 0; i < count; ++i) {
        unsigned high = 0;
        unsigned low = 0;
        if (!hexDigit(text[2 * i], high) || !hexDigit(text[2 * i + 1], low))
            return false;
        bytes[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

// A whole number of decimal digits only.
bool wholeNumber(const std::string& text, unsigned long long& number)
{
    if (text.empty() || text.size() > list_text::longestNumber ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    number = std::stoull(text);
    return true;
}

std::wstring widened(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                           static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length <= 0 || !MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                            static_cast<int>(utf8.size()), &wide[0], length))
        return {};
    return wide;
}

// "<digest> <size> <path>"
bool parseFileLine(const std::string& line, std::wstring& path, ListedFile& file)
{
    const size_t blank = line.find(' ');
    const size_t second = blank == std::string::npos ? blank : line.find(' ', blank + 1);
    return second != std::string::npos &&
           fromHex(line.substr(0, blank), file.digest.data(), file.digest.size()) &&
           wholeNumber(line.substr(blank + 1, second - blank - 1), file.size) &&
           !(path = widened(line.substr(second + 1))).empty();
}

} // namespace

bool isPlainPathBelowRoot(const std::wstring& path)
{
    if (path.empty() || path.find_first_of(L":/") != std::wstring::npos)
        return false;
    for (size_t at = 0;;) {
        const size_t end = path.find(L'\\', at);
        const std::wstring element = path.substr(at, end - at);
        if (element.empty() || element == L"." || element == L"..")
            return false;
        if (end == std::wstring::npos)
            break;
        at = end + 1;
    }
    const std::wstring key = caseFoldedKey(path);
    const std::wstring update = caseFoldedKey(L"resources\\update");
    return !isOwnFile(fileName(path)) && key != update && key.rfind(update + L"\\", 0) != 0;
}

bool splitSignature(const std::string& text, std::string& signedPart,
                    std::array<unsigned char, list_text::signatureBytes>& signature)
{
    // The signature's line is the last; it signs everything before it.
    const size_t line = text.rfind(list_text::signature);
    if (line == std::string::npos || line == 0 || text[line - 1] != '\n' || text.back() != '\n')
        return false;
    const size_t digits = line + std::char_traits<char>::length(list_text::signature);
    if (!fromHex(text.substr(digits, text.size() - 1 - digits), signature.data(), signature.size()))
        return false;
    signedPart = text.substr(0, line);
    return true;
}

bool parseListText(const std::string& signedPart, ListContent& content)
{
    const bool v2 = startsWith(signedPart, list_text::headerV2);
    if ((!v2 && !startsWith(signedPart, list_text::headerV1)) ||
        signedPart.find('\r') != std::string::npos)
        return false;
    std::set<std::wstring> named; // case-folded: one file on Windows whatever the case
    bool first = true;
    for (size_t at = sizeof list_text::headerV1 - 1; at < signedPart.size();) {
        const size_t end = signedPart.find('\n', at);
        const std::string line = signedPart.substr(at, end - at);
        at = end + 1;
        if (first) {
            const size_t label = sizeof list_text::release - 1;
            if (!startsWith(line, list_text::release) ||
                !wholeNumber(line.substr(label), content.release))
                return false;
            first = false;
            continue;
        }
        std::wstring path;
        const bool isFolder = v2 && startsWith(line, list_text::folder);
        if (isFolder || (v2 && startsWith(line, list_text::remove))) {
            static_assert(sizeof list_text::folder == sizeof list_text::remove, "one length");
            path = widened(line.substr(sizeof list_text::folder - 1));
            if (!isPlainPathBelowRoot(path))
                return false;
            (isFolder ? content.folders : content.removals).push_back(path);
        } else {
            ListedFile file;
            if (!parseFileLine(line, path, file))
                return false;
            content.files[path] = file;
        }
        if (!named.insert(caseFoldedKey(path)).second)
            return false;
    }
    return !first;
}
