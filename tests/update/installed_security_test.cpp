// What the administrator installs belongs to the administrator: the installed file
// takes the access list of its new folder and the Administrators group as owner, and
// nothing is ever done through a name that leads elsewhere or shares its file.
#include "helpers/harness.h"

#include <gtest/gtest.h>

#include <aclapi.h>

#include <vector>

namespace {

using UniqueLocalDescriptor = UniqueAny<PSECURITY_DESCRIPTOR, &LocalFree>;

// The ACEs of an access list as (flags, mask, SID text), in order.
struct Ace {
    BYTE flags;
    ACCESS_MASK mask;
    std::vector<BYTE> sid;
    bool operator==(const Ace& other) const
    {
        return flags == other.flags && mask == other.mask && sid == other.sid;
    }
};

std::vector<Ace> acesOf(PACL acl)
{
    std::vector<Ace> aces;
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        void* raw = nullptr;
        if (!GetAce(acl, i, &raw))
            break;
        const auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        const auto* sid = reinterpret_cast<const BYTE*>(&ace->SidStart);
        aces.push_back({ace->Header.AceFlags, ace->Mask,
                        std::vector<BYTE>(sid, sid + GetLengthSid(const_cast<BYTE*>(sid)))});
    }
    return aces;
}

bool isAdministrators(PSID sid)
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) && sid &&
           EqualSid(sid, administrators);
}

// What inheritance gives a file of the folder: each entry the folder passes on to files,
// marked inherited, with no inheritance flags of its own.
std::vector<Ace> inheritedByFilesOf(const std::wstring& folder)
{
    UniqueLocalDescriptor descriptor;
    PACL dacl = nullptr;
    EXPECT_EQ(GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &dacl, nullptr, descriptor.put()),
              static_cast<DWORD>(ERROR_SUCCESS));
    std::vector<Ace> inherited;
    for (Ace ace : acesOf(dacl)) {
        if (!(ace.flags & OBJECT_INHERIT_ACE))
            continue;
        ace.flags = INHERITED_ACE;
        inherited.push_back(ace);
    }
    EXPECT_FALSE(inherited.empty()) << "the folder passes nothing on to its files";
    return inherited;
}

} // namespace

// The installed file is a new file that the administrator wrote, never the user's file
// object: a handle that the user opened on the update file before the run (WRITE_DAC,
// which no share mode keeps out) leads afterwards to the deleted update file, and what it
// sets does not reach the installed file. On Windows that file is owned by Administrators
// and has the entries its folder passes on (Wine keeps no security that is set).
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
    UniqueLocalDescriptor descriptor;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(dest.c_str(), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                    nullptr, &dacl, nullptr, descriptor.put()),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(isAdministrators(owner));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
    EXPECT_FALSE(control & SE_DACL_PROTECTED);
    EXPECT_EQ(acesOf(dacl), inheritedByFilesOf(box.root));
}

// A name in the root that leads to a file elsewhere (a link, or another name of it) is
// replaced, and that file keeps its content and, on Windows, its owner. Wine keeps no descriptor
// that is set, so there only the content shows.
TEST(InstalledFileSecurity, NameInTheRootThatLeadsElsewhereIsReplacedAndItsFileKeepsItsOwn)
{
    const Sandbox box = makeSandbox();
    const std::wstring soft = box.base + L"\\soft-target.dll";
    const std::wstring hard = box.base + L"\\hard-target.dll";
    writeFile(soft, "outside");
    writeFile(hard, "outside");
    SKIP_UNLESS(makeFileLink(soft, box.root + L"\\soft.dll", &why));
    ASSERT_TRUE(CreateHardLinkW((box.root + L"\\hard.dll").c_str(), hard.c_str(), nullptr));
    const auto ownerOf = [](const std::wstring& path) {
        UniqueLocalDescriptor descriptor;
        PSID owner = nullptr;
        GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, descriptor.put());
        return owner ? std::vector<BYTE>(static_cast<BYTE*>(owner),
                                         static_cast<BYTE*>(owner) + GetLengthSid(owner))
                     : std::vector<BYTE>();
    };
    const std::vector<BYTE> softOwner = ownerOf(soft);
    const std::vector<BYTE> hardOwner = ownerOf(hard);
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
        EXPECT_EQ(ownerOf(soft), softOwner);
        EXPECT_EQ(ownerOf(hard), hardOwner);
    }
}
