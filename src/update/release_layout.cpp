#include "update/release_layout.h"

#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"
#include "log/log_words.h"
#include "log/run_log.h"
#include "update/administrators_sid.h"
#include "update/in_folder.h"
#include "update/install.h"
#include "update/tries.h"
#include "update/write_rights.h"

#include <algorithm>

namespace {

// ERROR_STOPPED_ON_SYMLINK, which not every toolchain's headers name: "The create
// operation stopped after reaching a symbolic link".
constexpr DWORD stoppedOnLink = 681;

// A folder below the root, reached element by element.
struct Reached {
    HANDLE at = nullptr;         // held: the root's handle, or `owned`
    UniqueFileHandle owned;      // the last element's, when there is one
    std::wstring canonical;      // its final path
    std::wstring shown;          // as the log shows it
    DWORD error = ERROR_SUCCESS; // why it was not reached (`at` is then none)
};

bool isLink(HANDLE file)
{
    FILE_BASIC_INFO basic;
    return !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
           (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The folder `relative` (empty: the root itself) below the root, each element held in
// turn, relative to the one before, and made where missing when `make` says so (where
// the root is not the administrators' own, only in a folder where its starter could
// add one). An element that is a link, or whose final path is not its parent's joined
// with its own name (Wine follows a Linux link even when asked not to; a short name
// leads to the long one), stops the reach with stoppedOnLink.
Reached reachFolder(const Destination& root, const std::wstring& relative, bool make)
{
    Reached reached;
    reached.at = root.held;
    reached.canonical = root.path;
    reached.shown = root.shown;
    AdministratorsSid administrators;
    for (size_t start = 0; start < relative.size();) {
        const size_t end = std::min(relative.find(L'\\', start), relative.size());
        const std::wstring element = relative.substr(start, end - start);
        start = end + 1;
        const std::wstring shownParent = reached.shown;
        reached.shown = appendPath(reached.shown, element);
        bool made = false;
        OpenedFile next = holdFolderIn(reached.at, element, false, nullptr, made);
        if (!next.handle && make && isMissingPathError(next.error)) {
            if (root.boundBy && !letsAddAndDelete(reached.at, root.boundBy))
                throw FileSystemError(operation::rootFolder, ERROR_ACCESS_DENIED, shownParent);
            next = holdFolderIn(reached.at, element, true, administrators.get(), made);
        }
        const std::wstring expected = appendPath(reached.canonical, element);
        if (next.handle &&
            (isLink(next.handle.get()) ||
             !sameFinalPath(finalPathOf(next.handle.get(), reached.shown), expected)))
            next = OpenedFile{UniqueFileHandle(), stoppedOnLink};
        if (!next.handle) {
            reached.at = nullptr;
            reached.owned.reset();
            reached.error = next.error;
            return reached;
        }
        if (made)
            logPath(words::folderMade, reached.shown);
        reached.owned = std::move(next.handle);
        reached.at = reached.owned.get();
        reached.canonical = expected;
    }
    return reached;
}

// What became of one removal's try.
enum class Removal { Done, Gone, NotPlain, Refused };

// One try at deleting `name` in the held folder `parent`; where `boundBy` is given, only
// from a folder where it may delete.
Removal tryRemoval(const Reached& parent, const std::wstring& name, const std::wstring& shown,
                   HANDLE boundBy)
{
    OpenedFile file = openInFolder(
        parent.at, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, Disposition::OpenExisting);
    if (!file.handle && isMissingPathError(file.error))
        return Removal::Gone;
    if (!file.handle) {
        bool madeNone = false;
        if (holdFolderIn(parent.at, name, false, nullptr, madeNone).handle)
            return Removal::NotPlain; // a folder
        if (isRefusal(file.error))
            return Removal::Refused;
        throw FileSystemError(operation::remove, file.error, shown);
    }
    if (!isPlainSingleFile(file.handle.get()) ||
        !sameFinalPath(finalPathOf(file.handle.get(), shown), appendPath(parent.canonical, name)))
        return Removal::NotPlain;
    if (boundBy && !letsAddAndDelete(parent.at, boundBy))
        throw FileSystemError(operation::rootFolder, ERROR_ACCESS_DENIED, parent.shown);
    if (deleteOpened(file.handle.get()))
        return Removal::Done;
    const DWORD code = GetLastError();
    if (isRefusal(code))
        return Removal::Refused;
    throw FileSystemError(operation::remove, code, shown);
}

} // namespace

void makeListedFolders(const Destination& root, const std::vector<std::wstring>& folders)
{
    for (const std::wstring& folder : folders) {
        const Reached reached = reachFolder(root, folder, true);
        if (!reached.at)
            throw FileSystemError(operation::createDirectory, reached.error, reached.shown);
    }
}

void removeListedFiles(const Destination& root, const std::vector<std::wstring>& removals)
{
    for (const std::wstring& relative : removals) {
        const std::wstring shown = joinPath(root.shown, relative);
        logPath(words::remove, shown);
        const size_t separator = relative.rfind(L'\\');
        const std::wstring name =
            separator == std::wstring::npos ? relative : relative.substr(separator + 1);
        const Reached parent = reachFolder(
            root, separator == std::wstring::npos ? std::wstring() : relative.substr(0, separator),
            false);
        Removal removal = Removal::Gone;
        if (!parent.at && parent.error == stoppedOnLink)
            removal = Removal::NotPlain;
        else if (!parent.at && !isMissingPathError(parent.error))
            throw FileSystemError(operation::remove, parent.error, parent.shown);
        for (int tries = 0; parent.at; ++tries) {
            removal = tryRemoval(parent, name, shown, root.boundBy);
            if (removal != Removal::Refused)
                break;
            logNumber(words::notWritable, tries);
            if (tries == lastTry)
                throw FileLocked(shown);
            pauseBeforeNextTry();
        }
        logLine(removal == Removal::Done   ? words::removed
                : removal == Removal::Gone ? words::notThere
                                           : words::notPlain);
    }
}
