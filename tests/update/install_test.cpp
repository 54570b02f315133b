#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "helpers/harness.h"
#include "update/in_folder.h"
#include "update/install_seams.h"

#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

class Replacement : public SandboxTest {
protected:
    Started start() { return startWithoutParent(box_, inQuotes(box_.root)); }

    // What stands at root\name refuses every probe: four tries, the message, exit 1,
    // and the update file stays where it is.
    void expectRefusedThroughEveryProbe(const std::wstring& name)
    {
        writeFile(box_.updateDir + L"\\" + name, "file");
        Started started = start();
        answerMessageBoxShowing(started.pid, failureText(box_.root + L"\\" + name));
        EXPECT_EQ(exitCodeOf(started.updater.get()), 1u);
        EXPECT_EQ(countOf(readFile(box_.log), "File not writable!! Tries: "), 4);
        EXPECT_EQ(readFile(box_.updateDir + L"\\" + name), "file");
    }
};

} // namespace

TEST_F(Replacement, NewFileNeedsNoProbeRetry)
{
    writeFile(box_.updateDir + L"\\new.txt", "new");
    const RunResult run = runUpdater(box_, inQuotes(box_.root));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(contains(run.log, "File not writable"));
    EXPECT_EQ(readFile(box_.root + L"\\new.txt"), "new");
    EXPECT_FALSE(exists(box_.updateDir + L"\\new.txt"));
}

// dest held by another program: a lock that refuses the probe, a handle that only reads
// attributes (a shell window, the indexer: Windows refuses to replace a file that any
// program has open, so each refused rename is a try), a game reading its archive with
// read and write sharing but none for deletion. Let go about 0.8 s after the first
// refused try, the install goes on; held through every try (1.5 s), the update stops
// with the message, the old file stays, and of the files around it only those listed
// before it were installed.
TEST_F(Replacement, HeldDestIsTriedAgainUntilLetGoOrTheTriesRunOut)
{
    const struct {
        const char* what;
        DWORD access;
        DWORD share;
        bool letGo;
        bool probeRefuses; // else the probe passes and the rename is refused
    } holders[] = {
        {"locked, let go", GENERIC_READ, 0, true, true},
        {"attributes only, let go", FILE_READ_ATTRIBUTES,
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true, false},
        {"locked through every try", GENERIC_READ, 0, false, true},
        {"read, sharing reads and writes", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false,
         true},
    };
    const std::wstring base = box_.base;
    int round = 0;
    for (const auto& holder : holders) {
        SCOPED_TRACE(holder.what);
        box_ = makeSandbox(base + L"-" + std::to_wstring(round++));
        const std::wstring dest = box_.root + L"\\locked.dll";
        writeFile(dest, "old");
        for (const wchar_t* name : {L"\\a.txt", L"\\locked.dll", L"\\z.txt"})
            writeFile(box_.updateDir + name, "new");
        UniqueFileHandle held(CreateFileW(dest.c_str(), holder.access, holder.share, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        const ULONGLONG begin = GetTickCount64();
        Started started = start();
        std::string log;
        if (holder.letGo) {
            EXPECT_TRUE(waitForLog(box_, "Tries: 0"));
            Sleep(800);
            held.reset();
            EXPECT_EQ(exitCodeOf(started.updater.get()), 0u);
            log = readFile(box_.log);
            const int refused = countOf(log, "File not writable!! Tries: ");
            EXPECT_TRUE(refused >= 1 && refused <= 3) << log; // it waited, and did not give up
            EXPECT_TRUE(contains(log, "File not writable!! Tries: " + std::to_string(refused - 1) +
                                          "\r\nRemove it\r\nMove it\r\n"));
        } else {
            answerMessageBoxShowing(started.pid, failureText(dest));
            EXPECT_GE(GetTickCount64() - begin, 1400u);
            EXPECT_EQ(exitCodeOf(started.updater.get()), 1u);
            held.reset();
            log = readFile(box_.log);
            EXPECT_EQ(countOf(log, "File not writable!! Tries: "), 4);
            EXPECT_TRUE(endsWith(log, "File not writable!! Tries: 3\r\n"));
        }
        // A refusing probe comes before any step of the install, at every try.
        std::string refusals;
        for (int tries = 0; tries < (holder.letGo ? 1 : 4); ++tries)
            refusals += "File not writable!! Tries: " + std::to_string(tries) + "\r\n";
        if (holder.probeRefuses) {
            EXPECT_TRUE(contains(log, "dest=" + logged(dest) + "\r\n" + refusals));
        }
        EXPECT_EQ(readFile(dest), holder.letGo ? "new" : "old");
        EXPECT_EQ(exists(box_.updateDir + L"\\locked.dll"), !holder.letGo);
        for (const std::wstring& name : {std::wstring(L"a.txt"), std::wstring(L"z.txt")}) {
            const bool installed =
                holder.letGo || contains(log, subPathLine(box_.updateDir + L"\\" + name));
            EXPECT_EQ(exists(box_.root + L"\\" + name), installed) << name;
            EXPECT_EQ(exists(box_.updateDir + L"\\" + name), !installed) << name;
        }
    }
}

TEST_F(Replacement, FolderInTheWayIsRefusedOnEveryProbe)
{
    makeDirs(box_.root + L"\\data");
    expectRefusedThroughEveryProbe(L"data");
}

// The file is being replaced by its new version: its read-only attribute is no
// obstacle (Wine run by root ignores the attribute: the suite runs this case as an
// ordinary user too).
TEST_F(Replacement, ReadOnlyFileInTheWayIsReplaced)
{
    const std::wstring dest = box_.root + L"\\data";
    writeFile(dest, "old");
    SKIP_UNLESS(makeReadOnly(dest, &why));
    writeFile(box_.updateDir + L"\\data", "new");
    const RunResult run = runUpdater(box_, inQuotes(box_.root));
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_FALSE(contains(run.log, "File not writable"));
    EXPECT_EQ(readFile(dest), "new");
    SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Replacement, MissingFolderInTheRootFailsTheMoveLoudly)
{
    makeDirs(box_.updateDir + L"\\newdir");
    writeFile(box_.updateDir + L"\\newdir\\f.txt", "new");
    const std::wstring dest = box_.root + L"\\newdir\\f.txt";
    Started started = start();
    answerMessageBoxShowing(started.pid, failureText(dest));
    EXPECT_EQ(exitCodeOf(started.updater.get()), 1u);
    const std::string log = readFile(box_.log);
    const std::string tail = logLines({"dest=" + logged(dest), "Remove it", "Move it"});
    ASSERT_TRUE(contains(log, tail));
    EXPECT_EQ(log.substr(log.find(tail) + tail.size()),
              "Exception: rename: " + systemMessage(ERROR_PATH_NOT_FOUND) + "\r\n");
    EXPECT_EQ(readFile(box_.updateDir + L"\\newdir\\f.txt"), "new");
    EXPECT_FALSE(exists(box_.root + L"\\newdir"));
}

// Every install is a copy, on this volume as on another (a launcher installed there), and
// the update file goes once its copy is in place, a read-only one too. A copy that a run ended from
// outside left in a folder goes with the next run that installs into it; files that only look like
// one stay, and so does the file that a link under such a name leads to.
TEST_F(Replacement, InstallsAreCopiesOnEveryVolumeReadOnlyIncludedAndOnlyCopiesLeftBehindGo)
{
    std::string why;
    const std::wstring other = otherVolume(&why);
    if (other.empty())
        std::cout << "only this volume: " << why << "\n";
    const std::wstring outside = box_.base + L"\\outside.txt";
    writeFile(outside, "outside");
    const std::vector<std::wstring> lookalikes = {L"save.dat.2024-12.new", L"a.txt.4242-0.new",
                                                  L".qorvath-updater-x-0.new",
                                                  L".qorvath-updater-4242-0.new.txt"};
    std::optional<ScratchFolder> scratch;
    if (!other.empty())
        scratch.emplace(other + uniqueName(L"volume"));
    for (const std::wstring& base : {box_.base, scratch ? scratch->path() : std::wstring()}) {
        if (base.empty())
            continue;
        SCOPED_TRACE(testing::PrintToString(base));
        const Sandbox box = base == box_.base ? box_ : makeSandbox(base);
        const std::wstring source = box.updateDir + L"\\a.txt";
        writeFile(box.root + L"\\a.txt", "old");
        writeFile(source, std::string(300000, 'n'));
        ASSERT_TRUE(SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_READONLY));
        writeFile(box.root + L"\\.qorvath-updater-4242-0.new", "left by a killed run");
        for (const std::wstring& name : lookalikes)
            writeFile(box.root + L"\\" + name, "somebody else's");
        const bool linked = makeFileLink(outside, box.root + L"\\.qorvath-updater-1-1.new", &why);

        const RunResult run = runUpdater(box, inQuotes(box.root));
        EXPECT_EQ(run.exitCode, 0u) << run.log;
        EXPECT_EQ(readFile(box.root + L"\\a.txt"), std::string(300000, 'n'));
        EXPECT_TRUE(GetFileAttributesW((box.root + L"\\a.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
        EXPECT_FALSE(exists(source));
        EXPECT_FALSE(exists(box.root + L"\\.qorvath-updater-4242-0.new"));
        for (const std::wstring& name : lookalikes)
            EXPECT_EQ(readFile(box.root + L"\\" + name), "somebody else's")
                << testing::PrintToString(name);
        EXPECT_TRUE(!linked || readFile(outside) == "outside");
        SetFileAttributesW((box.root + L"\\a.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// Where the system has no rename that ignores the read-only attribute (Windows before 10
// 1809, some volumes), dest's attribute is cleared for the rename: only on dest's own
// file, never on the file elsewhere that a link or another name at dest leads to, and
// put back when the rename fails (dest held open). Wine never takes that way (see
// install_seams.h), so the test calls it.
TEST_F(Replacement, RenameOverReadOnlyDestSeamClearsOnlyDestsOwnFileAndRestoresOnFailure)
{
    const std::wstring outside = box_.base + L"\\outside.dll";
    writeFile(outside, "outside");
    writeFile(box_.root + L"\\own.dll", "old");
    ASSERT_TRUE(CreateHardLinkW((box_.root + L"\\hard.dll").c_str(), outside.c_str(), nullptr));
    std::string why;
    const bool soft = makeFileLink(outside, box_.root + L"\\soft.dll", &why);
    for (const std::wstring& path : {outside, box_.root + L"\\own.dll"})
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    const HeldFolder folder = holdDestFolder(L"\\\\?\\" + box_.root + L"\\");
    ASSERT_TRUE(folder.handle) << folder.openError;
    const auto renameCopyOver = [&folder](const std::wstring& name) {
        OpenedFile copy = openInFolder(folder.handle.get(), L"copy.new", GENERIC_WRITE | DELETE, 0,
                                       Disposition::CreateNew);
        DWORD written = 0;
        WriteFile(copy.handle.get(), "new", 3, &written, nullptr);
        const DWORD error = renameOverReadOnlyDest(copy.handle.get(), folder, name);
        if (error != ERROR_SUCCESS)
            deleteOpened(copy.handle.get());
        return error;
    };
    const auto readOnly = [](const std::wstring& path) {
        return (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0;
    };
    for (const wchar_t* name : {L"hard.dll", L"soft.dll"}) {
        if (std::wstring(name) == L"soft.dll" && !soft)
            continue;
        renameCopyOver(name); // refused on Windows (read-only), taken by Wine run as root
        EXPECT_TRUE(readOnly(outside)) << testing::PrintToString(name);
        EXPECT_EQ(readFile(outside), "outside") << testing::PrintToString(name);
    }
    const std::wstring own = box_.root + L"\\own.dll";
    {
        const UniqueFileHandle held(CreateFileW(own.c_str(), FILE_READ_ATTRIBUTES, shareAll,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_NE(renameCopyOver(L"own.dll"), static_cast<DWORD>(ERROR_SUCCESS));
    }
    EXPECT_TRUE(readOnly(own)) << "not put back after the failed rename";
    EXPECT_EQ(readFile(own), "old");
    EXPECT_EQ(renameCopyOver(L"own.dll"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(readFile(own), "new");
    SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
}
