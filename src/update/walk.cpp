#include "update/walk.h"

#include "common/fs_error.h"
#include "common/paths.h"
#include "common/own_files.h"
#include "common/unique_any.h"
#include "log/run_log.h"
#include "update/replace.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

// A folder of the walk in its three forms: as the log shows it, as the file system is
// to take it (verbatim, exact names), and resolved through the file system.
struct Folder {
    std::wstring shown;
    std::wstring exact;
    std::wstring canonical;
};

struct Walk {
    std::wstring targetDir; // as given
    std::wstring canonicalUpdateDir;
    // The root, resolved when the first file needs it: a root that cannot be resolved
    // is a failure of that file, not of a run that has done nothing yet.
    std::wstring exactTargetDir;
    std::wstring canonicalTargetDir;
    bool targetResolved = false;
    // The last folder that was to hold a dest, and its final path: the files of one
    // folder of the update all go to one folder.
    std::wstring destFolder;
    std::wstring canonicalDestFolder;
    FolderSecurity destFolderSecurity;
    // Canonical forms of the folders being walked, outermost first: a link back to
    // one of them would make the walk endless.
    std::vector<std::wstring> ancestors;
};

void resolveTarget(Walk& walk)
{
    if (walk.targetResolved)
        return;
    // An empty root leads nowhere below it: every file is refused as outside.
    if (!walk.targetDir.empty()) {
        walk.exactTargetDir = verbatimPath(walk.targetDir);
        walk.canonicalTargetDir = weaklyCanonical(walk.targetDir);
    }
    walk.targetResolved = true;
}

struct UpdateFile {
    std::wstring canonical; // where it leads
    bool sharedName;        // one of several names of one file
    // The file itself, when it is a plain file with one name, opened once for all the
    // update does with it: its move and its new security. None when another program's
    // hold keeps it from being opened so, or when it is a link.
    UniqueFileHandle opened;
};

// Where a file opened by name leads, and whether another name shares it.
UpdateFile resolveOpened(UniqueFileHandle file, const std::wstring& exact,
                         const std::wstring& shown, const std::wstring& itself)
{
    FILE_STANDARD_INFO standard;
    const bool shared =
        GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard) &&
        standard.NumberOfLinks > 1;
    const std::wstring final = withRequestedNames(finalPathOf(file.get(), shown), exact);
    if (!sameFinalPath(final, itself))
        return {final, shared, {}};
    return {itself, shared, shared ? UniqueFileHandle() : std::move(file)};
}

// Where an update file leads. One that is no link is its folder's final path and the
// name the listing gave; the file system is asked all the same, since Wine lists a
// link to a file as the file it leads to. A file with several names may be a name of a
// file elsewhere (a DLL of another program): whatever it leads to, it is not ours.
UpdateFile resolveFile(const std::wstring& exact, const std::wstring& shown,
                       const std::wstring& canonicalDir, const std::wstring& name)
{
    const std::wstring itself = appendPath(canonicalDir, name);
    UniqueFileHandle itselfOpened(CreateFileW(
        exact.c_str(), DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
        shareAll, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FILE_BASIC_INFO basic;
    if (itselfOpened &&
        GetFileInformationByHandleEx(itselfOpened.get(), FileBasicInfo, &basic, sizeof basic) &&
        !(basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return resolveOpened(std::move(itselfOpened), exact, shown, itself);
    itselfOpened.reset();
    // A link, or a file that another program holds: followed, and opened only to look.
    UniqueFileHandle file(CreateFileW(exact.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        const DWORD code = GetLastError();
        if (isMissingPathError(code))
            return {itself, false, {}}; // a link whose target is gone: the link itself
        throw FileSystemError("weakly_canonical", code, shown);
    }
    UpdateFile resolved = resolveOpened(std::move(file), exact, shown, itself);
    resolved.opened.reset();
    return resolved;
}

void applyFile(const std::wstring& exact, const UpdateFile& file, Walk& walk)
{
    const std::wstring relativePath = lexicallyRelative(file.canonical, walk.canonicalUpdateDir);
    logPath("relativePath=", relativePath);
    // We run as administrator on a folder that the user can write to: a file reached
    // through a link to elsewhere must not be written anywhere but below the root.
    if (file.sharedName || !staysBelow(relativePath)) {
        logLine("Outside of target, ignore it");
        return;
    }
    const std::wstring dest = joinPath(walk.targetDir, relativePath);
    logPath("dest=", dest);
    resolveTarget(walk);
    const std::wstring exactDest = appendPath(walk.exactTargetDir, relativePath);
    const std::wstring destFolder = exactDest.substr(0, exactDest.size() - fileName(dest).size());
    if (destFolder != walk.destFolder || walk.canonicalDestFolder.empty()) {
        walk.destFolder = destFolder;
        walk.canonicalDestFolder = weaklyCanonical(destFolder);
        walk.destFolderSecurity = securityForFilesIn(destFolder);
    }
    replaceFile(exact, exactDest,
                {file.canonical, walk.canonicalTargetDir, walk.canonicalUpdateDir,
                 walk.canonicalDestFolder, &walk.destFolderSecurity,
                 file.opened ? file.opened.get() : nullptr});
}

// The entries of one folder, after its "Step" line: files applied, folders entered.
void listFolder(const Folder& dir, Walk& walk)
{
    WIN32_FIND_DATAW entry;
    UniqueFindHandle listing(FindFirstFileExW(appendPath(dir.exact, L"*").c_str(), FindExInfoBasic,
                                              &entry, FindExSearchNameMatch, nullptr,
                                              FIND_FIRST_EX_LARGE_FETCH));
    if (!listing) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES)
            return; // a drive's root can be empty, without "." and ".."
        throw FileSystemError("directory_iterator::directory_iterator", code, dir.shown);
    }
    for (;;) {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") {
            const std::wstring shown = appendPath(dir.shown, name);
            const std::wstring exact = appendPath(dir.exact, name);
            logPath("Sub path", shown);
            if (leadsToFolder(exact, entry.dwFileAttributes)) {
                // A folder that is no link resolves to its parent's final path and its
                // listed name; a link is resolved through the file system.
                const std::wstring canonical = entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT
                                                   ? weaklyCanonical(exact)
                                                   : appendPath(dir.canonical, name);
                if (std::find(walk.ancestors.begin(), walk.ancestors.end(), canonical) !=
                    walk.ancestors.end()) {
                    logLine("Already walked, skip it");
                } else {
                    logLine("It's a directory, go down");
                    walk.ancestors.push_back(canonical);
                    logPath("Step", shown);
                    listFolder({shown, exact, canonical}, walk);
                    walk.ancestors.pop_back();
                }
            } else if (isOwnFile(name)) {
                logLine("This is our exe or log, ignore it");
            } else {
                applyFile(exact, resolveFile(exact, shown, dir.canonical, name), walk);
            }
        }
        if (!FindNextFileW(listing.get(), &entry)) {
            const DWORD code = GetLastError();
            if (code == ERROR_NO_MORE_FILES)
                return;
            throw FileSystemError("directory_iterator::operator++", code, dir.shown);
        }
    }
}

} // namespace

bool leadsToFolder(const std::wstring& path, unsigned long listedAttributes)
{
    if (!(listedAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return (listedAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    UniqueFileHandle target(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!target) {
        const DWORD code = GetLastError();
        if (isMissingPathError(code) || code == ERROR_SHARING_VIOLATION)
            return false;
        throw FileSystemError("directory_entry::status", code, shownPath(path));
    }
    // Not GetFileInformationByHandle: it asks for the volume's serial number too.
    FILE_BASIC_INFO info;
    if (!GetFileInformationByHandleEx(target.get(), FileBasicInfo, &info, sizeof info))
        throw FileSystemError("directory_entry::status", GetLastError(), shownPath(path));
    return (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void applyUpdateTree(const std::wstring& updateDir, const std::wstring& targetDir)
{
    // The "Step" line comes first, whatever fails after it.
    logPath("Step", updateDir);
    // Resolved once: neither the update folder nor the folders above it change while
    // the walk runs.
    Walk walk;
    walk.targetDir = targetDir;
    walk.canonicalUpdateDir = weaklyCanonical(updateDir);
    const Folder top = {updateDir, verbatimPath(updateDir), walk.canonicalUpdateDir};
    walk.ancestors.push_back(top.canonical);
    listFolder(top, walk);
}
