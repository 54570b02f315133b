#include "run/command_line.h"

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
