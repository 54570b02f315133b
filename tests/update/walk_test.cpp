#include "fs/fs_error.h"
#include "helpers/harness.h"
#include "update/walk_seams.h"
#include "update/walk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The log's first lines, for a run that names `target` as the root.
std::string header(const Sandbox& box, const std::wstring& target)
{
    return logLines({"targetDir = " + logged(target), "updateDir = " + logged(box.updateDir)});
}

std::string skipped(const std::wstring& path)
{
    return logLines({subPathLine(path), "This is our exe or log, ignore it"});
}

class UpdateWalk : public SandboxTest {
protected:
    std::wstring quotedRoot() const { return inQuotes(box_.root); }
};

} // namespace

// The updater's own files are skipped by their stem at any depth, the open log by what
// it is (under any letter case); everything else, a folder named like them too, is an
// update file.
TEST_F(UpdateWalk, OwnFilesAreSkippedByTheirStemAtAnyDepth)
{
    const std::wstring sub = box_.updateDir + L"\\sub";
    const std::wstring folder = box_.updateDir + L"\\Updater";
    makeDirs(sub);
    makeDirs(folder);
    makeDirs(box_.root + L"\\sub");
    makeDirs(box_.root + L"\\Updater");
    // A signed list in the update folder is one of the updater's own files too, where the
    // build has no key to check it with.
    writeFile(box_.updateDir + L"\\Updater.manifest", "own");
    writeFile(sub + L"\\Updater", "own");
    writeFile(sub + L"\\Updater.txt", "own");
    writeFile(sub + L"\\Updater.exe", "own");
    // Win32 drops a final dot from names; the verbatim form keeps it.
    writeFile(L"\\\\?\\" + sub + L"\\Updater.", "own");
    for (const wchar_t* update : {L"Updater.tar.gz", L"Updater2.exe", L".Updater"})
        writeFile(box_.updateDir + L"\\" + update, "update");
    // On Windows updater.exe cannot stand beside Updater.exe, which differs in case only.
    makeDirs(box_.updateDir + L"\\other");
    makeDirs(box_.root + L"\\other");
    writeFile(box_.updateDir + L"\\other\\updater.exe", "update");
    // The open log, under another letter case than the updater opened it by.
    writeFile(box_.updateDir + L"\\UPDATER.LOG", "an earlier run's log");
    // Named like the log but below it: an update file (only the open log itself is left).
    writeFile(box_.updateDir + L"\\other\\UPDATER.LOG", "update");
    writeFile(folder + L"\\inside.txt", "update");

    const RunResult run = runUpdater(box_, quotedRoot());
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    for (const wchar_t* own : {L"\\UPDATER.LOG", L"\\Updater.manifest", L"\\sub\\Updater",
                               L"\\sub\\Updater.txt", L"\\sub\\Updater.exe", L"\\sub\\Updater."}) {
        EXPECT_TRUE(contains(run.log, skipped(box_.updateDir + own))) << own;
        EXPECT_FALSE(exists(L"\\\\?\\" + box_.root + own)) << own;
    }
    for (const wchar_t* update :
         {L"\\other\\updater.exe", L"\\other\\UPDATER.LOG", L"\\Updater.tar.gz", L"\\Updater2.exe",
          L"\\.Updater", L"\\Updater\\inside.txt"}) {
        EXPECT_EQ(readFile(box_.root + update), "update") << update;
        EXPECT_FALSE(exists(box_.updateDir + update)) << update;
    }
    EXPECT_TRUE(contains(run.log, logLines({subPathLine(folder), "It's a directory, go down"})));
    EXPECT_TRUE(endsWith(run.log, runEndLines(box_)));
}

// Without a parent to wait for and without a launcher to start, the run still ends as
// a complete one.
TEST_F(UpdateWalk, UpdateFolderWithOnlyTheUpdaterAppliesNothing)
{
    const RunResult run = runUpdater(box_, quotedRoot());
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.log, header(box_, box_.root) + walkLines(box_) + runEndLines(box_));
}

// Whoever starts the updater chooses its working folder, and may copy the (signed)
// updater anywhere: as administrator it applies only the folder it was shipped in, only
// where that stands as a resources\update, and writes nothing anywhere else.
TEST_F(UpdateWalk, UpdaterStartedOutsideItsOwnResourcesUpdateIsRefusedUntouched)
{
    const struct {
        const char* what;
        const wchar_t* folder; // below the sandbox's base
        bool copied;           // the updater copied there
        std::wstring root;     // as given
    } rows[] = {
        {"a working folder that does not hold the updater", L"\\elsewhere0", false, box_.root},
        {"a copy of the updater in a folder of its own", L"\\elsewhere1", true, box_.root},
        {"a copy in an update folder without its resources level", L"\\x\\update", true, box_.base},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::wstring elsewhere = box_.base + row.folder;
        makeDirs(elsewhere);
        writeFile(elsewhere + L"\\a.txt", "not an update");
        StartOptions options;
        options.args = inQuotes(row.root);
        options.workDir = elsewhere;
        if (row.copied) {
            options.updater = elsewhere + L"\\Updater.exe";
            copyFile(box_.updater, options.updater);
        }
        Started started = startWithoutParent(box_, options);
        ASSERT_TRUE(started.updater);
        answerMessageBoxShowing(started.pid, failureText(row.copied ? row.root : elsewhere));
        EXPECT_EQ(exitCodeOf(started.updater.get()), 1u);
        EXPECT_EQ(listing(elsewhere).size(), row.copied ? 2u : 1u) << "a log written";
        EXPECT_EQ(readFile(elsewhere + L"\\a.txt"), "not an update");
        EXPECT_FALSE(exists(row.root + L"\\a.txt"));
        EXPECT_FALSE(exists(box_.log));
    }
}

// As administrator the updater installs below the launcher's own root, two levels above
// its own folder, and nowhere else, whatever the command line says: any other root (the
// update folder itself, the bare drive of another volume, which is that drive's root, a
// folder elsewhere) stops the run after its first lines, naming the root as given.
TEST_F(UpdateWalk, RootThatIsNotTheLaunchersOwnIsRefusedBeforeAnythingMoves)
{
    writeFile(box_.updateDir + L"\\a.txt", "precious");
    std::string why;
    const std::wstring volume = otherVolume(&why);
    std::vector<std::wstring> roots = {box_.updateDir, L".", box_.base, box_.root + L"\\resources"};
    if (!volume.empty())
        roots.push_back(volume.substr(0, 2));
    for (const std::wstring& root : roots) {
        SCOPED_TRACE(testing::PrintToString(root));
        const RunResult run = runRefused(box_, inQuotes(root), root);
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_EQ(run.log, header(box_, root) + "Exception: root_folder: " +
                               systemMessage(ERROR_BAD_PATHNAME) + " " + logged(root) + "\r\n");
        EXPECT_EQ(readFile(box_.updateDir + L"\\a.txt"), "precious");
        EXPECT_EQ(listing(box_.root), std::vector<std::wstring>{L"resources"});
    }
}

// The update folder is resolved once, before the wait for the launcher (a whole game
// session), and held: a link it was reached through, retargeted meanwhile, does not
// bring another folder's files into the root.
TEST_F(UpdateWalk, UpdateFolderIsTheOneCheckedWhateverItsLinkLeadsToAfterTheWait)
{
    writeFile(box_.updateDir + L"\\a.txt", "the update");
    const std::wstring planted = box_.base + L"\\planted";
    makeDirs(planted);
    writeFile(planted + L"\\planted.dll", "planted");
    const std::wstring link = box_.base + L"\\link";
    SKIP_UNLESS(makeFolderLink(box_.updateDir, link, &why));
    const std::wstring event = uniqueName(L"qlu-end");
    const UniqueHandle end(CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
    StartOptions options;
    options.args = quotedRoot();
    options.workDir = link;
    options.end = L"event:" + event;
    Started started = startThroughStandin(box_, options);
    ASSERT_TRUE(waitForLog(box_, "Have parent"));
    removeTree(link); // the link itself
    SKIP_UNLESS(makeFolderLink(planted, link, &why));
    SetEvent(end.get());
    EXPECT_EQ(exitCodeOf(started.updater.get()), 0u) << readFile(box_.log);
    EXPECT_EQ(readFile(box_.root + L"\\a.txt"), "the update");
    EXPECT_FALSE(exists(box_.root + L"\\planted.dll"));
    EXPECT_EQ(readFile(planted + L"\\planted.dll"), "planted");
}

// The walk's own failures leave it as file-system errors carrying the Windows code;
// the entry routine logs them and ends with exit code 1.
TEST(UpdateWalkErrors, UnreadableFolderRaisesTheListingError)
{
    const std::wstring missing = binDir() + L"\\sandbox\\no such update folder";
    try {
        applyUpdateTree(missing, {binDir(), binDir()});
        ADD_FAILURE() << "no error";
    } catch (const FileSystemError& error) {
        EXPECT_EQ(error.operation(), "directory_iterator::directory_iterator");
        EXPECT_EQ(error.code(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        EXPECT_EQ(error.path(), missing);
        EXPECT_TRUE(
            startsWith(std::string(error.what()), "directory_iterator::directory_iterator: "));
    }
}

// Where a file system refuses the listing class with file ids (a network redirector), the
// walk lists with the class that every file system answers, and applies the same tree.
TEST_F(UpdateWalk, FoldersListedWithoutFileIdsAreWalkedAlikeSeam)
{
    for (const std::wstring& base : {box_.root, box_.updateDir})
        makeDirs(base + L"\\bin\\sub");
    writeFile(box_.updateDir + L"\\a.txt", "a");
    writeFile(box_.updateDir + L"\\bin\\sub\\b.txt", "b");
    WalkStandIns plain;
    plain.plainListings = true;
    applyUpdateTree(box_.updateDir, {box_.root, box_.root}, nullptr, std::move(plain));
    EXPECT_EQ(readFile(box_.root + L"\\a.txt"), "a");
    EXPECT_EQ(readFile(box_.root + L"\\bin\\sub\\b.txt"), "b");
    EXPECT_EQ(listing(box_.updateDir + L"\\bin\\sub").size(), 0u);
}
