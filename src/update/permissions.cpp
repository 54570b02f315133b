#include "update/permissions.h"

#include <aclapi.h>

namespace {

using UniqueLocalDescriptor = UniqueAny<PSECURITY_DESCRIPTOR, &LocalFree>;

struct AdministratorsSid {
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    bool made = false;
    AdministratorsSid()
    {
        DWORD size = sizeof sid;
        made = CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) != FALSE;
    }
    PSID get() { return made ? static_cast<PSID>(sid) : nullptr; }
};

} // namespace

FolderSecurity securityForFilesIn(HANDLE folder)
{
    FolderSecurity security;
    UniqueLocalDescriptor parent;
    if (GetSecurityInfo(folder, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                            DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, nullptr, nullptr, parent.put()) != ERROR_SUCCESS)
        return security;
    // What the system gives a file that we create in the folder, owned by Administrators:
    // the folder's inheritable entries (CREATOR OWNER becoming Administrators), or our
    // token's default list where the folder passes none on.
    AdministratorsSid administrators;
    SECURITY_DESCRIPTOR creator;
    UniqueHandle token;
    if (!administrators.get() ||
        !InitializeSecurityDescriptor(&creator, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&creator, administrators.get(), FALSE) ||
        !SetSecurityDescriptorGroup(&creator, administrators.get(), FALSE) ||
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return security;
    GENERIC_MAPPING fileMapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                                   FILE_ALL_ACCESS};
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!CreatePrivateObjectSecurityEx(parent.get(), &creator, &made, nullptr, FALSE,
                                       SEF_DACL_AUTO_INHERIT | SEF_AVOID_OWNER_CHECK, token.get(),
                                       &fileMapping))
        return security;
    security.file.reset(made);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    // A list without a single entry would lock everybody out of the launcher's files:
    // never what inheritance means for them, so the files keep their own list then.
    if (GetSecurityDescriptorDacl(made, &present, &dacl, &defaulted) && present && dacl &&
        dacl->AceCount > 0)
        security.dacl = dacl;
    return security;
}

bool applyFolderSecurity(HANDLE file, const FolderSecurity& security)
{
    AdministratorsSid administrators;
    if (!administrators.get())
        return false;
    // Without the folder's list, the file keeps its own rather than losing every entry.
    const SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION |
        (security.dacl ? DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION : 0);
    return SetSecurityInfo(file, SE_FILE_OBJECT, what, administrators.get(), nullptr, security.dacl,
                           nullptr) == ERROR_SUCCESS;
}
