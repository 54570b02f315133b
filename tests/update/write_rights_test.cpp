// Which roots bound an update by the starter's rights, and which folders such a root's
// update may write, decided on security descriptors as the folders would have them:
// Wine gives every folder its user as owner, so the refusals are for a run on Windows.
#include "update/write_rights.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <string>

TEST(WriteRightsSeam, AdministratorsOwnedRootsAndFoldersTheStarterCouldWrite)
{
    const struct {
        const char* what;
        const wchar_t* security; // SDDL
        bool administratorsOwn;
        bool userMayWrite; // our own user, its Administrators membership for denying only
    } rows[] = {
        {"installed by an administrator, users read", L"O:BAG:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;BU)",
         true, false},
        {"Windows' own",
         L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
         L"G:SYD:(A;;FA;;;SY)",
         true, false},
        {"the system's", L"O:SYG:SYD:(A;;FA;;;WD)", true, true},
        {"a user's own, anyone may write", L"O:WDG:WDD:(A;;FA;;;WD)", false, true},
        {"users may add files but not delete them", L"O:WDG:WDD:(A;;0x100003;;;WD)", false, false},
        {"users may read only", L"O:WDG:WDD:(A;;0x1200a9;;;WD)", false, false},
    };
    const UniqueHandle user = accessCheckTokenOf(nullptr);
    ASSERT_TRUE(user);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        PSECURITY_DESCRIPTOR security = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            row.security, SDDL_REVISION_1, &security, nullptr));
        EXPECT_EQ(ownerIsAdministrators(security), row.administratorsOwn);
        EXPECT_EQ(grantsAddAndDelete(security, user.get()), row.userMayWrite);
        LocalFree(security);
    }
}
