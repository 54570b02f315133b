// What the administrator installs belongs to the administrator: the installed file
// takes the access list of its new folder and the Administrators group as owner, and
// nothing is ever done through a name that leads elsewhere or shares its file.
#include "helpers/harness.h"

#include <gtest/gtest.h>

#include <aclapi.h>

#include <tuple>
#include <vector>

namespace {

// What a file's security descriptor says: its owner, whether its access list is kept
// from inheriting, and the list's entries as (type, flags, mask, SID) in order. Empty where
// it cannot be read.
struct Security {
    std::vector<BYTE> owner;
    bool listProtected = false;
    std::vector<std::tuple<BYTE, BYTE, ACCESS_MASK, std::vector<BYTE>>> entries;
    bool operator==(const Security& other) const
    {
        return std::tie(owner, listProtected, entries) ==
               std::tie(other.owner, other.listProtected, other.entries);
    }
};

std::vector<BYTE> bytesOf(PSID sid)
{
    return std::vector<BYTE>(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
}

Security securityOf(const std::wstring& path)
{
    Security security;
    UniqueAny<PSECURITY_DESCRIPTOR, &LocalFree> descriptor;
    PSID owner = nullptr;
    PACL list = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &list, nullptr, descriptor.put()) != ERROR_SUCCESS ||
        !GetSecurityDescriptorControl(descriptor.get(), &control, &revision))
        return security;
    security.owner = bytesOf(owner);
    security.listProtected = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; list && i < list->AceCount; ++i) {
        void* raw = nullptr;
        if (!GetAce(list, i, &raw))
            break;
        const auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        security.entries.emplace_back(entry->Header.AceType, entry->Header.AceFlags, entry->Mask,
                                      bytesOf(const_cast<DWORD*>(&entry->SidStart)));
    }
    return security;
}

} // namespace

// The installed file is a new file that the administrator wrote, never the user's file
// object: a handle that the user opened on the update file before the run (WRITE_DAC,
// which no share mode keeps out) leads afterwards to the deleted update file, and what it
// sets does not reach the installed file. On Windows that file is owned by Administrators
// and has what its folder passes on, as a file the test makes there with that owner (Wine
// keeps no security that is set).
TEST(InstalledFileSecurity, InstalledFileIsTheAdministratorsOwnNotTheUsersFileObject)
{
    const Sandbox box = makeSandbox();
    const std::wstring source = box.updateDir + L"\\game.dll";
    writeFile(source, "new");
    const UniqueFileHandle users(CreateFileW(source.c_str(), WRITE_DAC | FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(users);
    const RunResult run = runUpdater(box, inQuotes(box.root));
    ASSERT_EQ(run.exitCode, 0u) << run.log;
    const std::wstring dest = box.root + L"\\game.dll";
    EXPECT_EQ(readFile(dest), "new");
    const UniqueFileHandle installed(
        CreateFileW(dest.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION userFile;
    BY_HANDLE_FILE_INFORMATION installedFile;
    ASSERT_TRUE(GetFileInformationByHandle(users.get(), &userFile));
    ASSERT_TRUE(GetFileInformationByHandle(installed.get(), &installedFile));
    EXPECT_FALSE(userFile.nFileIndexLow == installedFile.nFileIndexLow &&
                 userFile.nFileIndexHigh == installedFile.nFileIndexHigh)
        << "the user's own file object was installed";
    if (runningUnderWine())
        return;
    // The user gives everybody full control through the handle kept from before.
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof everyone;
    ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size));
    std::vector<BYTE> aclBytes(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + size);
    auto* acl = reinterpret_cast<PACL>(aclBytes.data());
    ASSERT_TRUE(InitializeAcl(acl, static_cast<DWORD>(aclBytes.size()), ACL_REVISION));
    ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, everyone));
    SetSecurityInfo(users.get(), SE_FILE_OBJECT,
                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                    nullptr, acl, nullptr);
    // What inheritance gives a new file of the root owned by Administrators, worked out
    // by the system (generic rights mapped, the creator's entries made the owner's).
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    size = sizeof administrators;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    SECURITY_DESCRIPTOR ownedBy;
    ASSERT_TRUE(InitializeSecurityDescriptor(&ownedBy, SECURITY_DESCRIPTOR_REVISION) &&
                SetSecurityDescriptorOwner(&ownedBy, administrators, FALSE));
    SECURITY_ATTRIBUTES reference = {sizeof reference, &ownedBy, FALSE};
    ASSERT_TRUE(UniqueFileHandle(CreateFileW((box.root + L"\\reference.txt").c_str(), GENERIC_WRITE,
                                             0, &reference, CREATE_NEW, 0, nullptr)));
    const Security installedSecurity = securityOf(dest);
    EXPECT_EQ(installedSecurity.owner, bytesOf(administrators));
    EXPECT_EQ(installedSecurity, securityOf(box.root + L"\\reference.txt"));
}

// A name in the root that leads to a file elsewhere (a link, or another name of it) is
// replaced, and that file keeps its content and, on Windows, its owner and access list.
// Wine keeps no descriptor that is set, so there only the content shows.
TEST(InstalledFileSecurity, NameInTheRootThatLeadsElsewhereIsReplacedAndItsFileKeepsItsOwn)
{
    const Sandbox box = makeSandbox();
    const std::wstring soft = box.base + L"\\soft-target.dll";
    const std::wstring hard = box.base + L"\\hard-target.dll";
    writeFile(soft, "outside");
    writeFile(hard, "outside");
    SKIP_UNLESS(makeFileLink(soft, box.root + L"\\soft.dll", &why));
    ASSERT_TRUE(CreateHardLinkW((box.root + L"\\hard.dll").c_str(), hard.c_str(), nullptr));
    const Security softSecurity = securityOf(soft);
    const Security hardSecurity = securityOf(hard);
    writeFile(box.updateDir + L"\\soft.dll", "new");
    writeFile(box.updateDir + L"\\hard.dll", "new");

    const RunResult run = runUpdater(box, inQuotes(box.root));
    EXPECT_EQ(run.exitCode, 0u) << run.log;
    for (const std::wstring name : {L"soft", L"hard"}) {
        SCOPED_TRACE(testing::PrintToString(name));
        EXPECT_EQ(readFile(box.root + L"\\" + name + L".dll"), "new");
        EXPECT_EQ(readFile(box.base + L"\\" + name + L"-target.dll"), "outside");
    }
    if (!runningUnderWine()) {
        EXPECT_EQ(securityOf(soft), softSecurity);
        EXPECT_EQ(securityOf(hard), hardSecurity);
    }
}
