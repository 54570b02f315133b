// Measures how fast Updater.exe applies an update against two reference programs on
// the same tree: the design's floor (design_floor.cpp: exactly the calls the design
// needs per file) and a bare walk-and-move (bare_mover.cpp); and how much processor
// time a waiting updater spends.
// Runs under Wine (or on Windows); every timing is taken on a fresh, identical tree.
#include "common/unique_any.h"
#include "support/files.h"
#include "support/platform.h"
#include "support/processes.h"
#include "support/update_tree.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The support library's way to say that a tree could not be laid out.
void reportSetupFailure(const std::string& what)
{
    std::fprintf(stderr, "setup: %s\n", what.c_str());
}

namespace {

struct Tree {
    std::wstring root;
    std::wstring update;
    UpdateTree files;
};

// `files` files of `size` bytes in `folders` folders; every second one replaces a
// file that the root already has. Each file is on the disk before any program is timed:
// a run must not pay for writing back the tree it was given (a tree that is signed first,
// which takes seconds, would start cleaner than one that is not).
Tree makeTree(const std::wstring& base, int files, int folders, size_t size)
{
    removeTree(base);
    Tree tree{base + L"\\root", base + L"\\root\\resources\\update", {}};
    tree.files.chains = folders;
    tree.files.filesPerFolder = files / folders;
    tree.files.bytes = size;
    tree.files.oldCounterparts = true;
    tree.files.flushed = true;
    makeDirs(tree.update);
    layOut(tree.files, tree.update, tree.root);
    copyFile(binDir() + L"\\Updater.exe", tree.update + L"\\Updater.exe");
    return tree;
}

struct Child {
    UniqueHandle process;
    UniqueHandle thread;
};

// Starts a program through a go-between that ends before the program runs, as the
// launcher's stand-in does: the updater then finds no parent to wait for.
Child startDetachedFromUs(const std::wstring& program, const std::wstring& workDir,
                          const std::wstring& args, DWORD parentLivesMs)
{
    std::wstring commandLine = L"\"" + binDir() + L"\\bench.exe\" --spawn " +
                               std::to_wstring(GetCurrentProcessId()) + L" " +
                               std::to_wstring(parentLivesMs) + L" \"" + program + L"\" \"" +
                               workDir + L"\" " + args;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0);
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    PROCESS_INFORMATION info = {};
    CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                   &info);
    const UniqueHandle spawner(info.hProcess);
    const UniqueHandle spawnerThread(info.hThread);
    writeEnd.reset();
    char line[64] = {};
    DWORD read = 0;
    ReadFile(readEnd.get(), line, sizeof line - 1, &read, nullptr);
    unsigned long long process = 0, thread = 0;
    std::sscanf(line, "%llu %llu", &process, &thread);
    if (parentLivesMs == 0)
        WaitForSingleObject(spawner.get(), INFINITE);
    return {UniqueHandle(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(process))),
            UniqueHandle(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(thread)))};
}

int spawn(int argc, wchar_t** argv)
{
    // --spawn <bench pid> <lives ms> <program> <work dir> [args...]
    if (argc < 6)
        return 2;
    std::wstring commandLine = L"\"" + std::wstring(argv[4]) + L"\"";
    for (int i = 6; i < argc; ++i)
        commandLine += L" \"" + std::wstring(argv[i]) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(argv[4], &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, argv[5], &startup, &info))
        return 3;
    const UniqueHandle child(info.hProcess);
    const UniqueHandle childThread(info.hThread);
    const UniqueHandle bench(
        OpenProcess(PROCESS_DUP_HANDLE, FALSE, std::wcstoul(argv[2], nullptr, 10)));
    HANDLE process = nullptr, thread = nullptr;
    DuplicateHandle(GetCurrentProcess(), info.hProcess, bench.get(), &process, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    DuplicateHandle(GetCurrentProcess(), info.hThread, bench.get(), &thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    std::printf("%llu %llu\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(process)),
                static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(thread)));
    std::fflush(stdout);
    const DWORD lives = std::wcstoul(argv[3], nullptr, 10);
    if (lives > 0) {
        ResumeThread(info.hThread);
        Sleep(lives);
    }
    return 0;
}

// Seconds from the resume of the program to its end.
double timedRun(const std::wstring& program, const Tree& tree)
{
    Child child = startDetachedFromUs(program, tree.update, tree.root, 0);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    ResumeThread(child.thread.get());
    WaitForSingleObject(child.process.get(), INFINITE);
    QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

// Whether every file of the tree was installed; says on the console what was not.
bool allApplied(const Tree& tree, const wchar_t* program)
{
    const Standing standing = whereFilesStand(tree.files, tree.update, tree.root);
    const bool all = standing.installed == static_cast<int>(filesOf(tree.files).size());
    if (!all)
        std::fprintf(stderr, "%ls: %d installed, %d waiting, %d in both places, %d lost\n", program,
                     standing.installed, standing.waiting, standing.both, standing.lost);
    return all;
}

struct Seconds {
    double updater = 1e9, floor = 1e9, bare = 1e9, signedUpdater = 1e9;
};

#ifdef QLU_SIGNING_KEYS
// The tree signed as the publisher would sign it (with the test key the build made), for
// the signed-updates build of the updater. Not timed.
bool signTree(const Tree& tree)
{
    const std::string script = QLU_SIGN_SCRIPT;
    const std::string keys = QLU_SIGNING_KEYS;
    const std::wstring arguments =
        inQuotes(std::wstring(script.begin(), script.end())) + L" " +
        inQuotes(std::wstring(keys.begin(), keys.end()) + L"/publisher.pem") + L" " +
        inQuotes(linuxPath(tree.update)) + L" 1";
    std::string why;
    // A few milliseconds per file, on the publisher's side.
    const DWORD limit = 60000 + 20 * static_cast<DWORD>(filesOf(tree.files).size());
    if (runLinuxUntilFileExists(L"bash", arguments, tree.update + L"\\Updater.manifest", &why,
                                limit))
        return true;
    std::fprintf(stderr, "signing: %s\n", why.c_str());
    return false;
}
#endif

// Best of three rounds of each program, each on a fresh tree of its own, in turn: the
// machine's noise falls on all of them alike. Every tree is made the same way, signed
// too where the build signs (the other programs take the list for one of the updater's
// own files, or for one file more): a tree that was signed, which takes seconds, starts
// from another state of the disk than one that was not.
Seconds measure(const std::wstring& base, int files, int folders, size_t size, bool& complete)
{
    Seconds best;
    const auto run = [&](double& seconds, const std::wstring& program, const wchar_t* updater) {
        const Tree tree = makeTree(base + L"\\t", files, folders, size);
#ifdef QLU_SIGNING_KEYS
        complete = signTree(tree) && complete;
#endif
        if (updater)
            copyFile(binDir() + L"\\" + updater, tree.update + L"\\Updater.exe");
        const std::wstring path = updater ? tree.update + L"\\Updater.exe" : program;
        seconds = std::min(seconds, timedRun(path, tree));
        complete = allApplied(tree, program.c_str()) && complete;
    };
    for (int round = 0; round < 3; ++round) {
        run(best.updater, L"Updater.exe", L"Updater.exe");
        run(best.floor, binDir() + L"\\design_floor.exe", nullptr);
        run(best.bare, binDir() + L"\\bare_mover.exe", nullptr);
#ifdef QLU_SIGNING_KEYS
        run(best.signedUpdater, L"UpdaterSigned.exe", L"UpdaterSigned.exe");
#endif
    }
    removeTree(base + L"\\t");
    return best;
}

// Files per second of each program with its start-up (an update of no file) taken
// off, and the updater's ratios to the two references.
void compare(const std::wstring& base, const Seconds& startUp, int files, int folders, size_t size)
{
    bool complete = true;
    const Seconds total = measure(base, files, folders, size, complete);
    const double updater = total.updater - startUp.updater;
    const double floor = total.floor - startUp.floor;
    const double bare = total.bare - startUp.bare;
    const double signedUpdater = total.signedUpdater - startUp.signedUpdater;
    std::printf("| %5d files of %7zu bytes | %6.0f | %6.0f | %6.0f | %5.2f | %5.2f | %6.0f | "
                "%5.2f |%s\n",
                files, size, files / updater, files / floor, files / bare, updater / floor,
                updater / bare, files / signedUpdater, signedUpdater / updater,
                complete ? "" : " INCOMPLETE");
}

void waitingProcessorTime(const std::wstring& base)
{
    Tree tree = makeTree(base + L"\\w", 0, 1, 0);
    const std::wstring updater = tree.update + L"\\Updater.exe";
    Child child = startDetachedFromUs(updater, tree.update, tree.root, 3500);
    Sleep(250);
    const long long before = processorMillis(child.process.get(), updater);
    Sleep(3000);
    const long long after = processorMillis(child.process.get(), updater);
    WaitForSingleObject(child.process.get(), INFINITE);
    removeTree(base + L"\\w");
    if (before < 0 || after < 0)
        std::printf("processor time of a waiting instance: not measurable here\n");
    else
        std::printf("processor time of an instance waiting 3 s for its parent: %lld ms\n",
                    after - before);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && std::wstring(argv[1]) == L"--spawn")
        return spawn(argc, argv);
    const std::wstring base = argc > 1 ? argv[1] : binDir() + L"\\bench-trees";
    std::printf("| tree | Updater.exe files/s | design floor files/s | bare moves files/s | "
                "to floor | to bare | signed-updates build files/s | signed to unsigned |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    bool complete = true;
    const Seconds startUp = measure(base, 0, 1, 0, complete);
    compare(base, startUp, 4000, 40, 4096);
    compare(base, startUp, 200, 10, 1 << 20);
    std::printf("start-up, taken off above (an update of no file): Updater.exe %.0f ms, "
                "floor %.0f ms, bare moves %.0f ms, signed-updates build %.0f ms\n",
                startUp.updater * 1000, startUp.floor * 1000, startUp.bare * 1000,
                startUp.signedUpdater * 1000);
    waitingProcessorTime(base);
    return 0;
}
