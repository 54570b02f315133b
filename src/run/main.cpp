#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"
#include "log/run_log.h"
#include "run/command_line.h"
#include "run/desktop_shell.h"
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
            logMessageAndPath("Exception: ", error.what(), error.path());
        else
            logMessage("Exception: ", error.what());
        showFailureMessage(error.path().empty() ? updateDir : error.path());
    } catch (const std::exception& error) {
        logMessage("Exception: ", error.what());
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

        openRunLog(appendPath(heldDir, logFileName).c_str());
        if (args.size() < 2) {
            logLine("No args, exit 1");
            return 1;
        }
        // This run's end must be recorded, in the log or in the completion mark, or the
        // launcher would start the updater again for ever: where neither can be written,
        // the run stops before it moves anything, and starts no launcher.
        const std::wstring markPath = appendPath(heldDir, completionMarkName);
        const UniqueFileHandle mark = openCompletionMarkWhereTheLogFailed(markPath.c_str());
        if (!runLogIsOpen() && !mark) {
            showFailureMessage(appendPath(updateDir, logFileName));
            return 1;
        }
        const std::wstring& targetDir = args[1];
        logPath("targetDir = ", targetDir);
        for (size_t i = 2; i < args.size(); ++i)
            logText("File to remove: ", args[i]); // kept for a later launcher; none removed
        logPath("updateDir = ", updateDir);
        const HeldRoot root = holdRootAboveUpdateFolder(targetDir, heldDir);

        // The launcher comes back with the rights of whoever started the update: read
        // now, the parent is gone after the wait. One we cannot vouch for was none.
        ParentProcess parent = findParentProcess();
        const LauncherRights launcherRights =
            parent.administrator ? LauncherRights::Ours : LauncherRights::SignedInUser;
        if (parent.handle)
            waitForParentToEnd(std::move(parent.handle));

        // A signed-updates build installs only what the publisher signed, of a release no
        // older than the last one applied.
        std::optional<SignedList> signedList;
        if (updateKey.present)
            signedList = readSignedList(heldDir, updateKey.point,
                                        recordedRelease(root.handle.get(), targetDir));
        const UniqueHandle bound = installBound(root, heldDir, parent, targetDir);
        applyUpdateTree(heldDir, {targetDir, root.path, bound.get(), root.handle.get()},
                        signedList ? &*signedList : nullptr);
        if (signedList)
            recordRelease(root.handle.get(), targetDir, signedList->release);
        markCompletionWhereTheLogFailed(mark.get(), markPath.c_str());
        startLauncher(root.path, launcherRights, parent.token.get());
        logLine("All done, exiting");
        closeRunLog();
        return 0;
    } catch (...) {
        return reportFailure(updateDir);
    }
}
