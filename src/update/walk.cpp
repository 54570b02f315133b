#include "update/walk.h"

#include "common/unique_any.h"
#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"
#include "log/run_log.h"
#include "update/durability.h"
#include "update/in_folder.h"
#include "update/own_files.h"
#include "update/replace.h"

#include <windows.h>

#include <initializer_list>
#include <unordered_set>
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
    bool receives = false;  // a file is installed into it: copies left there are cleared
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
    // Every folder walked so far, by its final path in upper case: a folder reached
    // again through a link (back to an ancestor, or a ladder of links that doubles the
    // paths at every level) is walked once.
    std::unordered_set<std::wstring> walked;
    Durability durability;
    std::vector<char> copyBuffer; // every install's data passes through it
    const SignedList* signedList = nullptr;
};

// The root as the folder it must be. Throws FileSystemError "weakly_canonical" naming
// the root as given when it is empty or does not lead to an existing folder (a drive
// or share that this elevated process does not see): nothing could land below it.
void resolveTarget(Walk& walk)
{
    if (walk.targetResolved)
        return;
    if (walk.targetDir.empty())
        throw FileSystemError(operation::weaklyCanonical, ERROR_PATH_NOT_FOUND, walk.targetDir);
    walk.exactTargetDir = verbatimPath(walk.targetDir);
    const UniqueFileHandle root(CreateFileW(walk.exactTargetDir.c_str(), FILE_READ_ATTRIBUTES,
                                            shareAll, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILE_BASIC_INFO basic;
    if (!root || !GetFileInformationByHandleEx(root.get(), FileBasicInfo, &basic, sizeof basic))
        throw FileSystemError(operation::weaklyCanonical, GetLastError(), walk.targetDir);
    if (!(basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        throw FileSystemError(operation::weaklyCanonical, ERROR_DIRECTORY, walk.targetDir);
    walk.canonicalTargetDir =
        withRequestedNames(finalPathOf(root.get(), walk.targetDir), walk.exactTargetDir);
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
}

// Opened for its install, which reads it and then deletes it: readers may stay, writers
// may not, so that the data installed is the data checked, and nobody can keep the
// update file from being deleted once its copy is in place. Attribute access too where
// the file allows it (Wine refuses it on a read-only file), so that a read-only update
// file can be deleted where the system has no deletion that ignores the attribute.
UniqueFileHandle openForMove(const std::wstring& exact, DWORD& error)
{
    constexpr DWORD access = DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    for (const DWORD attributes : {DWORD{FILE_WRITE_ATTRIBUTES}, DWORD{0}}) {
        UniqueFileHandle file(CreateFileW(exact.c_str(), access | attributes,
                                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        error = file ? ERROR_SUCCESS : GetLastError();
        if (file || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
            return file;
    }
    return {};
}

struct UpdateFile {
    std::wstring canonical; // where it leads
    // A plain file with one name, reached by its own name: the only kind that is
    // installed. A link, or a name of a file that has others (a DLL of another
    // program), is not ours, wherever it leads.
    bool ours;
    // Open for all the update does with it: its copy and its deletion. None when
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
    if (file && isPlainFileAt(file.get(), exact, itself))
        return {itself, true, std::move(file)};
    // Refused outright (its owner has denied administrators): never moved by a name
    // that could be pointed elsewhere meanwhile.
    if (!file && error != ERROR_SHARING_VIOLATION)
        throw FileSystemError(operation::rename, error, shown, FileSystemError::Shown::WithoutPath);
    file.reset();
    // A link, a shared name, or a file that another program holds: only looked at.
    const UniqueFileHandle look = openToLook(exact, operation::weaklyCanonical, shown);
    if (!look)
        return {itself, false, {}}; // a link whose target is gone
    const std::wstring leadsTo = withRequestedNames(finalPathOf(look.get(), shown), exact);
    const bool held = error == ERROR_SHARING_VIOLATION && sameFinalPath(leadsTo, itself) &&
                      isPlainSingleFile(look.get());
    return {leadsTo, held, {}};
}

// The folder itself or anything below it, by final paths.
bool isWithin(const std::wstring& canonical, const std::wstring& folder)
{
    return sameFinalPath(canonical, folder) || liesBelow(canonical, folder);
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
    if (isWithin(leadsTo, walk.canonicalUpdateDir))
        return "Inside the update folder, ignore it";
    return nullptr;
}

void applyFile(const std::wstring& exact, UpdateFile file, Walk& walk)
{
    const std::wstring relativePath = lexicallyRelative(file.canonical, walk.canonicalUpdateDir);
    logPath("relativePath=", relativePath);
    // We run as administrator on a folder that the user can write to: a file reached
    // through a link to elsewhere must not be written anywhere but below the root.
    if (!file.ours || !staysBelowLexically(relativePath)) {
        logLine("Outside of target, ignore it");
        return;
    }
    const ListedFile* signedAs = nullptr;
    if (walk.signedList) {
        const auto listed = walk.signedList->files.find(relativePath);
        if (listed == walk.signedList->files.end()) {
            logLine("Not in the signed list, ignore it");
            return;
        }
        signedAs = &listed->second;
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
    DestFolder& folder = walk.destFolder;
    if (folder.handle && !folder.receives) {
        // Only below the root: nothing of a folder elsewhere is ever deleted.
        removeCopiesLeftIn(folder.handle.get(), folder.exact, folder.canonical);
        noteMoveInto(walk.durability, folder.exact);
        folder.receives = true;
    }
    const std::wstring itself = file.canonical;
    replaceFile(
        {shownPath(exactDest), exactDest, appendPath(folder.canonical, name),
         folder.handle ? folder.handle.get() : nullptr, folder.openError, name},
        std::move(file.opened),
        [&exact, &itself] {
            // The name is looked at again: it may lead elsewhere by now.
            DWORD error = ERROR_SUCCESS;
            UniqueFileHandle again = openForMove(exact, error);
            if (again && !isPlainFileAt(again.get(), exact, itself))
                again.reset();
            return again;
        },
        walk.copyBuffer, signedAs, walk.signedList ? walk.signedList->sha256.get() : nullptr);
}

// One folder's listing, read through a handle held without delete sharing while the
// walk is in it or below it: the names listed are that folder's, whatever is done to
// the paths meanwhile (a folder swapped for a link cannot be, while it is held).
struct Listing {
    // `exact`: the verbatim form of the folder's final path. Its entries are reached
    // below it, never again through the links that led to it (a chain of links would
    // otherwise grow every path by a link's name at each level).
    Folder folder;
    UniqueFileHandle handle;
    std::vector<BYTE> batch; // entries as the file system gave them
    size_t nextEntry = 0;    // offset of the next one in `batch`; its size when read out
    bool restart = true;     // the first batch is still to be asked for
    std::wstring name;       // the entry to deal with
    DWORD attributes = 0;
};

// Moves a listing to its next entry; false at its end.
bool advance(Listing& listing)
{
    for (;;) {
        if (listing.nextEntry < listing.batch.size()) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(
                listing.batch.data() + listing.nextEntry);
            listing.name.assign(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            listing.attributes = entry->FileAttributes;
            listing.nextEntry = entry->NextEntryOffset != 0
                                    ? listing.nextEntry + entry->NextEntryOffset
                                    : listing.batch.size();
            return true;
        }
        listing.batch.resize(16 * 1024);
        if (!GetFileInformationByHandleEx(
                listing.handle.get(),
                listing.restart ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
                listing.batch.data(), static_cast<DWORD>(listing.batch.size()))) {
            const DWORD code = GetLastError();
            // An empty drive's root has not even "." and "..".
            if (code == ERROR_NO_MORE_FILES || (listing.restart && code == ERROR_FILE_NOT_FOUND))
                return false;
            throw FileSystemError(listing.restart ? operation::listFolder : operation::nextEntry,
                                  code, listing.folder.shown);
        }
        listing.restart = false;
        listing.nextEntry = 0;
    }
}

// A folder of the walk, held; what it leads to is read on that handle. Throws
// FileSystemError "directory_iterator::directory_iterator" naming `shown` when it cannot
// be opened.
UniqueFileHandle holdWalkedFolder(const std::wstring& exact, const std::wstring& shown,
                                  std::wstring& canonical)
{
    DWORD error = ERROR_SUCCESS;
    UniqueFileHandle held = holdFolder(exact, error);
    if (!held) // the listing's own open
        throw FileSystemError(operation::listFolder, error, shown);
    canonical = withRequestedNames(finalPathOf(held.get(), shown), exact);
    return held;
}

// Puts the listing of a folder about to be walked on the stack.
void enter(std::vector<Listing>& stack, const std::wstring& shown, const std::wstring& canonical,
           UniqueFileHandle held, Walk& walk)
{
    walk.walked.insert(caseFoldedKey(canonical));
    Listing listing;
    listing.folder = {shown, verbatimOfFinal(canonical), canonical};
    listing.handle = std::move(held);
    stack.push_back(std::move(listing));
}

// A folder entry: entered unless walked already or outside the update folder; checked
// and listed through one handle.
void dealWithFolder(std::vector<Listing>& stack, const std::wstring& shown,
                    const std::wstring& exact, Walk& walk)
{
    // Resolved through the file system whatever the listing says: Wine lists a link to
    // a folder as the folder.
    std::wstring canonical;
    UniqueFileHandle held = holdWalkedFolder(exact, shown, canonical);
    if (walk.walked.count(caseFoldedKey(canonical)) != 0) {
        logLine("Already walked, skip it");
    } else if (!isWithin(canonical, walk.canonicalUpdateDir)) {
        // Listing a tree elsewhere (a whole drive even) into a log that the user can
        // read, only to refuse every file in it, helps nobody.
        logLine("Outside of target, ignore it");
    } else {
        logLine("It's a directory, go down");
        logPath("Step", shown);
        enter(stack, shown, canonical, std::move(held), walk);
    }
}

// The whole tree, depth first in listing order, without recursion: a chain of folders
// thousands deep needs no stack of the thread's. Each folder's entries come after its
// "Step" line; a folder's tree is done before the next entry of its parent.
void walkTree(const std::wstring& shownTop, UniqueFileHandle top, Walk& walk)
{
    std::vector<Listing> stack;
    enter(stack, shownTop, walk.canonicalUpdateDir, std::move(top), walk);
    while (!stack.empty()) {
        Listing& listing = stack.back();
        if (!advance(listing)) {
            stack.pop_back();
            continue;
        }
        const std::wstring name = listing.name;
        if (name == L"." || name == L"..")
            continue;
        const DWORD attributes = listing.attributes;
        const std::wstring shown = appendPath(listing.folder.shown, name);
        const std::wstring exact = appendPath(listing.folder.exact, name);
        const std::wstring canonicalDir = listing.folder.canonical;
        logPath("Sub path", shown);
        if (leadsToFolder(exact, attributes))
            dealWithFolder(stack, shown, exact, walk); // `listing` is not used after this
        else if (isOwnFile(name) || (isLogFileName(name) && isRunLog(exact)))
            logLine("This is our exe or log, ignore it");
        else
            applyFile(exact, resolveFile(exact, shown, canonicalDir, name), walk);
    }
}

} // namespace

void applyUpdateTree(const std::wstring& updateDir, const std::wstring& targetDir,
                     const SignedList* signedList)
{
    // The "Step" line comes first, whatever fails after it.
    logPath("Step", updateDir);
    // Resolved once: neither the update folder nor the folders above it change while
    // the walk runs.
    Walk walk;
    walk.targetDir = targetDir;
    walk.signedList = signedList;
    UniqueFileHandle top =
        holdWalkedFolder(verbatimPath(updateDir), updateDir, walk.canonicalUpdateDir);
    walkTree(updateDir, std::move(top), walk);
    flushAfterLastMove(walk.durability);
}
