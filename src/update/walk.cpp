#include "update/walk.h"

#include "update/walk_seams.h"

#include "common/unique_any.h"
#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"
#include "log/log_words.h"
#include "log/run_log.h"
#include "update/durability.h"
#include "update/in_folder.h"
#include "update/own_files.h"
#include "update/install.h"
#include "update/placement.h"
#include "update/release_layout.h"
#include "update/write_rights.h"

#include <windows.h>

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

// The tree being walked: the update folder and every folder walked so far.
struct Tree {
    std::wstring canonicalUpdateDir;
    // Every folder walked so far, by its final path in upper case: a folder reached
    // again through a link (back to an ancestor, or a ladder of links that doubles the
    // paths at every level) is walked once.
    std::unordered_set<std::wstring> walked;
    // Every listing asks for the plain class from its start (the tests' stand-in for a
    // file system that refuses the class with file ids).
    bool plainListings = false;
};

// Where the tree's files land: the root, the folder that receives, and what every
// install shares.
struct Target {
    std::wstring dir;  // as given, for the log
    std::wstring path; // where it leads, for the files
    HANDLE boundBy = nullptr;
    // The root, resolved when the first file needs it: a root that cannot be resolved
    // is a failure of that file, not of a run that has done nothing yet.
    std::wstring exact;
    std::wstring canonical;
    bool resolved = false;
    HeldFolder folder; // the folder of the file at hand, held until the walk moves on
    InstallContext install;
    const SignedList* signedList = nullptr;
    std::unordered_set<std::wstring> installed; // relativePath of each listed file installed
};

// The root as the folder it must be. Throws FileSystemError "weakly_canonical" naming
// the root as given when it is empty or does not lead to an existing folder (a drive
// or share that this elevated process does not see): nothing could land below it.
void resolveTarget(Target& target)
{
    if (target.resolved)
        return;
    if (target.path.empty())
        throw FileSystemError(operation::weaklyCanonical, ERROR_PATH_NOT_FOUND, target.dir);
    target.exact = verbatimPath(target.path);
    const UniqueFileHandle root = openToLook(target.exact, operation::weaklyCanonical, target.dir);
    FILE_BASIC_INFO basic;
    if (!root || !GetFileInformationByHandleEx(root.get(), FileBasicInfo, &basic, sizeof basic))
        throw FileSystemError(operation::weaklyCanonical, GetLastError(), target.dir);
    if (!(basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        throw FileSystemError(operation::weaklyCanonical, ERROR_DIRECTORY, target.dir);
    target.canonical = withRequestedNames(finalPathOf(root.get(), target.dir), target.exact);
    target.resolved = true;
}

// The folder of `exactDest` held, unless it is held already.
HeldFolder& holdFolderOf(Target& target, const std::wstring& exactDest, const std::wstring& name)
{
    const std::wstring exact = exactDest.substr(0, exactDest.size() - name.size());
    if (!target.folder.handle || target.folder.exact != exact)
        target.folder = holdDestFolder(exact);
    return target.folder;
}

void applyFile(UpdateFile file, const Tree& tree, Target& target)
{
    const std::wstring relativePath = lexicallyRelative(file.canonical, tree.canonicalUpdateDir);
    logPath(words::relativePath, relativePath);
    // We run as administrator on a folder that the user can write to: a file reached
    // through a link to elsewhere must not be written anywhere but below the root.
    if (!file.ours || !staysBelowLexically(relativePath)) {
        logLine(words::outsideTarget);
        return;
    }
    const ListedFile* signedAs = nullptr;
    if (target.signedList) {
        const auto listed = target.signedList->files.find(relativePath);
        if (listed == target.signedList->files.end()) {
            logLine(words::notSigned);
            return;
        }
        signedAs = &listed->second;
    }
    const std::wstring shownDest = joinPath(target.dir, relativePath);
    logPath(words::dest, shownDest);
    resolveTarget(target);
    const std::wstring exactDest = appendPath(target.exact, relativePath);
    const std::wstring name = fileName(exactDest);
    HeldFolder& folder = holdFolderOf(target, exactDest, name);
    // A folder that cannot be held takes nothing: the install fails and says so.
    if (folder.handle) {
        const Placement placement{appendPath(folder.canonical, name), target.canonical,
                                  file.canonical, tree.canonicalUpdateDir};
        if (const char* refusal = refusalOf(placement)) {
            logLine(refusal);
            return;
        }
    }
    // Where the root is not the administrators' own, a folder that the starter could not
    // write stops the run before anything lands in it or leaves it (checked once, before
    // the folder first receives).
    if (target.boundBy && folder.handle && !folder.receives &&
        !letsAddAndDelete(folder.handle.get(), target.boundBy))
        throw FileSystemError(operation::rootFolder, ERROR_ACCESS_DENIED, parentPath(shownDest));
    // Only below the root: nothing of a folder elsewhere is ever deleted.
    readyToReceive(folder, target.install.durability);
    installFile(folder, name, std::move(file), signedAs, target.install);
    if (signedAs)
        target.installed.insert(relativePath);
}

// A signed release is whole: each listed file that this run did not install (an earlier
// run did, or it went missing from the update folder after signing) stands at its
// place as the publisher listed it. Throws FileSystemError "signed_list" naming the
// first that does not.
void requireListedFilesInPlace(Target& target)
{
    const SignedList& list = *target.signedList;
    for (const auto& [relativePath, listed] : list.files) {
        if (target.installed.count(relativePath))
            continue;
        const std::wstring shown = joinPath(target.dir, relativePath);
        resolveTarget(target);
        const UniqueFileHandle file(CreateFileW(appendPath(target.exact, relativePath).c_str(),
                                                GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            throw FileSystemError(operation::signedList, GetLastError(), shown);
        if (!holdsAsListed(file.get(), listed, list.sha256.get(), target.install.copyBuffer))
            throw FileSystemError(operation::signedList, ERROR_INVALID_DATA, shown);
    }
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
    // The class that every file system answers, in place of the one with file ids that
    // some (a network redirector) refuse. The walk reads an entry's name and attributes
    // only: what an entry is, is checked on a handle of its own.
    bool plain = false;
    std::wstring name; // the entry to deal with
    DWORD attributes = 0;
};

// Reads the listing's next entry out of its batch, as the class `Info` gives it.
template <typename Info> void readEntry(Listing& listing)
{
    const auto* entry = reinterpret_cast<const Info*>(listing.batch.data() + listing.nextEntry);
    listing.name.assign(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
    listing.attributes = entry->FileAttributes;
    listing.nextEntry = entry->NextEntryOffset != 0 ? listing.nextEntry + entry->NextEntryOffset
                                                    : listing.batch.size();
}

// The codes of a file system that does not know a listing class.
bool refusesClass(DWORD code)
{
    return code == ERROR_INVALID_PARAMETER || code == ERROR_NOT_SUPPORTED ||
           code == ERROR_INVALID_LEVEL || code == ERROR_INVALID_FUNCTION;
}

// Moves a listing to its next entry; false at its end.
bool advance(Listing& listing)
{
    for (;;) {
        if (listing.nextEntry < listing.batch.size()) {
            listing.plain ? readEntry<FILE_FULL_DIR_INFO>(listing)
                          : readEntry<FILE_ID_BOTH_DIR_INFO>(listing);
            return true;
        }
        listing.batch.resize(16 * 1024);
        const FILE_INFO_BY_HANDLE_CLASS infoClass =
            listing.plain
                ? (listing.restart ? FileFullDirectoryRestartInfo : FileFullDirectoryInfo)
                : (listing.restart ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo);
        if (!GetFileInformationByHandleEx(listing.handle.get(), infoClass, listing.batch.data(),
                                          static_cast<DWORD>(listing.batch.size()))) {
            const DWORD code = GetLastError();
            // An empty drive's root has not even "." and "..".
            if (code == ERROR_NO_MORE_FILES || (listing.restart && code == ERROR_FILE_NOT_FOUND))
                return false;
            if (listing.restart && !listing.plain && refusesClass(code)) {
                listing.plain = true;
                continue;
            }
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
    OpenedFile held = holdFolder(exact);
    if (!held.handle) // the listing's own open
        throw FileSystemError(operation::listFolder, held.error, shown);
    canonical = withRequestedNames(finalPathOf(held.handle.get(), shown), exact);
    return std::move(held.handle);
}

// Puts the listing of a folder about to be walked on the stack.
void enter(std::vector<Listing>& stack, const std::wstring& shown, const std::wstring& canonical,
           UniqueFileHandle held, Tree& tree)
{
    tree.walked.insert(caseFoldedKey(canonical));
    Listing listing;
    listing.folder = {shown, verbatimOfFinal(canonical), canonical};
    listing.handle = std::move(held);
    listing.plain = tree.plainListings;
    stack.push_back(std::move(listing));
}

// A folder entry: entered unless walked already or outside the update folder; checked
// and listed through one handle.
void dealWithFolder(std::vector<Listing>& stack, const std::wstring& shown,
                    const std::wstring& exact, Tree& tree)
{
    // Resolved through the file system whatever the listing says: Wine lists a link to
    // a folder as the folder.
    std::wstring canonical;
    UniqueFileHandle held = holdWalkedFolder(exact, shown, canonical);
    if (tree.walked.count(caseFoldedKey(canonical)) != 0) {
        logLine(words::alreadyWalked);
    } else if (!liesWithin(canonical, tree.canonicalUpdateDir)) {
        // Listing a tree elsewhere (a whole drive even) into a log that the user can
        // read, only to refuse every file in it, helps nobody.
        logLine(words::outsideTarget);
    } else {
        logLine(words::directory);
        logPath(words::step, shown);
        enter(stack, shown, canonical, std::move(held), tree);
    }
}

// The whole tree, depth first in listing order, without recursion: a chain of folders
// thousands deep needs no stack of the thread's. Each folder's entries come after its
// "Step" line; a folder's tree is done before the next entry of its parent.
void walkTree(const std::wstring& shownTop, UniqueFileHandle top, Tree& tree, Target& target)
{
    std::vector<Listing> stack;
    enter(stack, shownTop, tree.canonicalUpdateDir, std::move(top), tree);
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
        logPath(words::subPath, shown);
        if (leadsToFolder(exact, attributes))
            dealWithFolder(stack, shown, exact, tree); // `listing` is not used after this
        else if (isOwnFile(name) || (isLogFileName(name) && isRunLog(exact)))
            logLine(words::ownFile);
        else
            applyFile(openUpdateFile(exact, shown, canonicalDir, name), tree, target);
    }
}

} // namespace

void applyUpdateTree(const std::wstring& updateDir, const Destination& root,
                     const SignedList* signedList, WalkStandIns standIns)
{
    // A signed release's folders stand before its files are installed.
    if (signedList)
        makeListedFolders(root, signedList->folders);
    // The "Step" line comes first, whatever fails after it.
    logPath(words::step, updateDir);
    // Resolved once: neither the update folder nor the folders above it change while
    // the walk runs.
    Tree tree;
    Target target;
    target.dir = root.shown;
    target.path = root.path;
    target.boundBy = root.boundBy;
    target.signedList = signedList;
    target.install.durability = std::move(standIns.durability);
    target.install.sha256 = signedList ? signedList->sha256.get() : nullptr;
    tree.plainListings = standIns.plainListings;
    UniqueFileHandle top =
        holdWalkedFolder(verbatimPath(updateDir), updateDir, tree.canonicalUpdateDir);
    walkTree(updateDir, std::move(top), tree, target);
    flushAfterLastMove(target.install.durability);
    if (signedList) {
        requireListedFilesInPlace(target);
        // Only a release whose files all stand drops the files it no longer has.
        removeListedFiles(root, signedList->removals);
    }
}

void applyUpdateTree(const std::wstring& updateDir, const Destination& root,
                     const SignedList* signedList)
{
    applyUpdateTree(updateDir, root, signedList, WalkStandIns());
}
