#include "update/walk.h"

#include "common/fs_error.h"
#include "common/paths.h"
#include "common/own_files.h"
#include "common/unique_any.h"
#include "log/run_log.h"
#include "update/in_folder.h"
#include "update/permissions.h"
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

// The folder that is to hold the files of one folder of the update, held open from its
// check until the walk moves on: the files land in the folder that was checked.
struct DestFolder {
    std::wstring exact;      // as it was opened
    UniqueFileHandle handle; // none when it cannot be opened
    DWORD openError = ERROR_SUCCESS;
    std::wstring canonical; // where the handle leads
    FolderSecurity security;
};

struct Walk {
    std::wstring targetDir; // as given
    std::wstring canonicalUpdateDir;
    // The root, resolved when the first file needs it: a root that cannot be resolved
    // is a failure of that file, not of a run that has done nothing yet.
    std::wstring exactTargetDir;
    std::wstring canonicalTargetDir;
    bool targetResolved = false;
    DestFolder destFolder;
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

void holdDestFolder(Walk& walk, const std::wstring& exact)
{
    DestFolder& folder = walk.destFolder;
    if (folder.handle && folder.exact == exact)
        return;
    folder = DestFolder();
    folder.exact = exact;
    folder.handle = holdFolder(exact, folder.openError);
    if (!folder.handle)
        return;
    folder.canonical =
        withRequestedNames(finalPathOf(folder.handle.get(), shownPath(exact)), exact);
    folder.security = securityForFilesIn(folder.handle.get());
}

// Opened for the move and the new security: readers may stay, writers may not. A
// program that holds the file open for writing would otherwise go on writing into the
// installed file, and one that holds it without delete sharing would make the move
// fail after the old file had gone.
UniqueFileHandle openForMove(const std::wstring& exact, DWORD& error)
{
    UniqueFileHandle file(CreateFileW(exact.c_str(),
                                      DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES |
                                          READ_CONTROL | WRITE_DAC | WRITE_OWNER | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    error = file ? ERROR_SUCCESS : GetLastError();
    return file;
}

// Whether an open file is the listed entry itself: a plain file with one name whose
// final path is its own. Wine lists a link to a file as the file it leads to, and
// opens what it leads to even when asked for the link: where the handle leads counts.
bool isListedFile(HANDLE file, const std::wstring& exact, const std::wstring& itself)
{
    return isPlainSingleFile(file) &&
           sameFinalPath(withRequestedNames(finalPathOf(file, shownPath(exact)), exact), itself);
}

struct UpdateFile {
    std::wstring canonical; // where it leads
    // A plain file with one name, reached by its own name: the only kind that is
    // installed. A link, or a name of a file that has others (a DLL of another
    // program), is not ours, wherever it leads.
    bool ours;
    // Open for all the update does with it: its move and its new security. None when
    // another program holds it so that it cannot be opened so; the replacement tries
    // again.
    UniqueFileHandle opened;
};

UpdateFile resolveFile(const std::wstring& exact, const std::wstring& shown,
                       const std::wstring& canonicalDir, const std::wstring& name)
{
    const std::wstring itself = appendPath(canonicalDir, name);
    DWORD error = ERROR_SUCCESS;
    UniqueFileHandle file = openForMove(exact, error);
    if (file && isListedFile(file.get(), exact, itself))
        return {itself, true, std::move(file)};
    // Refused outright (its owner has denied administrators): never moved by a name
    // that could be pointed elsewhere meanwhile.
    if (!file && error != ERROR_SHARING_VIOLATION)
        throw FileSystemError("rename", error, shown, FileSystemError::Shown::WithoutPath);
    file.reset();
    // A link, a shared name, or a file that another program holds: only looked at.
    const UniqueFileHandle look(CreateFileW(exact.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!look) {
        const DWORD code = GetLastError();
        if (isMissingPathError(code))
            return {itself, false, {}}; // a link whose target is gone
        throw FileSystemError("weakly_canonical", code, shown);
    }
    const std::wstring leadsTo = withRequestedNames(finalPathOf(look.get(), shown), exact);
    const bool held = error == ERROR_SHARING_VIOLATION && sameFinalPath(leadsTo, itself) &&
                      isPlainSingleFile(look.get());
    return {leadsTo, held, {}};
}

// Where dest leads may not be outside the root, the update file itself, or the update
// folder: as administrator we write nowhere but below the root, and never over the
// update that is still to be applied. Gives the refusal's log line, or null.
const char* refusalOf(const Walk& walk, const UpdateFile& file, const std::wstring& name)
{
    const DestFolder& folder = walk.destFolder;
    if (!folder.handle)
        return nullptr; // nothing can land there: the move fails and says so
    const std::wstring leadsTo = appendPath(folder.canonical, name);
    if (!liesBelow(leadsTo, walk.canonicalTargetDir))
        return "Outside of target, ignore it";
    // Moving the file onto itself would destroy it (a root folder that is the update
    // folder).
    if (sameFinalPath(leadsTo, file.canonical))
        return "Same file, ignore it";
    if (sameFinalPath(leadsTo, walk.canonicalUpdateDir) ||
        liesBelow(leadsTo, walk.canonicalUpdateDir))
        return "Inside the update folder, ignore it";
    return nullptr;
}

void applyFile(const std::wstring& exact, UpdateFile file, Walk& walk)
{
    const std::wstring relativePath = lexicallyRelative(file.canonical, walk.canonicalUpdateDir);
    logPath("relativePath=", relativePath);
    // We run as administrator on a folder that the user can write to: a file reached
    // through a link to elsewhere must not be written anywhere but below the root.
    if (!file.ours || !staysBelow(relativePath)) {
        logLine("Outside of target, ignore it");
        return;
    }
    const std::wstring dest = joinPath(walk.targetDir, relativePath);
    logPath("dest=", dest);
    resolveTarget(walk);
    const std::wstring exactDest = appendPath(walk.exactTargetDir, relativePath);
    const std::wstring name = fileName(exactDest);
    holdDestFolder(walk, exactDest.substr(0, exactDest.size() - name.size()));
    if (const char* refusal = refusalOf(walk, file, name)) {
        logLine(refusal);
        return;
    }
    const std::wstring itself = file.canonical;
    replaceFile({shownPath(exactDest), walk.destFolder.handle.get(), walk.destFolder.openError,
                 name, &walk.destFolder.security},
                std::move(file.opened), [&exact, &itself] {
                    // The name is looked at again: it may lead elsewhere by now.
                    DWORD error = ERROR_SUCCESS;
                    UniqueFileHandle again = openForMove(exact, error);
                    if (again && !isListedFile(again.get(), exact, itself))
                        again.reset();
                    return again;
                });
}

bool isWithin(const std::wstring& canonical, const std::wstring& folder)
{
    return sameFinalPath(canonical, folder) || liesBelow(canonical, folder);
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
                // Resolved through the file system whatever the listing says: Wine lists
                // a link to a folder as the folder.
                const std::wstring canonical = weaklyCanonical(exact);
                if (std::any_of(walk.ancestors.begin(), walk.ancestors.end(),
                                [&canonical](const std::wstring& ancestor) {
                                    return sameFinalPath(ancestor, canonical);
                                })) {
                    logLine("Already walked, skip it");
                } else if (!isWithin(canonical, walk.canonicalUpdateDir)) {
                    // Listing a tree elsewhere (C:\ even) into a log that the user can
                    // read, only to refuse every file in it, helps nobody.
                    logLine("Outside of target, ignore it");
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
