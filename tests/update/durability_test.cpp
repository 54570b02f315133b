// Wine can flush no volume, and no file system shows whether a file's data reached the
// disk before its name did, so the flushes are tested through stand-ins that note when
// the run asks for them.
#include "helpers/harness.h"
#include "update/install.h"
#include "update/walk_seams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(DurabilitySeam, EachVolumeThatReceivedFilesIsFlushedOnceAfterTheLastInstall)
{
    REQUIRE_OTHER_VOLUME(other);
    std::vector<std::wstring> flushed;
    Durability durability;
    durability.flushVolume = [&](const std::wstring& volume) {
        flushed.push_back(volume);
        return false; // a volume that cannot be flushed changes nothing for the others
    };
    const std::wstring here = L"\\\\?\\" + binDir() + L"\\";
    // Two spellings of one folder, and a folder of another volume.
    for (const std::wstring& folder : {here, here, L"\\\\?\\" + binDir(), other})
        noteMoveInto(durability, folder);
    EXPECT_TRUE(flushed.empty()) << "flushed before the last install";
    flushAfterLastMove(durability);
    ASSERT_EQ(flushed.size(), 2u);
    EXPECT_NE(flushed[0], flushed[1]);
}

// A power cut after a rename of an unflushed copy would leave an empty or torn file under
// the real name: each copy is flushed whole while dest still holds the old file (or
// nothing), and the volume once, after the last install.
TEST(DurabilitySeam, WalkFlushesEachCopyBeforeItTakesItsNameAndTheVolumeAfterTheLastInstall)
{
    const Sandbox box = makeSandbox();
    writeFile(box.root + L"\\a.txt", "old");
    for (const wchar_t* name : {L"\\a.txt", L"\\z.txt"})
        writeFile(box.updateDir + name, "new");
    const auto installed = [&box] {
        return std::to_string((readFile(box.root + L"\\a.txt") == "new") +
                              (readFile(box.root + L"\\z.txt") == "new"));
    };
    std::vector<std::string> flushes;
    WalkStandIns standIns;
    standIns.durability.flushFile = [&](HANDLE copy) {
        LARGE_INTEGER size = {};
        GetFileSizeEx(copy, &size);
        flushes.push_back("file of " + std::to_string(size.QuadPart) + " bytes after " +
                          installed() + " installed");
        return true;
    };
    standIns.durability.flushVolume = [&](const std::wstring&) {
        flushes.push_back("volume after " + installed() + " installed");
        return true;
    };
    applyUpdateTree(box.updateDir, {box.root, box.root}, nullptr, std::move(standIns));
    EXPECT_EQ(flushes, (std::vector<std::string>{"file of 3 bytes after 0 installed",
                                                 "file of 3 bytes after 1 installed",
                                                 "volume after 2 installed"}));
}

// Across volumes the update file's deletion could reach its disk before the rename reached
// dest's: the update file goes only once dest's volume is flushed.
TEST(DurabilitySeam, UpdateFileOnAnotherVolumeGoesOnlyAfterDestsVolumeIsFlushed)
{
    REQUIRE_OTHER_VOLUME(other);
    const Sandbox box = makeSandbox();
    const ScratchFolder dest(other + uniqueName(L"dest"));
    const std::wstring source = box.updateDir + L"\\a.txt";
    writeFile(source, "new");
    HeldFolder folder = holdDestFolder(L"\\\\?\\" + dest.path() + L"\\");
    ASSERT_TRUE(folder.handle) << folder.openError;
    std::vector<std::string> flushes;
    InstallContext context;
    context.durability.flushVolume = [&](const std::wstring&) {
        flushes.push_back(readFile(source) == "new" ? "update file there" : "update file gone");
        return true;
    };
    readyToReceive(folder, context.durability);
    installFile(folder, L"a.txt",
                openUpdateFile(L"\\\\?\\" + source, source, box.updateDir, L"a.txt"), nullptr,
                context);
    EXPECT_EQ(readFile(source), "new") << "deleted before the flush";
    flushAfterLastMove(context.durability);
    EXPECT_EQ(flushes, std::vector<std::string>{"update file there"});
    EXPECT_FALSE(exists(source));
    EXPECT_EQ(readFile(dest.path() + L"\\a.txt"), "new");
}
