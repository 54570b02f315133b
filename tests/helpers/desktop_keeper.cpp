// Holds the Wine prefix's desktop for a whole run of the suite: desktop_keeper.exe <ready
// file>. Wine starts its desktop shell for the first program that needs a desktop, as
// that program's child, and ends it a second after the last such program: in a suite of
// many short programs it comes and goes, and when the first program to need it runs
// without administrator rights (a test's restricted instance), the shell cannot start
// and no message box or shell start works until it is asked for again. Asked for here,
// by a program with full rights in no test's job that lives as long as the run, it
// starts once and stays. The ready file is made once the shell answers.
#include "common/unique_any.h"
#include "support/platform.h"

#include <windows.h>

#include <cstdio>
#include <string>

void reportSetupFailure(const std::string& what)
{
    std::fprintf(stderr, "%s\n", what.c_str());
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    GetDesktopWindow();
    // However long a loaded host takes: the run's own time limit ends a shell that never
    // comes.
    if (!waitForDesktopShell(INFINITE))
        return 1;
    if (!UniqueFileHandle(CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr)))
        return 1;
    Sleep(INFINITE);
    return 0;
}
