// Wine can flush no volume, so the flushes are tested through the run's own record of
// them, with a stand-in for the flush itself.
#include "helpers/harness.h"
#include "update/durability_seams.h"
#include "update/walk_seams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(DurabilitySeam, EachVolumeThatReceivedFilesIsFlushedOnceAfterTheLastInstall)
{
    REQUIRE_OTHER_VOLUME(other);
    std::vector<std::wstring> flushed;
    Durability durability;
    const std::wstring here = L"\\\\?\\" + binDir() + L"\\";
    // Two spellings of one folder, and a folder of another volume.
    for (const std::wstring& folder : {here, here, L"\\\\?\\" + binDir(), other})
        noteMoveInto(durability, folder);
    EXPECT_TRUE(flushed.empty()) << "flushed before the last install";
    flushAfterLastMove(durability, [&](const std::wstring& volume) {
        flushed.push_back(volume);
        return false; // a volume that cannot be flushed changes nothing for the others
    });
    ASSERT_EQ(flushed.size(), 2u);
    EXPECT_NE(flushed[0], flushed[1]);
}

// The walk flushes the volume it installed into once, after its last install.
TEST(DurabilitySeam, WalkFlushesTheRootsVolumeAfterItsLastInstall)
{
    const Sandbox box = makeSandbox();
    for (const wchar_t* name : {L"\\a.txt", L"\\z.txt"})
        writeFile(box.updateDir + name, "new");
    int flushes = 0;
    applyUpdateTree(box.updateDir, box.root, nullptr, [&](const std::wstring&) {
        ++flushes;
        EXPECT_EQ(readFile(box.root + L"\\z.txt"), "new") << "flushed before the last install";
        return true;
    });
    EXPECT_EQ(flushes, 1);
}
