// Wine can flush no volume, so the order of the flushes is tested through the run's
// own record of them, with a stand-in for the flush itself.
#include "helpers/harness.h"
#include "update/durability.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(DurabilitySeam, EachVolumeIsFlushedBeforeItsFirstMoveAndAgainAfterTheLast)
{
    std::string why;
    const std::wstring other = otherVolume(&why);
    if (other.empty())
        GTEST_SKIP() << why;
    for (const bool flushable : {true, false}) {
        SCOPED_TRACE(flushable ? "volumes that can be flushed" : "volumes that cannot");
        std::vector<std::wstring> flushed;
        Durability durability;
        durability.flush = [&](const std::wstring& volume) {
            flushed.push_back(volume);
            return flushable;
        };
        const std::wstring here = L"\\\\?\\" + binDir() + L"\\";
        // The first move into a volume flushes it; a volume that cannot be flushed has
        // its files flushed one by one instead, and is not asked again.
        EXPECT_EQ(prepareMoveInto(durability, here), !flushable);
        EXPECT_EQ(prepareMoveInto(durability, here), !flushable);
        EXPECT_EQ(prepareMoveInto(durability, L"\\\\?\\" + binDir()), !flushable);
        ASSERT_EQ(flushed.size(), 1u);
        EXPECT_EQ(prepareMoveInto(durability, other), !flushable);
        ASSERT_EQ(flushed.size(), 2u);
        EXPECT_NE(flushed[0], flushed[1]);
        flushAfterLastMove(durability);
        const std::vector<std::wstring> again =
            flushable ? std::vector<std::wstring>{flushed[0], flushed[1], flushed[0], flushed[1]}
                      : std::vector<std::wstring>{flushed[0], flushed[1]};
        EXPECT_EQ(flushed, again);
    }
}
