#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"
#include "log/log_words.h"
#include "log/run_log.h"
#include "run/command_line.h"
#include "run/elevation.h"
#include "run/environment.h"
#include "run/library_search.h"
#include "run/messages.h"
#include "run/process.h"
#include "run/single_run.h"
#include "run/update_key.h"
#include "update/own_files.h"
#include "update/in_folder.h"
#include "update/install.h"
#include "update/release_record.h"
#include "update/walk.h"
#include "update/write_rights.h"

#include <windows.h>

#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace {

// The instance without administrator rights hands over to an elevated twin and stays
// until the launcher has ended: the twin waits for us, so it touches no file while the
// launcher runs. A twin that came back without rights asks the user before it asks
// Windows again, or the twins would start each other for ever.
int handOverToElevatedTwin()
{
    ParentProcess parent = findParentProcess();
    relaunchElevated(isUnelevatedTwin(parent.image) ? FirstAsk::User : FirstAsk::Windows);
    if (parent.handle)
        waitForExit(std::move(parent.handle));
    return 0;
}

// Every failure ends this one way, called from the one catch of wWinMain: its line in
// the log, the failure message naming the file or folder concerned (the update folder
// where nothing more precise is known), exit code 1, and no launcher start (the update
// is half applied; the message tells the user what to do).
int reportFailure(const std::wstring& updateDir)
{
    try {
        throw;
    } catch (const FileLocked& locked) {
        showFailureMessage(locked.dest()); // each try has its line already
    } catch (const FileSystemError& error) {
        if (error.pathShownInLog())
            logMessageAndPath(words::exception, error.what(), error.path());
        else
            logMessage(words::exception, error.what());
        showFailureMessage(error.path().empty() ? updateDir : error.path());
    } catch (const std::exception& error) {
        logMessage(words::exception, error.what());
        showFailureMessage(updateDir);
    } catch (...) {
        showFailureMessage(updateDir);
    }
    return 1;
}

// Whose rights bound where this run installs (write_rights.h): nobody's where an
// administrator started us or installed the root (it and its resources folder owned by
// Administrators, SYSTEM or TrustedInstaller); the starter's otherwise. Throws
// FileSystemError "root_folder" naming the root as given when those cannot be had.
UniqueHandle installBound(const HeldRoot& root, const std::wstring& updateFolder,
                          const ParentProcess& parent, const std::wstring& targetDir)
{
    const OpenedFile resources = holdFolder(verbatimPath(parentPath(updateFolder)));
    if (parent.administrator || (isOwnedByAdministrators(root.handle.get()) && resources.handle &&
                                 isOwnedByAdministrators(resources.handle.get())))
        return {};
    UniqueHandle bound = accessCheckTokenOf(parent.token.get());
    if (!bound)
        throw FileSystemError(operation::rootFolder, GetLastError(), targetDir);
    return bound;
}

// claimUpdateFolder, with a refusal in the log: no run of ours can hold a folder whose
// single-run name another program took, so the log is this run's to write.
UpdateFolderClaim claimLoggingRefusal(const std::wstring& heldDir, bool& anotherRunHadIt)
{
    try {
        return claimUpdateFolder(heldDir, anotherRunHadIt);
    } catch (const SingleRunRefused&) {
        openRunLog(appendPath(heldDir, logFileName).c_str());
        throw;
    }
}

// The run's record: the log opened (emptied), and where it cannot be written, the
// completion mark beside it, for this run's end must be recorded in one of them or the
// launcher would start the updater again for ever. Then the command line and the update
// folder, logged. False, once the run is over: no root was given ("No args, exit 1"), or
// neither can be written (the failure message; the run starts no launcher).
bool openRunRecord(const std::wstring& heldDir, const std::wstring& updateDir,
                   const std::vector<std::wstring>& args, UniqueFileHandle& mark)
{
    openRunLog(appendPath(heldDir, logFileName).c_str());
    if (args.size() < 2) {
        logLine(words::noArgs);
        return false;
    }
    mark = openCompletionMarkWhereTheLogFailed(appendPath(heldDir, completionMarkName).c_str());
    if (!runLogIsOpen() && !mark) {
        showFailureMessage(appendPath(updateDir, logFileName));
        return false;
    }
    logPath(words::targetDir, args[1]);
    for (size_t i = 2; i < args.size(); ++i)
        logText(words::fileToRemove, args[i]); // kept for a later launcher; none removed
    logPath(words::updateDir, updateDir);
    return true;
}

// The update itself, once the launcher has ended. A signed-updates build installs only
// what the publisher signed, of a release no older than the last one applied, and
// records the release once it is whole.
void applyUpdate(const std::wstring& heldDir, const HeldRoot& root, const ParentProcess& parent,
                 const std::wstring& targetDir)
{
    std::optional<SignedList> signedList;
    if (updateKey.present)
        signedList =
            readSignedList(heldDir, updateKey.point, recordedRelease(root.handle.get(), targetDir));
    const UniqueHandle bound = installBound(root, heldDir, parent, targetDir);
    applyUpdateTree(heldDir, {targetDir, root.path, bound.get(), root.handle.get()},
                    signedList ? &*signedList : nullptr);
    if (signedList)
        recordRelease(root.handle.get(), targetDir, signedList->release);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    restrictLibrarySearchToSystem();
    std::wstring updateDir;
    try { // nothing may leave wWinMain: an escaping exception is a crash dialog
        if (!isRunningAsAdmin())
            return handOverToElevatedTwin();

        updateDir = currentDirectory();
        // As administrator, only the folder we were shipped in is the update: started
        // anywhere else, we would move that folder's files into the root. Held to the end
        // (the wait for the launcher may last a whole game session), and named by where
        // it leads.
        std::wstring heldDir;
        const UniqueFileHandle updateFolder = holdOwnUpdateFolder(updateDir, heldDir);
        if (!updateFolder) {
            showFailureMessage(updateDir);
            return 1;
        }
        const std::vector<std::wstring> args = splitCommandLine(GetCommandLineW());
        // And only where it stands as the launcher's own resources\update: a copy of a
        // signed updater elsewhere, elevated once, would install anything anywhere.
        if (!isPlacedAsUpdateFolder(heldDir)) {
            showFailureMessage(args.size() < 2 ? updateDir : args[1]);
            return 1;
        }
        // A second updater for this folder (a launcher started twice) leaves the update
        // and the launcher's start to the first, and ends once that one has.
        bool anotherRunHadIt = false;
        const UpdateFolderClaim claim = claimLoggingRefusal(heldDir, anotherRunHadIt);
        if (anotherRunHadIt)
            return 0;

        UniqueFileHandle mark;
        if (!openRunRecord(heldDir, updateDir, args, mark))
            return 1;
        const HeldRoot root = holdRootAboveUpdateFolder(args[1], heldDir);

        // The launcher comes back with the rights of whoever started the update: read
        // now, the parent is gone after the wait. One we cannot vouch for was none.
        ParentProcess parent = findParentProcess();
        const LauncherRights launcherRights =
            parent.administrator ? LauncherRights::Ours : LauncherRights::SignedInUser;
        if (parent.handle)
            waitForParentToEnd(std::move(parent.handle));
        applyUpdate(heldDir, root, parent, args[1]);
        markCompletionWhereTheLogFailed(mark.get(),
                                        appendPath(heldDir, completionMarkName).c_str());
        startLauncher(root.path, launcherRights, parent.token.get());
        logLine(words::allDone);
        closeRunLog();
        return 0;
    } catch (...) {
        return reportFailure(updateDir);
    }
}
