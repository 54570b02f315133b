#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

// The operation words of "Exception:" lines, the log's vocabulary for what failed. Most
// of them name standard-library calls of an earlier version of the updater; this one
// calls Win32 directly, but readers of the log (and their tools) match these words, so
// each stays as it was, named here once.
namespace operation {
constexpr char rename[] = "rename";                                     // a replacing move
constexpr char remove[] = "remove";                                     // an update file's removal
constexpr char listFolder[] = "directory_iterator::directory_iterator"; // a listing opened
constexpr char nextEntry[] = "directory_iterator::operator++";          // a listing advanced
constexpr char status[] = "directory_entry::status";                    // what an entry is
constexpr char weaklyCanonical[] = "weakly_canonical";                  // where a path leads
constexpr char currentPath[] = "current_path()";                        // the working folder
constexpr char rootFolder[] = "root_folder";           // a root that is not the launcher's own
constexpr char signedList[] = "signed_list";           // the publisher's list, or a file it names
constexpr char releaseRecord[] = "release_record";     // the release last applied to a root
constexpr char createDirectory[] = "create_directory"; // a folder a signed release needs
} // namespace operation

// The error of every failing file-system operation. what() is one line: the
// operation (one of the words above), ": " and the system's description of the code.
class FileSystemError : public std::runtime_error {
public:
    // `path`: the file or folder the failure concerns, as the user knows it (the
    // failure message names it).
    FileSystemError(const std::string& operation, DWORD code, std::wstring path = {});

    const std::string& operation() const noexcept { return operation_; }
    DWORD code() const noexcept { return code_; }
    const std::wstring& path() const noexcept { return path_; }
    // How the log shows the failure: a failed move or remove as its operation and the
    // system's words, as logs always have (the "dest=" line just before names the file);
    // any other failure also with the file or folder it concerned, since the operation
    // alone does not say which entry of the tree it was, nor that the path was resolved
    // by another call than the one named.
    bool pathShownInLog() const noexcept;

private:
    std::string operation_;
    DWORD code_;
    std::wstring path_;
};

// The system's description of a Windows error code in the system's language and
// ANSI code page, without the trailing blanks and line breaks that FormatMessage
// appends, so that it fits on one log line.
std::string systemMessage(DWORD code);

// The codes that say a path leads to nothing: the file, a folder on the way, the
// server or the name itself is not there.
bool isMissingPathError(DWORD code);
