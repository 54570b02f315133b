#pragma once

// Files and folders for the scenes of the tests and the benchmark: plain Win32, no test
// framework. A step that fails is reported through reportSetupFailure, which each program
// linking this library defines (a failure of the running test; a line on the console).

#include <windows.h>

#include <string>
#include <vector>

void reportSetupFailure(const std::string& what);

std::wstring binDir(); // the folder of the running executable

void makeDirs(const std::wstring& path);
// `flush`: on the disk before it returns (a benchmark's tree: a timed run must not pay for
// writing back the tree it was given).
void writeFile(const std::wstring& path, const std::string& content, bool flush = false);
std::string readFile(const std::wstring& path); // "<missing>" when it cannot be opened
bool exists(const std::wstring& path);
void copyFile(const std::wstring& from, const std::wstring& to);

// The names of a folder in the order the file system lists them, "." and ".." left out.
std::vector<std::wstring> listing(const std::wstring& dir);

// A folder that is removed, with everything in it, when its owner goes: a scene made
// where a test's own sandbox is not (another volume), or a benchmark's trees.
class ScratchFolder {
public:
    explicit ScratchFolder(std::wstring path);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};
