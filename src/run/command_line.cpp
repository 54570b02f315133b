#include "run/command_line.h"

#include "common/fs_error.h"
#include "common/unique_any.h"

#include <windows.h>

#include <shellapi.h>

std::vector<std::wstring> splitCommandLine(const wchar_t* commandLine)
{
    int count = 0;
    UniqueAny<wchar_t**, &LocalFree> argv(CommandLineToArgvW(commandLine, &count));
    std::vector<std::wstring> args;
    if (!argv)
        return args;
    args.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        args.emplace_back(argv.get()[i]);
    return args;
}

std::wstring currentDirectory()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), &buffer[0]);
        if (length == 0)
            throw FileSystemError("current_path()", GetLastError());
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        // Too small: length is the size needed, terminator included.
        buffer.assign(length, L'\0');
    }
}
