#include "update/walk.h"

#include "common/fs_error.h"
#include "common/paths.h"
#include "common/run_state.h"
#include "common/unique_any.h"
#include "log/run_log.h"
#include "update/replace.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

struct Walk {
    std::wstring canonicalUpdateDir;
    std::wstring canonicalTargetDir;
    // The last folder that was to hold a dest, and its final path: the files of one
    // folder of the update all go to one folder.
    std::wstring destFolder;
    std::wstring canonicalDestFolder;
    // Canonical forms of the folders being walked, outermost first: a link back to
    // one of them would make the walk endless.
    std::vector<std::wstring> ancestors;
};

// An entry that is no link resolves to its resolved folder followed by the name the
// listing stores; only links need the file system.
std::wstring canonicalOf(const std::wstring& path, const std::wstring& canonicalDir,
                         const WIN32_FIND_DATAW& entry)
{
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return weaklyCanonical(path);
    return appendPath(canonicalDir, entry.cFileName);
}

void applyFile(const std::wstring& path, const std::wstring& canonicalPath, Walk& walk)
{
    const std::wstring relativePath = lexicallyRelative(canonicalPath, walk.canonicalUpdateDir);
    logPath("relativePath=", relativePath);
    // We run as administrator on a folder that the user can write to: a file reached
    // through a link to elsewhere must not be written anywhere but below the root.
    if (!staysBelow(relativePath)) {
        logLine("Outside of target, ignore it");
        return;
    }
    const std::wstring dest = joinPath(targetDir, relativePath);
    logPath("dest=", dest);
    const std::wstring destFolder = dest.substr(0, dest.size() - fileName(dest).size());
    if (destFolder != walk.destFolder || walk.canonicalDestFolder.empty()) {
        walk.destFolder = destFolder;
        walk.canonicalDestFolder = weaklyCanonical(destFolder);
    }
    replaceFile(path, dest, {canonicalPath, walk.canonicalTargetDir, walk.canonicalDestFolder});
}

void walkFolder(const std::wstring& dir, const std::wstring& canonicalDir, Walk& walk)
{
    logPath("Step", dir);
    WIN32_FIND_DATAW entry;
    UniqueFindHandle listing(FindFirstFileExW(appendPath(dir, L"*").c_str(), FindExInfoBasic,
                                              &entry, FindExSearchNameMatch, nullptr,
                                              FIND_FIRST_EX_LARGE_FETCH));
    if (!listing) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES)
            return; // a drive's root can be empty, without "." and ".."
        throw FileSystemError("directory_iterator::directory_iterator", code, dir);
    }
    for (;;) {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") {
            const std::wstring path = appendPath(dir, name);
            logPath("Sub path", path);
            if (leadsToFolder(path, entry.dwFileAttributes)) {
                const std::wstring canonical = canonicalOf(path, canonicalDir, entry);
                if (std::find(walk.ancestors.begin(), walk.ancestors.end(), canonical) !=
                    walk.ancestors.end()) {
                    logLine("Already walked, skip it");
                } else {
                    logLine("It's a directory, go down");
                    walk.ancestors.push_back(canonical);
                    walkFolder(path, canonical, walk);
                    walk.ancestors.pop_back();
                }
            } else if (fileStem(name) == L"Updater") {
                logLine("This is our exe or log, ignore it");
            } else {
                // Resolved through the file system even when the listing shows no link:
                // Wine lists a link to a file as the file it leads to.
                applyFile(path, weaklyCanonical(path), walk);
            }
        }
        if (!FindNextFileW(listing.get(), &entry)) {
            const DWORD code = GetLastError();
            if (code == ERROR_NO_MORE_FILES)
                return;
            throw FileSystemError("directory_iterator::operator++", code);
        }
    }
}

} // namespace

bool leadsToFolder(const std::wstring& path, unsigned long listedAttributes)
{
    if (!(listedAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return (listedAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    UniqueFileHandle target(CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!target) {
        const DWORD code = GetLastError();
        if (isMissingPathError(code) || code == ERROR_SHARING_VIOLATION)
            return false;
        throw FileSystemError("directory_entry::status", code, path);
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(target.get(), &info))
        throw FileSystemError("directory_entry::status", GetLastError(), path);
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void applyUpdateTree(std::wstring dir)
{
    // Resolved once: neither the update folder nor the folders above it change
    // while the walk runs.
    Walk walk;
    walk.canonicalUpdateDir = weaklyCanonical(updateDir);
    walk.canonicalTargetDir = weaklyCanonical(targetDir);
    const std::wstring canonicalDir =
        dir == updateDir ? walk.canonicalUpdateDir : weaklyCanonical(dir);
    walk.ancestors.push_back(canonicalDir);
    walkFolder(dir, canonicalDir, walk);
}
