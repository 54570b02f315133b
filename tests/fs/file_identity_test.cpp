#include "fs/file_identity.h"
#include "helpers/harness.h"

#include <gtest/gtest.h>

// Wine leaves a link whose target is missing out of folder listings, so the walk
// never meets one there; the status rule is tested on its own.
TEST(FileIdentity, LinkWithMissingTargetCountsAsFileTestedDirectlySinceWineHidesIt)
{
    const std::wstring missing = binDir() + L"\\sandbox\\no such folder\\no such file";
    EXPECT_FALSE(leadsToFolder(missing, FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_FALSE(leadsToFolder(missing, FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    // Without the link attribute the listing's own word counts.
    EXPECT_TRUE(leadsToFolder(missing, FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(leadsToFolder(missing, FILE_ATTRIBUTE_NORMAL));
    // A link is followed to what it points at.
    EXPECT_TRUE(leadsToFolder(binDir(), FILE_ATTRIBUTE_REPARSE_POINT));
}
