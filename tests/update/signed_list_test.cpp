// A signed-updates build installs only what the publisher signed: a list of the files,
// their sizes and digests, signed with the publisher's key (scripts/sign-update.sh), and
// checked on the bytes that the updater copies. The build makes a key pair for these
// tests, and a second one that the updater does not know.
#include "fs/fs_error.h"
#include "helpers/harness.h"
#include "log/log_words.h"
#include "update/in_folder.h"
#include "update/release_record.h"
#include "update/release_record_seams.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#ifdef QLU_SIGNING_KEYS

namespace {

// The release record of a sandbox's root, through the updater's own functions: a root
// made anew may get the file id of an earlier test's, whose record is forgotten first.
struct RootRecord {
    explicit RootRecord(const Sandbox& box) : box_(box), root_(holdFolder(box.root).handle) {}
    unsigned long long release() { return recordedRelease(root_.get(), box_.root); }
    void set(unsigned long long release) { recordRelease(root_.get(), box_.root, release); }
    // Puts text in the value's place, or removes it.
    void write(const std::wstring* text)
    {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, releaseRecordKey, 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
        const std::wstring name = releaseRecordName(root_.get(), box_.root);
        text ? RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(text->c_str()),
                              static_cast<DWORD>((text->size() + 1) * 2))
             : RegDeleteValueW(key, name.c_str());
        RegCloseKey(key);
    }

    const Sandbox& box_;
    UniqueFileHandle root_;
};

const char* const leftAlone = words::notPlain;

void freeLocalText(LPWSTR text)
{
    LocalFree(text);
}

// A file's or folder's owner, and whether its access list takes what its parent passes on.
std::string ownerAndInheritance(const std::wstring& path)
{
    PSID owner = nullptr;
    UniqueAny<PSECURITY_DESCRIPTOR, &LocalFree> descriptor;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    UniqueAny<LPWSTR, &freeLocalText> sid;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, descriptor.put()) != ERROR_SUCCESS ||
        !GetSecurityDescriptorControl(descriptor.get(), &control, &revision) ||
        !ConvertSidToStringSidW(owner, sid.put()))
        return "unreadable";
    const std::wstring text = sid.get();
    return std::string(text.begin(), text.end()) +
           ((control & SE_DACL_PROTECTED) ? " protected" : " inheriting");
}

class SignedUpdates : public SandboxTest {
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        makeScene(box_);
    }

    // The signed-updates updater, bin\x.dll to replace, readme.txt new.
    void makeScene(const Sandbox& box)
    {
        RootRecord(box).write(nullptr);
        copyFile(binDir() + L"\\UpdaterSigned.exe", box.updater);
        makeDirs(box.root + L"\\bin");
        makeDirs(box.updateDir + L"\\bin");
        writeFile(box.root + L"\\bin\\x.dll", "old x");
        writeFile(box.updateDir + L"\\bin\\x.dll", "new x");
        writeFile(box.updateDir + L"\\readme.txt", "new readme");
    }

    std::wstring listOf(const Sandbox& box) { return box.updateDir + L"\\Updater.manifest"; }

    // Signs the update folder as the publisher's build machine does, with the key
    // "publisher" or "other", and the files the release drops.
    bool sign(const Sandbox& box, const char* key, int release, std::string* why,
              const std::vector<std::wstring>& removals = {})
    {
        DeleteFileW(listOf(box).c_str());
        std::wstring arguments = inQuotes(widen(QLU_SIGN_SCRIPT)) + L" " +
                                 inQuotes(widen(QLU_SIGNING_KEYS) + L"/" + widen(key) + L".pem") +
                                 L" " + inQuotes(linuxPath(box.updateDir)) + L" " +
                                 std::to_wstring(release);
        for (const std::wstring& removal : removals)
            arguments += L" --remove " + inQuotes(removal);
        return runLinuxUntilFileExists(L"bash", arguments, listOf(box), why);
    }
};

} // namespace

// A signed tree applies, and the release applied is recorded; a run that stopped half way
// (a file held open) is finished by the next run of the same list.
TEST_F(SignedUpdates, SignedTreeAppliesAndARunStoppedHalfWayIsFinishedByTheNext)
{
    SKIP_UNLESS(sign(box_, "publisher", 5, &why));
    const std::wstring held = box_.root + L"\\readme.txt";
    writeFile(held, "old readme");
    UniqueFileHandle holder(
        CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(runRefused(box_, inQuotes(box_.root), held).exitCode, 1u);
    EXPECT_EQ(RootRecord(box_).release(), 0u) << "recorded before the end";
    holder.reset();

    const RunResult run = runUpdater(box_, inQuotes(box_.root));
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_EQ(readFile(box_.root + L"\\bin\\x.dll"), "new x");
    EXPECT_EQ(readFile(held), "new readme");
    EXPECT_EQ(RootRecord(box_).release(), 5u);
    EXPECT_TRUE(exists(listOf(box_))) << "the list is the updater's own file";
    EXPECT_EQ(runUpdater(box_, inQuotes(box_.root)).exitCode, 0u) << "the same release again";
}

// A list that is not the publisher's, as it signed it, for a release no older than the
// last one applied, stops the run before anything moves, naming the list. The record of
// the last release is no file in the root that users could spoil, remove or hold.
TEST_F(SignedUpdates, ListThatIsNotThePublishersStopsTheRunBeforeAnythingMoves)
{
    using Edit = void (*)(std::string & list);
    const struct {
        const char* what;
        const char* key; // that signs the list; none: no list
        Edit edit;       // made to the signed list
        unsigned long long lastApplied = 0;
        // The root's file of earlier versions' record: its text, held without sharing
        // through the run, or "/" for a folder there.
        const char* oldRecord = nullptr;
    } cases[] = {
        {"no list", nullptr, nullptr},
        {"one bit of the signature changed", "publisher",
         [](std::string& list) { list[list.size() - 2] ^= 1; }},
        {"a listed size changed", "publisher",
         [](std::string& list) { list[list.find(" 5 ") + 1] = '6'; }},
        {"cut in half", "publisher", [](std::string& list) { list.resize(list.size() / 2); }},
        {"signed by another key", "other", nullptr},
        {"an older release than the last applied", "publisher", nullptr, 6},
        {"an older release, the old record file garbled and held", "publisher", nullptr, 6,
         "garbled"},
        {"an older release, the old record file a folder", "publisher", nullptr, 6, "/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Sandbox& box = nextRowSandbox();
        makeScene(box);
        if (c.lastApplied)
            RootRecord(box).set(c.lastApplied);
        const std::wstring oldRecord = box.root + L"\\Updater.release";
        UniqueFileHandle held;
        if (c.oldRecord && *c.oldRecord == '/') {
            makeDirs(oldRecord);
        } else if (c.oldRecord) {
            writeFile(oldRecord, c.oldRecord);
            held.reset(CreateFileW(oldRecord.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
        }
        if (c.key) {
            SKIP_UNLESS(sign(box, c.key, 5, &why));
        }
        if (c.edit) {
            std::string list = readFile(listOf(box));
            c.edit(list);
            writeFile(listOf(box), list);
        }
        const RunResult run = runRefused(box, inQuotes(box.root), listOf(box));
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_TRUE(startsWith(lastLineOf(run.log), "Exception: signed_list: "));
        EXPECT_FALSE(contains(run.log, "Sub path")) << "walked";
        EXPECT_EQ(readFile(box.root + L"\\bin\\x.dll"), "old x");
        EXPECT_FALSE(exists(box.root + L"\\readme.txt"));
    }
}

// A record that stands but is no release number is no "nothing applied yet": the run
// stops before anything moves, naming the root.
TEST_F(SignedUpdates, RecordThatIsNoReleaseNumberStopsTheRunBeforeAnythingMoves)
{
    SKIP_UNLESS(sign(box_, "publisher", 5, &why));
    const std::wstring notANumber = L"7";
    RootRecord(box_).write(&notANumber);
    const RunResult run = runRefused(box_, inQuotes(box_.root), box_.root);
    EXPECT_EQ(lastLineOf(run.log),
              "Exception: release_record: " + systemMessage(ERROR_INVALID_DATA) + " " +
                  logged(box_.root) + "\r\n");
    EXPECT_FALSE(contains(run.log, "Sub path")) << "walked";
    EXPECT_EQ(readFile(box_.root + L"\\bin\\x.dll"), "old x");
}

// A record that cannot be written fails the run, naming the root: a release applied but
// not recorded could be replayed over a newer one without a word.
TEST(ReleaseRecordSeam, RecordThatCannotBeWrittenThrowsNamingTheRoot)
{
    const Sandbox box = makeSandbox();
    const std::wstring parent = L"SOFTWARE\\Qorvath\\" + uniqueName(L"volatile");
    HKEY made = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, parent.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_WRITE | KEY_WOW64_64KEY, nullptr, &made, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(made);
    const UniqueFileHandle root = holdFolder(box.root).handle;
    try {
        recordReleaseUnder((parent + L"\\Releases").c_str(), root.get(), box.root, 5);
        ADD_FAILURE() << "recorded";
    } catch (const FileSystemError& error) {
        EXPECT_EQ(error.operation(), "release_record");
        EXPECT_EQ(error.code(), static_cast<DWORD>(ERROR_CHILD_MUST_BE_VOLATILE));
        EXPECT_EQ(error.path(), box.root);
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, parent.c_str(), KEY_WOW64_64KEY, 0);
}

// What changed after signing is not installed: a file whose bytes differ stops the run
// at it, the old file staying; a file the list does not name stays in the update folder;
// a listed file gone from it stops the run after the walk, the release not recorded.
TEST_F(SignedUpdates, FilesChangedOrAddedAfterSigningAreNotInstalled)
{
    SKIP_UNLESS(sign(box_, "publisher", 5, &why));
    writeFile(box_.updateDir + L"\\extra.txt", "extra");
    const RunResult added = runUpdater(box_, inQuotes(box_.root));
    EXPECT_EQ(added.exitCode, 0u) << added.log;
    EXPECT_TRUE(contains(
        added.log, logLines({"relativePath=\"extra.txt\"", "Not in the signed list, ignore it"})));
    EXPECT_EQ(readFile(box_.updateDir + L"\\extra.txt"), "extra");
    EXPECT_FALSE(exists(box_.root + L"\\extra.txt"));
    EXPECT_EQ(readFile(box_.root + L"\\readme.txt"), "new readme");

    const Sandbox changed = makeSandbox(box_.base + L"-changed");
    makeScene(changed);
    SKIP_UNLESS(sign(changed, "publisher", 5, &why));
    writeFile(changed.updateDir + L"\\bin\\x.dll", "new X"); // one byte, after signing
    const RunResult run =
        runRefused(changed, inQuotes(changed.root), changed.root + L"\\bin\\x.dll");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(lastLineOf(run.log), "Exception: signed_list: " + systemMessage(ERROR_INVALID_DATA) +
                                       " " + logged(changed.root + L"\\bin\\x.dll") + "\r\n");
    EXPECT_EQ(readFile(changed.root + L"\\bin\\x.dll"), "old x");
    EXPECT_EQ(readFile(changed.updateDir + L"\\bin\\x.dll"), "new X");
    EXPECT_EQ(listing(changed.root + L"\\bin"), std::vector<std::wstring>{L"x.dll"})
        << "a copy left behind";

    // A listed file gone from the update folder: no earlier run installed it, whether the
    // root lacks it or still holds its old version.
    const struct {
        const wchar_t* gone;
        const wchar_t* stays; // installed meanwhile
        DWORD error;
    } rows[] = {
        {/*gone=*/L"\\readme.txt", /*stays=*/L"\\bin\\x.dll", /*error=*/ERROR_FILE_NOT_FOUND},
        {/*gone=*/L"\\bin\\x.dll", /*stays=*/L"\\readme.txt", /*error=*/ERROR_INVALID_DATA},
    };
    for (const auto& row : rows) {
        const Sandbox removed = makeSandbox(box_.base + L"-removed" + std::to_wstring(row.error));
        makeScene(removed);
        SKIP_UNLESS(sign(removed, "publisher", 5, &why));
        const std::string before = readFile(removed.root + row.gone);
        DeleteFileW((removed.updateDir + row.gone).c_str());
        const std::wstring missing = removed.root + row.gone;
        const RunResult stopped = runRefused(removed, inQuotes(removed.root), missing);
        EXPECT_EQ(lastLineOf(stopped.log), "Exception: signed_list: " + systemMessage(row.error) +
                                               " " + logged(missing) + "\r\n");
        EXPECT_EQ(readFile(missing), before) << "the old file stays";
        EXPECT_TRUE(startsWith(readFile(removed.root + row.stays), "new "));
        EXPECT_EQ(RootRecord(removed).release(), 0u);
    }
}

// A release that adds a folder and drops files is applied whole: the folders it needs
// are made first (two levels below a folder the root lacks), and the files it drops go
// only once every file is installed; a run stopped by a held file leaves the removals
// (and keeps the folders made) for the next. What is not a plain file with one name at
// its own place below the root is left alone, and so is its target.
TEST_F(SignedUpdates, ReleaseMakesItsFoldersFirstAndDropsItsFilesLast)
{
    makeDirs(box_.updateDir + L"\\locale\\de\\ui");
    writeFile(box_.updateDir + L"\\locale\\de\\ui\\strings.txt", "de");
    const std::wstring outside = box_.base + L"\\outside";
    makeDirs(outside);
    for (const wchar_t* name : {L"\\old.dll", L"\\keep.dll"})
        writeFile(box_.root + L"\\bin" + name, "old");
    writeFile(outside + L"\\linked.dll", "target");
    writeFile(outside + L"\\hard.dll", "target");
    makeDirs(box_.root + L"\\bin\\folder.dll");
    SKIP_UNLESS(makeFileLink(outside + L"\\linked.dll", box_.root + L"\\bin\\linked.dll", &why));
    ASSERT_TRUE(CreateHardLinkW((box_.root + L"\\bin\\hard.dll").c_str(),
                                (outside + L"\\hard.dll").c_str(), nullptr));
    SKIP_UNLESS(sign(box_, "publisher", 5, &why,
                     {L"bin/old.dll", L"bin\\linked.dll", L"bin\\hard.dll", L"bin\\folder.dll",
                      L"gone\\x.dll"}));
    const std::wstring held = box_.root + L"\\readme.txt";
    writeFile(held, "old readme");
    UniqueFileHandle holder(
        CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    const RunResult stopped = runRefused(box_, inQuotes(box_.root), held);
    EXPECT_EQ(stopped.exitCode, 1u);
    EXPECT_TRUE(
        contains(stopped.log, logLines({"Folder made=" + logged(box_.root + L"\\locale"),
                                        "Folder made=" + logged(box_.root + L"\\locale\\de"),
                                        "Folder made=" + logged(box_.root + L"\\locale\\de\\ui"),
                                        "Step" + logged(box_.updateDir)})))
        << stopped.log;
    EXPECT_EQ(readFile(box_.root + L"\\bin\\old.dll"), "old") << "removed before the end";
    EXPECT_EQ(readFile(box_.root + L"\\locale\\de\\ui\\strings.txt"), "de");
    holder.reset();

    const RunResult run = runUpdater(box_, inQuotes(box_.root));
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_EQ(readFile(held), "new readme");
    EXPECT_FALSE(exists(box_.root + L"\\bin\\old.dll"));
    EXPECT_EQ(readFile(box_.root + L"\\bin\\keep.dll"), "old");
    EXPECT_EQ(readFile(outside + L"\\linked.dll"), "target");
    EXPECT_EQ(readFile(outside + L"\\hard.dll"), "target");
    EXPECT_TRUE(exists(box_.root + L"\\bin\\folder.dll"));
    const auto removal = [&](const wchar_t* path, const char* outcome) {
        return logLines({"remove=" + logged(box_.root + path), outcome});
    };
    EXPECT_TRUE(endsWith(
        run.log,
        removal(L"\\bin\\old.dll", words::removed) + removal(L"\\bin\\linked.dll", leftAlone) +
            removal(L"\\bin\\hard.dll", leftAlone) + removal(L"\\bin\\folder.dll", leftAlone) +
            removal(L"\\gone\\x.dll", words::notThere) + runEndLines(box_)))
        << run.log;
    EXPECT_EQ(RootRecord(box_).release(), 5u);
    if (!runningUnderWine()) {
        // Made by the administrator: owned by Administrators, with what its parent passes on.
        EXPECT_EQ(ownerAndInheritance(box_.root + L"\\locale\\de"),
                  ownerAndInheritance(box_.root + L"\\bin\\x.dll"));
    }
}

// A folder that the list names and that stands in the root as a link (to a folder
// elsewhere, or a junction on Windows) stops the run before anything is installed,
// naming it; nothing lands where it leads.
TEST_F(SignedUpdates, ListedFolderThatIsALinkStopsTheRunBeforeAnythingIsInstalled)
{
    makeDirs(box_.updateDir + L"\\locale");
    writeFile(box_.updateDir + L"\\locale\\de.txt", "de");
    const std::wstring elsewhere = box_.base + L"\\elsewhere";
    makeDirs(elsewhere);
    SKIP_UNLESS(makeFolderLink(elsewhere, box_.root + L"\\locale", &why));
    SKIP_UNLESS(sign(box_, "publisher", 5, &why));
    const std::wstring link = box_.root + L"\\locale";
    const RunResult run = runRefused(box_, inQuotes(box_.root), link);
    EXPECT_TRUE(startsWith(lastLineOf(run.log), "Exception: create_directory: ")) << run.log;
    EXPECT_TRUE(endsWith(run.log, " " + logged(link) + "\r\n"));
    EXPECT_EQ(listing(elsewhere).size(), 0u);
    EXPECT_EQ(readFile(box_.root + L"\\bin\\x.dll"), "old x");
}

// A sparse stand-in of 4 MiB for a file listed at 5 bytes, in a root on a volume of
// 1 MiB: refused as not the publisher's before a byte is copied (a copy would run out
// of room first), though its first bytes are the listed ones.
TEST_F(SignedUpdates, StandInOfAnotherSizeIsRefusedBeforeItsCopy)
{
    std::wstring small;
    SKIP_UNLESS(!(small = smallVolume(&why)).empty());
    const Sandbox box = makeSandbox(small + uniqueName(L"sparse"));
    makeScene(box);
    SKIP_UNLESS(sign(box, "publisher", 5, &why));
    const std::wstring dest = box.root + L"\\bin\\x.dll";
    {
        const UniqueFileHandle standIn(CreateFileW((box.updateDir + L"\\bin\\x.dll").c_str(),
                                                   GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                                   nullptr));
        // The listed bytes first: only its size tells it from the publisher's file.
        DWORD written = 0;
        LARGE_INTEGER end = {};
        end.QuadPart = 4 << 20;
        ASSERT_TRUE(WriteFile(standIn.get(), "new x", 5, &written, nullptr) &&
                    SetFilePointerEx(standIn.get(), end, nullptr, FILE_BEGIN) &&
                    SetEndOfFile(standIn.get()));
    }
    const RunResult run = runRefused(box, inQuotes(box.root), dest);
    EXPECT_EQ(lastLineOf(run.log), "Exception: signed_list: " + systemMessage(ERROR_INVALID_DATA) +
                                       " " + logged(dest) + "\r\n");
    EXPECT_EQ(readFile(dest), "old x");
    EXPECT_EQ(listing(box.root + L"\\bin"), std::vector<std::wstring>{L"x.dll"});
    removeTree(box.base);
}

// The test command tells Wine to prefer a bcrypt.dll beside the program, as Windows
// would for a DLL it does not know: the signed build's CNG comes from the system folder
// all the same, and the planted one, not in the list, stays where it is.
using PlantedDllsSignedUpdates = SignedUpdates;
TEST_F(PlantedDllsSignedUpdates, BcryptBesideTheExecutableIsNeverLoaded)
{
    SKIP_UNLESS(sign(box_, "publisher", 5, &why));
    const std::wstring planted = box_.updateDir + L"\\bcrypt.dll";
    copyFile(binDir() + L"\\canary.dll", planted);
    const RunResult run = runUpdater(box_, inQuotes(box_.root));
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_EQ(readFile(box_.root + L"\\bin\\x.dll"), "new x");
    EXPECT_FALSE(exists(planted + L".loaded"));
    EXPECT_FALSE(exists(box_.root + L"\\bcrypt.dll"));
}

#endif
