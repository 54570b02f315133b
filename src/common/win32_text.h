#pragma once

#include <string>

// The text a Win32 call writes into a caller's buffer, however long: `query(buffer,
// capacity)` is called with a growing buffer until the whole text fits. It returns what
// such calls return: 0 on failure, the length of the text when it fits, and when it
// does not, either the capacity needed (GetCurrentDirectoryW, GetFullPathNameW,
// GetFinalPathNameByHandleW) or the capacity given, text cut short
// (GetModuleFileNameW). False on failure; the call's last error is left as it was.
template <typename Query> bool queryText(Query query, std::wstring& text, size_t capacity = 260)
{
    text.assign(capacity, L'\0');
    for (;;) {
        const size_t length = query(&text[0], static_cast<unsigned long>(text.size()));
        if (length == 0)
            return false;
        if (length < text.size()) {
            text.resize(length);
            return true;
        }
        text.assign(length > text.size() ? length : text.size() * 2, L'\0');
    }
}
