// The update folder can be written by any program of the user, while the updater runs
// as administrator: whatever it finds there gets a clear outcome, and no update file
// is ever lost.
#include "fs/fs_error.h"
#include "helpers/harness.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

class UntrustedTree : public SandboxTest {
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        makeOutside();
    }

    // A folder beside the root, with a file that no update may touch.
    void makeOutside()
    {
        outside_ = box_.base + L"\\outside";
        makeDirs(outside_);
        writeFile(outside_ + L"\\system.dll", "outside the root");
    }

    void expectOutsideUntouched()
    {
        EXPECT_EQ(listing(outside_), std::vector<std::wstring>{L"system.dll"});
        EXPECT_EQ(readFile(outside_ + L"\\system.dll"), "outside the root");
    }

    // The limit grows with the files to apply: it catches a run that never ends, never
    // one that a loaded machine makes slow.
    RunResult run(int files = 0)
    {
        return runUpdater(box_, inQuotes(box_.root), 30000 + 10 * static_cast<DWORD>(files));
    }

    std::wstring outside_;
};

// Stress runs (a tree of 20,000 files, kills at random points): the suite's name marks
// them slow, and `ctest -LE slow` leaves them out.
class UntrustedTreeSlow : public UntrustedTree {};

} // namespace

// Links in the update folder, each a row of its own scene beside a plain file that is
// applied: a file or a folder that leads out of the root is refused (a folder, or a
// junction, is not even entered: nothing of the tree elsewhere is listed into the log),
// so is another name of a file elsewhere (a hard link), a link back to an
// ancestor is not walked again, a folder reached twice has its files installed once, and
// nothing outside is touched.
TEST_F(UntrustedTree, LinksInTheUpdateFolderLeadNowhereOutsideAndNothingTwice)
{
    using Box = const Sandbox&;
    struct Row {
        const char* what;
        std::function<bool(Box, const std::wstring& outside, std::string* why)> plant;
        std::function<std::string(Box)> lines; // that the log holds in a row
        std::wstring notInRoot;
        std::string once; // stands in the log exactly once
        std::string notInLog;
        std::wstring installed; // a file of the row's own, installed once ("new")
        bool windowsOnly = false;
    };
    const auto escaped = [](Box box) {
        return logLines({subPathLine(box.updateDir + L"\\escape"), "Outside of target, ignore it"});
    };
    const Row rows[] = {
        {"a file link out of the root",
         [](Box box, const std::wstring& outside, std::string* why) {
             return makeFileLink(outside + L"\\system.dll", box.updateDir + L"\\system.dll", why);
         },
         [](Box box) {
             return logLines({subPathLine(box.updateDir + L"\\system.dll"),
                              "relativePath=" + logged(L"..\\..\\..\\outside\\system.dll"),
                              "Outside of target, ignore it"});
         },
         L"system.dll", "", "", L""},
        {"a folder link out of the root",
         [](Box box, const std::wstring& outside, std::string* why) {
             return makeFolderLink(outside, box.updateDir + L"\\escape", why);
         },
         escaped, L"escape", "Outside of target, ignore it", "system.dll", L""},
        // Another name of a file elsewhere: its file is not the update's own.
        {"a hard link to a file outside",
         [](Box box, const std::wstring& outside, std::string* why) {
             *why = "no hard link";
             return CreateHardLinkW((box.updateDir + L"\\system.dll").c_str(),
                                    (outside + L"\\system.dll").c_str(), nullptr) != FALSE;
         },
         [](Box box) {
             return logLines({subPathLine(box.updateDir + L"\\system.dll"),
                              "relativePath=\"system.dll\"", "Outside of target, ignore it"});
         },
         L"system.dll", "", "", L""},
        {"a link back to an ancestor",
         [](Box box, const std::wstring&, std::string* why) {
             makeDirs(box.updateDir + L"\\sub");
             return makeFolderLink(box.updateDir, box.updateDir + L"\\sub\\loop", why);
         },
         [](Box box) {
             return logLines(
                 {subPathLine(box.updateDir + L"\\sub\\loop"), "Already walked, skip it"});
         },
         L"sub\\loop", "", "", L""},
        {"a second link to a folder of the update",
         [](Box box, const std::wstring&, std::string* why) {
             makeDirs(box.updateDir + L"\\a");
             makeDirs(box.root + L"\\a");
             writeFile(box.updateDir + L"\\a\\f.txt", "new");
             return makeFolderLink(box.updateDir + L"\\a", box.updateDir + L"\\b", why);
         },
         [](Box) { return std::string(); }, L"b", "relativePath=\"a\\\\f.txt\"\r\ndest=", "",
         L"a\\f.txt"},
        {"a loop and a way out together",
         [](Box box, const std::wstring& outside, std::string* why) {
             makeDirs(box.updateDir + L"\\a\\b");
             makeDirs(box.root + L"\\a\\b");
             writeFile(box.updateDir + L"\\a\\b\\f.txt", "new");
             return makeFolderLink(box.updateDir + L"\\a", box.updateDir + L"\\a\\b\\up", why) &&
                    makeFolderLink(outside, box.updateDir + L"\\a\\out", why);
         },
         [](Box) { return logLines({"Already walked, skip it"}); }, L"a\\out",
         "Outside of target, ignore it", "", L"a\\b\\f.txt"},
        {"a junction out of the root (Windows only)",
         [](Box box, const std::wstring& outside, std::string* why) {
             return makeJunction(outside, box.updateDir + L"\\escape", why);
         },
         escaped, L"escape", "Outside of target, ignore it", "system.dll", L"", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.windowsOnly && runningUnderWine())
            continue; // Wine has no junctions
        nextRowSandbox();
        makeOutside();
        writeFile(box_.updateDir + L"\\plain.txt", "plain");
        SKIP_UNLESS(row.plant(box_, outside_, &why));
        const RunResult result = run();
        EXPECT_EQ(result.exitCode, 0u) << result.log;
        EXPECT_TRUE(contains(result.log, row.lines(box_)));
        if (!row.once.empty()) {
            EXPECT_EQ(countOf(result.log, row.once), 1) << result.log;
        }
        if (!row.notInLog.empty()) {
            EXPECT_FALSE(contains(result.log, row.notInLog));
        }
        EXPECT_TRUE(endsWith(result.log, runEndLines(box_)));
        EXPECT_FALSE(exists(box_.root + L"\\" + row.notInRoot));
        EXPECT_EQ(readFile(box_.root + L"\\plain.txt"), "plain");
        if (!row.installed.empty()) {
            EXPECT_EQ(readFile(box_.root + L"\\" + row.installed), "new");
        }
        expectOutsideUntouched();
    }
}

TEST_F(UntrustedTree, RootSubfolderThatLeadsOutsideIsRefused)
{
    // resources\x of the root is a link to elsewhere: its files would land there.
    SKIP_UNLESS(makeFolderLink(outside_, box_.root + L"\\resources\\x", &why));
    makeDirs(box_.updateDir + L"\\resources\\x");
    makeDirs(box_.root + L"\\resources\\resources");
    writeFile(box_.updateDir + L"\\resources\\x\\system.dll", "planted");
    writeFile(box_.updateDir + L"\\plain.txt", "plain");
    // The link also stands in the walk's way below the update folder.
    SKIP_UNLESS(makeFolderLink(outside_, box_.updateDir + L"\\resources\\loop", &why));
    // Named as a copy that a killed run leaves: only a folder of the root loses those.
    const std::wstring copyLike = outside_ + L"\\.qorvath-updater-7-7.new";
    writeFile(copyLike, "somebody else's");

    const RunResult result = run();
    EXPECT_EQ(readFile(copyLike), "somebody else's");
    DeleteFileW(copyLike.c_str());
    EXPECT_EQ(result.exitCode, 0u) << result.log;
    const std::wstring dest = box_.root + L"\\resources\\x\\system.dll";
    EXPECT_TRUE(
        contains(result.log, logLines({"dest=" + logged(dest), "Outside of target, ignore it"})));
    expectOutsideUntouched();
    EXPECT_EQ(readFile(box_.updateDir + L"\\resources\\x\\system.dll"), "planted");
    EXPECT_EQ(readFile(box_.root + L"\\plain.txt"), "plain");
}

namespace {

// Gives a folder the access list that `sddl` gives (protected), or, with none, makes our
// user its owner.
DWORD setSecurity(const std::wstring& folder, const wchar_t* sddl = nullptr)
{
    PSECURITY_DESCRIPTOR security = nullptr;
    PACL acl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    UniqueHandle token;
    if (sddl ? !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                     &security, nullptr) ||
                   !GetSecurityDescriptorDacl(security, &present, &acl, &defaulted)
             : !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
                   !GetTokenInformation(token.get(), TokenUser, user, sizeof user, &size))
        return GetLastError();
    const DWORD set = SetNamedSecurityInfoW(
        &std::wstring(folder)[0], SE_FILE_OBJECT,
        sddl ? DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
             : OWNER_SECURITY_INFORMATION,
        sddl ? nullptr : reinterpret_cast<TOKEN_USER*>(user)->User.Sid, nullptr, acl, nullptr);
    LocalFree(security);
    return set;
}

} // namespace

// A root that no administrator installed takes files only where the user who started the
// run could write them without us: a folder below it that such a user may only read
// stops the run before anything lands there. Wine gives every folder its user as owner
// and keeps no access list set on one: the seam test shows the rule there.
TEST_F(UntrustedTree,
       RootThatNoAdministratorInstalledTakesFilesOnlyWhereTheStarterCouldWriteWindowsOnly)
{
    if (runningUnderWine())
        GTEST_SKIP() << "Wine keeps no owner or access list set on a folder";
    const std::wstring bin = box_.root + L"\\bin";
    makeDirs(bin);
    makeDirs(box_.updateDir + L"\\bin");
    writeFile(bin + L"\\system.dll", "administrators' own");
    writeFile(box_.updateDir + L"\\bin\\system.dll", "planted");
    // The root and its resources folder the user's own (an elevated test makes folders
    // that Administrators own), bin theirs to read only.
    for (const std::wstring& folder : {box_.root, box_.root + L"\\resources"})
        ASSERT_EQ(setSecurity(folder), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(setSecurity(bin, L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;WD)"),
              static_cast<DWORD>(ERROR_SUCCESS));

    StartOptions options;
    options.args = inQuotes(box_.root);
    options.restrictedParent = true;
    Started started = startWithoutParent(box_, options);
    answerMessageBoxShowing(started.pid, failureText(bin));
    EXPECT_EQ(exitCodeOf(started.updater.get()), 1u);
    EXPECT_EQ(lastLineOf(readFile(box_.log)),
              "Exception: root_folder: " + systemMessage(ERROR_ACCESS_DENIED) + " " + logged(bin) +
                  "\r\n");
    EXPECT_EQ(readFile(bin + L"\\system.dll"), "administrators' own");
    EXPECT_EQ(listing(bin), std::vector<std::wstring>{L"system.dll"});
}

// The folder that is to hold dest is checked once and then held open until its files
// are in: nobody can rename it away (and put a link to elsewhere in its place) between
// the check and the move, and the move goes through that handle. Wine's own server
// resolves a held folder by its path, so a swap made from Linux beneath Wine, which
// Windows has no way to do, is not what this shows; a junction swapped in the root is
// for a run on Windows.
TEST_F(UntrustedTree, DestinationFolderIsHeldAgainstRenamingFromItsCheckToTheMove)
{
    const std::wstring bin = box_.root + L"\\bin";
    const std::wstring away = box_.root + L"\\bin.away";
    makeDirs(bin);
    makeDirs(box_.updateDir + L"\\bin");
    writeFile(bin + L"\\system.dll", "old");
    writeFile(box_.updateDir + L"\\bin\\system.dll", "new");
    // Locked, so that the updater pauses between its check and its move.
    UniqueFileHandle lock(CreateFileW((bin + L"\\system.dll").c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    Started started = startWithoutParent(box_, inQuotes(box_.root));
    ASSERT_TRUE(waitForLog(box_, "Tries: 0")) << readFile(box_.log);
    EXPECT_FALSE(MoveFileW(bin.c_str(), away.c_str())) << "the checked folder is not held";
    // Nor can the log that the run writes be renamed or deleted meanwhile.
    EXPECT_FALSE(MoveFileW(box_.log.c_str(), (box_.log + L".away").c_str()));
    EXPECT_FALSE(DeleteFileW(box_.log.c_str()));
    lock.reset();
    EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
    EXPECT_EQ(readFile(bin + L"\\system.dll"), "new");
    EXPECT_FALSE(exists(away));
    expectOutsideUntouched();
    // Let go once its files are in.
    EXPECT_TRUE(MoveFileW(bin.c_str(), away.c_str())) << GetLastError();
}

// Two links per level, each to the next level, reach the last level by 2^40 paths:
// each folder is walked once, however many links lead to it, and below its own final
// path (the first path through the links is longer than MAX_PATH).
TEST_F(UntrustedTree, LinkLadderFortyLevelsDeepIsWalkedOncePerFolder)
{
    const int levels = 40;
    for (int level = 0; level <= levels; ++level) {
        const std::wstring name = L"\\l" + std::to_wstring(level);
        makeDirs(box_.updateDir + name);
        makeDirs(box_.root + name);
        writeFile(box_.updateDir + name + L"\\f.txt", "level " + std::to_string(level));
    }
    for (int level = 0; level < levels; ++level) {
        const std::wstring from = box_.updateDir + L"\\l" + std::to_wstring(level);
        const std::wstring to = box_.updateDir + L"\\l" + std::to_wstring(level + 1);
        SKIP_UNLESS(makeFolderLink(to, from + L"\\link", &why));
        SKIP_UNLESS(makeFolderLink(to, from + L"\\b", &why));
    }
    const RunResult result = run(levels);
    EXPECT_EQ(result.exitCode, 0u);
    for (int level = 0; level <= levels; ++level)
        EXPECT_EQ(readFile(box_.root + L"\\l" + std::to_wstring(level) + L"\\f.txt"),
                  "level " + std::to_string(level));
    // The update folder's own, then one per level.
    EXPECT_EQ(countOf(result.log, "\r\nStep"), levels + 2) << "folders walked more than once";
    EXPECT_TRUE(endsWith(result.log, runEndLines(box_)));
}

// A chain of nested folders is walked to its bottom, each level once, in order. The walk
// keeps its own stack, so that a chain thousands deep cannot run the thread's out;
// Wine cannot show that depth (it reads no final path longer than MAX_PATH, and takes
// minutes to make such a chain: 2,277 folders took 65 s), so the chain here is as deep
// as MAX_PATH allows.
TEST_F(UntrustedTree, ChainOfNestedFoldersIsWalkedToTheBottomAsDeepAsWineReaches)
{
    REQUIRE_OTHER_VOLUME(volume);
    const ScratchFolder scratch(volume + uniqueName(L"c"));
    box_ = makeSandbox(scratch.path());
    std::wstring update = box_.updateDir;
    std::wstring root = box_.root;
    int depth = 0;
    for (; update.size() + 2 + 11 < MAX_PATH; ++depth) {
        update += L"\\d";
        root += L"\\d";
        ASSERT_TRUE(CreateDirectoryW(update.c_str(), nullptr) &&
                    CreateDirectoryW(root.c_str(), nullptr))
            << depth << ": " << GetLastError();
    }
    writeFile(update + L"\\bottom.txt", "new");
    const RunResult result = run(depth);
    EXPECT_EQ(result.exitCode, 0u) << result.log;
    EXPECT_EQ(readFile(root + L"\\bottom.txt"), "new");
    const std::string bottom = logLines(
        {"Step" + logged(update), subPathLine(update + L"\\bottom.txt"),
         "relativePath=" + logged(update.substr(box_.updateDir.size() + 1) + L"\\bottom.txt")});
    EXPECT_TRUE(contains(result.log, bottom));
    EXPECT_TRUE(endsWith(result.log, runEndLines(box_)));
}

TEST_F(UntrustedTreeSlow, LargeDeepTreeIsAppliedCompletely)
{
    // 20,200 files in 2,020 folders: 200 chains nested 10 deep, the first 30 deep.
    UpdateTree tree;
    tree.chains = 200;
    tree.depth = 10;
    tree.firstChainDepth = 30;
    tree.filesPerFolder = 10;
    layOut(tree, box_.updateDir, box_.root);
    const int files = static_cast<int>(filesOf(tree).size());
    const RunResult result = run(files);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(whereFilesStand(tree, box_.updateDir, box_.root).installed, files);
    EXPECT_TRUE(endsWith(result.log, "All done, exiting\r\n"));
}

TEST_F(UntrustedTreeSlow, KilledAtAnyMomentLosesNoFile)
{
    std::mt19937 random(20261208);
    int interrupted = 0;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Sandbox box = makeSandbox(box_.base + L"\\round" + std::to_wstring(round));
        UpdateTree tree;
        tree.filesPerFolder = 300;
        tree.bytes = 2000;
        tree.oldCounterparts = true;
        layOut(tree, box.updateDir, box.root);
        const int files = tree.filesPerFolder;
        // Killed once a random number of files has been moved (none to all), however
        // fast the machine.
        const size_t killAfter = std::uniform_int_distribution<size_t>(0, files)(random);
        Started started = startWithoutParent(box, inQuotes(box.root));
        waitUntil(
            [&] {
                return WaitForSingleObject(started.updater.get(), 0) != WAIT_TIMEOUT ||
                       static_cast<size_t>(countOf(readFile(box.log), "Move it")) >= killAfter;
            },
            30000);
        TerminateProcess(started.updater.get(), 7);
        WaitForSingleObject(started.updater.get(), 10000);

        // A file is installed as a copy, then its update file is deleted: the one file in
        // hand when the kill came may stand in both places, to be installed again.
        const Standing standing = whereFilesStand(tree, box.updateDir, box.root);
        EXPECT_EQ(standing.lost, 0);
        EXPECT_LE(standing.both, 1);
        const int applied = standing.installed + standing.both;
        const std::string log = readFile(box.log);
        if (log == "<missing>") {
            EXPECT_EQ(applied, 0) << "files moved without a log";
        } else {
            ASSERT_FALSE(log.empty());
            EXPECT_TRUE(endsWith(log, "\r\n")) << "a line cut short";
            EXPECT_TRUE(startsWith(log, "targetDir = "));
        }
        interrupted += applied > 0 && applied < files;
        removeTree(box.base);
    }
    // Some kills must have come in the middle of the work, or nothing was shown.
    EXPECT_GE(interrupted, 3);
}
