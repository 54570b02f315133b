#include "common/fs_error.h"
#include "common/run_state.h"
#include "log/run_log.h"
#include "run/command_line.h"
#include "run/elevation.h"
#include "run/failure_message.h"
#include "run/library_search.h"
#include "run/process.h"
#include "update/replace.h"
#include "update/walk.h"

#include <windows.h>

#include <exception>
#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    restrictLibrarySearchToSystem();
    // Every failure ends here, the same way: its line in the log, the failure message
    // naming the file or folder concerned, exit code 1, and no launcher start (the
    // update is half applied; the message tells the user what to do). Nothing may
    // leave wWinMain: an escaping exception is a crash dialog.
    try {
        if (!isRunningAsAdmin()) {
            // Hand over to an elevated twin, and stay until the launcher has ended: the
            // twin waits for us, so it touches no file while the launcher runs.
            relaunchElevated();
            if (UniqueHandle parent = findParentProcess())
                waitForExit(std::move(parent));
            return 0;
        }

        openRunLog(L"Updater.log");
        const std::vector<std::wstring> args = splitCommandLine(GetCommandLineW());
        if (args.size() < 2) {
            logLine("No args, exit 1");
            return 1;
        }
        targetDir = args[1];
        logPath("targetDir = ", targetDir);

        // Collected for the launcher's future use; nothing is removed.
        std::vector<std::wstring> removalList;
        removalList.reserve(args.size() - 2);
        for (size_t i = 2; i < args.size(); ++i) {
            logText("File to remove: ", args[i]);
            removalList.push_back(args[i]);
        }

        updateDir = currentDirectory();
        logPath("updateDir = ", updateDir);

        if (UniqueHandle parent = findParentProcess())
            terminateAndWait(std::move(parent));

        applyUpdateTree(updateDir);
        startLauncher(targetDir);
        logLine("All done, exiting");
        closeRunLog();
        return 0;
    } catch (const FileLocked& locked) {
        showFailureMessage(locked.dest); // each try has its line already
    } catch (const FileSystemError& error) {
        logMessage("Exception: ", error.what());
        showFailureMessage(error.path1().empty() ? updateDir : error.path1());
    } catch (const std::exception& error) {
        logMessage("Exception: ", error.what());
        showFailureMessage(updateDir);
    }
    return 1;
}
