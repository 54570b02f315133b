// Measures how fast Updater.exe applies an update against two reference programs on
// the same tree: the design's floor (design_floor.cpp: exactly the calls the design
// needs per file) and a bare walk-and-move (bare_mover.cpp); and how much processor
// time a waiting updater spends.
// Runs under Wine (or on Windows); every timing is taken on a fresh, identical tree.
#include "common/unique_any.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring exeDir()
{
    wchar_t path[MAX_PATH];
    std::wstring dir(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return dir.substr(0, dir.find_last_of(L'\\'));
}

void makeDirs(const std::wstring& path)
{
    for (size_t pos = path.find(L'\\', 3); pos != std::wstring::npos;
         pos = path.find(L'\\', pos + 1))
        CreateDirectoryW(path.substr(0, pos).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
}

void removeTree(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(FindFirstFileW((path + L"\\*").c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find.get(), &data));
    }
    RemoveDirectoryW(path.c_str());
}

void writeFile(const std::wstring& path, const std::string& content)
{
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    // On the disk before any program is timed: a run must not pay for writing back the
    // tree it was given (a tree that is signed first, which takes seconds, would start
    // cleaner than one that is not, and the builds would not be compared fairly).
    FlushFileBuffers(file.get());
}

struct Tree {
    std::wstring root;
    std::wstring update;
};

// `files` files of `size` bytes in `folders` folders; every second one replaces a
// file that the root already has.
Tree makeTree(const std::wstring& base, int files, int folders, size_t size)
{
    removeTree(base);
    Tree tree{base + L"\\root", base + L"\\root\\resources\\update"};
    const std::string content(size, 'u');
    for (int folder = 0; folder < folders; ++folder) {
        const std::wstring name = L"\\folder" + std::to_wstring(folder);
        makeDirs(tree.update + name);
        makeDirs(tree.root + name);
    }
    for (int i = 0; i < files; ++i) {
        const std::wstring name =
            L"\\folder" + std::to_wstring(i % folders) + L"\\file" + std::to_wstring(i) + L".dat";
        writeFile(tree.update + name, content);
        if (i % 2 == 0)
            writeFile(tree.root + name, "old");
    }
    CopyFileW((exeDir() + L"\\Updater.exe").c_str(), (tree.update + L"\\Updater.exe").c_str(),
              FALSE);
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
    std::wstring commandLine = L"\"" + exeDir() + L"\\bench.exe\" --spawn " +
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

bool allApplied(const Tree& tree, int files, int folders, size_t size)
{
    for (int i = 0; i < files; ++i) {
        const std::wstring name =
            L"\\folder" + std::to_wstring(i % folders) + L"\\file" + std::to_wstring(i) + L".dat";
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW((tree.root + name).c_str(), GetFileExInfoStandard, &data) ||
            data.nFileSizeLow != size)
            return false;
    }
    return true;
}

struct Seconds {
    double updater = 1e9, floor = 1e9, bare = 1e9, signedUpdater = 1e9;
};

#ifdef QLU_SIGNING_KEYS
// The tree signed as the publisher would sign it (with the test key the build made), for
// the signed-updates build of the updater, which is then put in the tree. Not timed.
bool signTree(const Tree& tree)
{
    CopyFileW((exeDir() + L"\\UpdaterSigned.exe").c_str(), (tree.update + L"\\Updater.exe").c_str(),
              FALSE);
    using UnixFileName = char*(CDECL*)(const wchar_t*);
    const auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* const folder = unixFileName ? unixFileName(tree.update.c_str()) : nullptr;
    if (!folder)
        return false;
    const std::string script = QLU_SIGN_SCRIPT;
    const std::string keys = QLU_SIGNING_KEYS;
    const std::string arguments =
        "\"" + script + "\" \"" + keys + "/publisher.pem\" \"" + folder + "\" 1";
    HeapFree(GetProcessHeap(), 0, folder);
    std::wstring commandLine = L"Z:\\bin\\bash " + std::wstring(arguments.begin(), arguments.end());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(L"Z:\\bin\\bash", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info))
        return false;
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    // Wine gives no handle to wait on for a Linux program: the list appears whole.
    const std::wstring list = tree.update + L"\\Updater.manifest";
    for (int i = 0; i < 6000; ++i, Sleep(20))
        if (GetFileAttributesW(list.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
    return false;
}
#endif

// Best of three rounds of each program, each on a fresh tree of its own, in turn: the
// machine's noise falls on all three alike.
Seconds measure(const std::wstring& base, int files, int folders, size_t size, bool& complete)
{
    Seconds best;
    const auto run = [&](double& seconds, const std::wstring& program, bool inTree) {
        const Tree tree = makeTree(base + L"\\t", files, folders, size);
        seconds = std::min(seconds, timedRun(inTree ? tree.update + program : program, tree));
        complete = complete && allApplied(tree, files, folders, size);
    };
    for (int round = 0; round < 3; ++round) {
        run(best.updater, L"\\Updater.exe", true);
        run(best.floor, exeDir() + L"\\design_floor.exe", false);
        run(best.bare, exeDir() + L"\\bare_mover.exe", false);
#ifdef QLU_SIGNING_KEYS
        const Tree tree = makeTree(base + L"\\t", files, folders, size);
        complete = complete && signTree(tree);
        best.signedUpdater =
            std::min(best.signedUpdater, timedRun(tree.update + L"\\Updater.exe", tree));
        complete = complete && allApplied(tree, files, folders, size);
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

// Processor time of a Wine process in milliseconds, from Linux's /proc through Z:.
long long processorMillis(const std::wstring& commandLinePart)
{
    const std::string part(commandLinePart.begin(), commandLinePart.end());
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(FindFirstFileW(L"Z:\\proc\\*", &data));
    long long result = -1;
    if (!find)
        return result;
    do {
        const std::wstring pid = data.cFileName;
        if (pid.find_first_not_of(L"0123456789") != std::wstring::npos)
            continue;
        char buffer[4096] = {};
        DWORD read = 0;
        UniqueFileHandle file(CreateFileW((L"Z:\\proc\\" + pid + L"\\cmdline").c_str(),
                                          GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                          nullptr));
        if (!file)
            continue;
        ReadFile(file.get(), buffer, sizeof buffer - 1, &read, nullptr);
        std::replace(buffer, buffer + read, '\0', ' ');
        if (std::string(buffer, read).find(part) == std::string::npos)
            continue;
        file.reset(CreateFileW((L"Z:\\proc\\" + pid + L"\\stat").c_str(), GENERIC_READ,
                               FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        read = 0;
        ReadFile(file.get(), buffer, sizeof buffer - 1, &read, nullptr);
        const std::string stat(buffer, read);
        const char* fields = stat.c_str() + stat.rfind(')') + 2;
        long long user = 0, system = 0;
        for (int field = 3; field <= 15 && *fields; ++field) {
            if (field == 14)
                user = std::atoll(fields);
            if (field == 15)
                system = std::atoll(fields);
            while (*fields && *fields != ' ')
                ++fields;
            while (*fields == ' ')
                ++fields;
        }
        result = (user + system) * 10;
        break;
    } while (FindNextFileW(find.get(), &data));
    return result;
}

void waitingProcessorTime(const std::wstring& base)
{
    Tree tree = makeTree(base + L"\\w", 0, 1, 0);
    const std::wstring updater = tree.update + L"\\Updater.exe";
    Child child = startDetachedFromUs(updater, tree.update, tree.root, 3500);
    Sleep(250);
    const long long before = processorMillis(updater);
    Sleep(3000);
    const long long after = processorMillis(updater);
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
    const std::wstring base = argc > 1 ? argv[1] : exeDir() + L"\\bench-trees";
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
