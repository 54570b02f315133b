#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"
#include "helpers/harness.h"
#include "update/in_folder.h"
#include "update/install_seams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

struct DestScene;

class Replacement : public SandboxTest {
protected:
    Started start() { return startWithoutParent(box_, inQuotes(box_.root)); }
    void expectReplacement(const DestScene& row);
};

// Who holds dest or the update file, how, and for how long.
struct Holder {
    const char* what;
    bool updateFileHeld = false; // else dest
    DWORD access = GENERIC_READ;
    DWORD share = 0;
    bool letGo = false;       // about 0.8 s after the first refused try; else held throughout
    bool refusedFirst = true; // before any step of the install; else only the rename is
};
Holder holdingDest(const char* what, DWORD access, DWORD share)
{
    return {what, false, access, share};
}
Holder holdingUpdateFile(const char* what, DWORD access, DWORD share)
{
    return {what, true, access, share};
}
Holder lettingGo(Holder holder)
{
    holder.letGo = true;
    return holder;
}
Holder refusingOnlyTheRename(Holder holder)
{
    holder.refusedFirst = false;
    return holder;
}

} // namespace

// dest held by another program: a lock that refuses the probe, a handle that only reads
// attributes (a shell window, the indexer: Windows refuses to replace a file that any
// program has open, so each refused rename is a try), a game reading its archive with
// read and write sharing but none for deletion. So too the update file: a scanner that
// shares no deletion, and a writer (the user's own program) that shares everything but
// would go on writing into the installed file: it is tried like a held dest, never
// moved by its name instead. Let go about 0.8 s after the first refused try, the install
// goes on; held through every try (1.5 s), the update stops with the message, the old
// file stays, and of the files around it only those listed before it were installed.
TEST_F(Replacement, HeldDestOrUpdateFileIsTriedAgainUntilLetGoOrTheTriesRunOut)
{
    const Holder holders[] = {
        lettingGo(holdingDest("dest locked, let go", GENERIC_READ, 0)),
        refusingOnlyTheRename(lettingGo(
            holdingDest("dest's attributes read, let go", FILE_READ_ATTRIBUTES, shareAll))),
        holdingDest("dest locked through every try", GENERIC_READ, 0),
        holdingDest("dest read, sharing reads and writes", GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE),
        lettingGo(holdingUpdateFile("update file scanned, let go", GENERIC_READ, FILE_SHARE_READ)),
        holdingUpdateFile("update file scanned throughout", GENERIC_READ, FILE_SHARE_READ),
        lettingGo(holdingUpdateFile("update file written, let go", GENERIC_WRITE, shareAll)),
        holdingUpdateFile("update file written throughout", GENERIC_WRITE, shareAll),
    };
    for (const auto& holder : holders) {
        SCOPED_TRACE(holder.what);
        nextRowSandbox();
        const std::wstring dest = box_.root + L"\\locked.dll";
        const std::wstring heldFile =
            holder.updateFileHeld ? box_.updateDir + L"\\locked.dll" : dest;
        writeFile(dest, "old");
        for (const wchar_t* name : {L"\\a.txt", L"\\locked.dll", L"\\z.txt"})
            writeFile(box_.updateDir + name, "new");
        UniqueFileHandle held(CreateFileW(heldFile.c_str(), holder.access, holder.share, nullptr,
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
            EXPECT_TRUE(endsWith(log, runEndLines(box_)));
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
        if (holder.refusedFirst) {
            EXPECT_TRUE(contains(log, "dest=" + logged(dest) + "\r\n" + refusals));
        }
        EXPECT_EQ(readFile(dest), holder.letGo ? "new" : "old");
        EXPECT_EQ(readFile(box_.updateDir + L"\\locked.dll"), holder.letGo ? "<missing>" : "new");
        for (const std::wstring& name : {std::wstring(L"a.txt"), std::wstring(L"z.txt")}) {
            const bool installed =
                holder.letGo || contains(log, subPathLine(box_.updateDir + L"\\" + name));
            EXPECT_EQ(exists(box_.root + L"\\" + name), installed) << name;
            EXPECT_EQ(exists(box_.updateDir + L"\\" + name), !installed) << name;
        }
    }
}

namespace {

// What stands where the update file goes, and how the run ends.
struct DestScene {
    const char* what;
    const wchar_t* name; // below the update folder and the root
    std::function<bool(const std::wstring& dest, std::string* why)> prepare;
    std::string stop; // the log's end after dest's line; none: a complete run
};

std::string fourRefusals()
{
    std::string refusals;
    for (int tries = 0; tries < 4; ++tries)
        refusals += "File not writable!! Tries: " + std::to_string(tries) + "\r\n";
    return refusals;
}

} // namespace

// Runs the update of one file onto `row`'s scene, in a sandbox of its own; where the
// run stops, the update file stays.
void Replacement::expectReplacement(const DestScene& row)
{
    SCOPED_TRACE(row.what);
    nextRowSandbox();
    const std::wstring dest = box_.root + L"\\" + row.name;
    const std::wstring source = box_.updateDir + L"\\" + row.name;
    std::string why;
    if (rowLeftOut(row.prepare(dest, &why), why))
        return;
    makeDirs(source.substr(0, source.rfind(L'\\')));
    writeFile(source, "new");
    const std::vector<std::wstring> rootBefore = listing(box_.root);
    Started started = start();
    if (!row.stop.empty())
        answerMessageBoxShowing(started.pid, failureText(dest));
    EXPECT_EQ(exitCodeOf(started.updater.get()), row.stop.empty() ? 0u : 1u);
    const std::string log = readFile(box_.log);
    if (row.stop.empty()) {
        EXPECT_FALSE(contains(log, "File not writable"));
        EXPECT_TRUE(endsWith(log, runEndLines(box_)));
        EXPECT_EQ(readFile(dest), "new");
        const std::vector<std::wstring> names = listing(dest.substr(0, dest.rfind(L'\\')));
        EXPECT_EQ(std::count_if(names.begin(), names.end(),
                                [&](const std::wstring& name) {
                                    return lstrcmpiW(name.c_str(), fileName(dest).c_str()) == 0;
                                }),
                  1)
            << "dest's file is not the one replaced";
        SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_NORMAL);
    } else {
        EXPECT_TRUE(endsWith(log, "dest=" + logged(dest) + "\r\n" + row.stop));
        EXPECT_EQ(listing(box_.root), rootBefore) << "something made in the root";
    }
    EXPECT_EQ(readFile(source), row.stop.empty() ? "<missing>" : "new");
}

// Nothing at dest (no probe refused), the same file under other letter cases, or a
// read-only file (no obstacle: it is being replaced by its new version; Wine run by
// root ignores the attribute, so the suite runs this test as an ordinary user too).
TEST_F(Replacement, NothingOrAReadOnlyFileAtDestIsReplaced)
{
    const DestScene rows[] = {
        {"nothing", L"new.txt", [](const std::wstring&, std::string*) { return true; }, ""},
        {"a file under other letter cases", L"bin\\x.dll",
         [this](const std::wstring&, std::string*) {
             makeDirs(box_.root + L"\\Bin");
             writeFile(box_.root + L"\\Bin\\X.dll", "old");
             return true;
         },
         ""},
        {"a read-only file", L"data",
         [](const std::wstring& dest, std::string* why) {
             writeFile(dest, "old");
             return makeReadOnly(dest, why);
         },
         ""},
    };
    for (const DestScene& row : rows)
        expectReplacement(row);
}

// A folder at dest (refused at every probe: four tries, the message), or no folder to
// hold it (the move fails at once, loudly).
TEST_F(Replacement, FolderAtDestOrNoFolderToHoldItStopsTheRun)
{
    const DestScene rows[] = {
        {"a folder", L"data",
         [](const std::wstring& dest, std::string*) {
             makeDirs(dest);
             return true;
         },
         fourRefusals()},
        {"no folder to hold it", L"newdir\\f.txt",
         [](const std::wstring&, std::string*) { return true; },
         logLines({"Remove it", "Move it",
                   "Exception: rename: " + systemMessage(ERROR_PATH_NOT_FOUND)})},
    };
    for (const DestScene& row : rows)
        expectReplacement(row);
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
