#include "log/run_log.h"
#include "log/run_log_seams.h"

#include "common/unique_any.h"
#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"

#include <windows.h>

RunLog runLog;

namespace {

// A user or the launcher may read the log while the update runs, and nobody may delete
// it meanwhile.
constexpr DWORD readersAndWriters = FILE_SHARE_READ | FILE_SHARE_WRITE;

} // namespace

void openRunLog(const wchar_t* path)
{
    if (runLog.file) {
        runLog.failed = true;
        return;
    }
    try {
        runLog.file = openEmptiedForWriting(path, readersAndWriters);
    } catch (const FileSystemError&) {
        // The folder cannot be resolved: no log rather than one through a link.
    }
    runLog.failed = !runLog.file;
}

bool runLogIsOpen()
{
    return !runLog.failed;
}

UniqueFileHandle openCompletionMarkWhereTheLogFailed(const wchar_t* markPath)
{
    if (!runLog.failed)
        return {};
    try {
        return openEmptiedForWriting(markPath, readersAndWriters);
    } catch (const FileSystemError&) {
        return {}; // as with the log: nothing rather than a file through a link
    }
}

void markCompletionWhereTheLogFailed(HANDLE mark, const wchar_t* markPath)
{
    if (!runLog.failed)
        return;
    // The log failed after it opened (a full disk): the mark is opened now.
    const UniqueFileHandle late =
        mark ? UniqueFileHandle() : openCompletionMarkWhereTheLogFailed(markPath);
    const char line[] = "Preparing for exe launch\r\n";
    DWORD written = 0;
    if (mark || late)
        WriteFile(mark ? mark : late.get(), line, sizeof line - 1, &written, nullptr);
}

void closeRunLog()
{
    runLog.file.reset();
}

bool isRunLog(const std::wstring& path)
{
    if (!runLog.file)
        return false;
    const OpenedFile file = lookAt(path, Links::Itself);
    return file.handle && isSameFile(file.handle.get(), runLog.file.get());
}

namespace {

void writeLine(const char* label, const std::string& value)
{
    if (runLog.failed || !runLog.file)
        return;
    std::string line = label;
    line += value;
    line += "\r\n";
    // One write per line, straight to the file: nothing waits in a buffer for a crash.
    DWORD written = 0;
    if (!WriteFile(runLog.file.get(), line.data(), static_cast<DWORD>(line.size()), &written,
                   nullptr) ||
        written != line.size())
        runLog.failed = true;
}

bool isHighSurrogate(wchar_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(wchar_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// UTF-8 has room for every well-formed character; only unpaired surrogates need
// replacing, which WideCharToMultiByte would otherwise turn into U+FFFD or refuse.
std::wstring replaceUnpairedSurrogates(const std::wstring& text)
{
    std::wstring result = text;
    for (size_t i = 0; i < result.size(); ++i) {
        if (isHighSurrogate(result[i]) && i + 1 < result.size() && isLowSurrogate(result[i + 1]))
            ++i;
        else if (isHighSurrogate(result[i]) || isLowSurrogate(result[i]))
            result[i] = L'?';
    }
    return result;
}

// The system's own code page for file names, by number: a system set to "Use Unicode
// UTF-8 for worldwide language support" has 65001 here, which the C runtime's locale
// (left at "C") would never show.
unsigned logCodePage()
{
    return AreFileApisANSI() ? GetACP() : GetOEMCP();
}

// A line break in a name or an argument would let the value write lines of its own.
std::wstring withoutControlCharacters(std::wstring text)
{
    for (wchar_t& c : text) {
        if (c < 0x20 || c == 0x7F)
            c = L'?';
    }
    return text;
}

} // namespace

std::string narrow(const std::wstring& text, unsigned codePage)
{
    if (text.empty())
        return {};
    const bool utf8 = codePage == CP_UTF8;
    const std::wstring plain = withoutControlCharacters(text);
    const std::wstring source = utf8 ? replaceUnpairedSurrogates(plain) : plain;
    // UTF-8 takes neither flags nor a default character (Windows refuses the call
    // with them); it has an exact form for every well-formed character anyway.
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* const replacement = utf8 ? nullptr : "?";
    const int sourceLength = static_cast<int>(source.size());
    const int length = WideCharToMultiByte(codePage, flags, source.data(), sourceLength, nullptr, 0,
                                           replacement, nullptr);
    if (length <= 0)
        return std::string(source.size(), '?');
    std::string result(static_cast<size_t>(length), '\0');
    // On a double-byte code page the filling call can fail where the sizing call did
    // not: never leave the zero bytes in the log.
    if (WideCharToMultiByte(codePage, flags, source.data(), sourceLength, &result[0], length,
                            replacement, nullptr) != length)
        return std::string(source.size(), '?');
    return result;
}

std::string narrow(const std::wstring& text)
{
    return narrow(text, logCodePage());
}

std::string quotePath(const std::string& narrowed)
{
    std::string quoted = "\"";
    for (char byte : narrowed) {
        if (byte == '"' || byte == '\\')
            quoted += '\\';
        quoted += byte;
    }
    quoted += '"';
    return quoted;
}

void logLine(const char* label)
{
    writeLine(label, {});
}

void logPath(const char* label, const std::wstring& path)
{
    writeLine(label, quotePath(narrow(path)));
}

void logText(const char* label, const std::wstring& text)
{
    writeLine(label, narrow(text));
}

void logNumber(const char* label, int value)
{
    writeLine(label, std::to_string(value));
}

void logMessage(const char* label, const std::string& message)
{
    writeLine(label, message);
}

void logMessageAndPath(const char* label, const std::string& message, const std::wstring& path)
{
    writeLine(label, message + " " + quotePath(narrow(path)));
}
