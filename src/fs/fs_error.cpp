#include "fs/fs_error.h"

#include "common/unique_any.h"

#include <utility>

namespace {

using UniqueLocalText = UniqueAny<char*, &LocalFree>;

std::string describe(const std::string& operation, DWORD code)
{
    return operation + ": " + systemMessage(code);
}

} // namespace

std::string systemMessage(DWORD code)
{
    UniqueLocalText buffer;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(buffer.put()), 0, nullptr);
    std::string text = length != 0 && buffer ? std::string(buffer.get(), length) : std::string();
    // Some descriptions hold a line break of their own; the log line must stay one line.
    for (char& c : text) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    const auto end = text.find_last_not_of(" \t");
    text.erase(end == std::string::npos ? 0 : end + 1);
    if (text.empty())
        text = "error " + std::to_string(code);
    return text;
}

FileSystemError::FileSystemError(const std::string& operation, DWORD code, std::wstring path)
    : std::runtime_error(describe(operation, code)), operation_(operation), code_(code),
      path_(std::move(path))
{
}

bool FileSystemError::pathShownInLog() const noexcept
{
    return !path_.empty() && operation_ != operation::rename && operation_ != operation::remove;
}

bool isMissingPathError(DWORD code)
{
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
           code == ERROR_BAD_NETPATH || code == ERROR_INVALID_NAME;
}
