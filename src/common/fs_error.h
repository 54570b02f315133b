#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

// The error of every failing file-system operation. what() is one line: the
// operation, ": " and the system's description of the code; the paths are kept
// for whoever wants them but never written into that line.
class FileSystemError : public std::runtime_error {
public:
    FileSystemError(const std::string& operation, DWORD code, std::wstring path1 = {},
                    std::wstring path2 = {});

    const std::string& operation() const noexcept { return operation_; }
    DWORD code() const noexcept { return code_; }
    const std::wstring& path1() const noexcept { return path1_; }
    const std::wstring& path2() const noexcept { return path2_; }

private:
    std::string operation_;
    DWORD code_;
    std::wstring path1_;
    std::wstring path2_;
};

// The system's description of a Windows error code in the system's language and
// ANSI code page, without the trailing blanks and line breaks that FormatMessage
// appends, so that it fits on one log line.
std::string systemMessage(DWORD code);

// The codes that say a path leads to nothing: the file, a folder on the way, the
// server or the name itself is not there.
bool isMissingPathError(DWORD code);
