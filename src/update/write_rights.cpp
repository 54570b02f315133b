#include "update/write_rights.h"

#include <aclapi.h>

namespace {

inline void freeLocal(PSECURITY_DESCRIPTOR security)
{
    LocalFree(security);
}
using UniqueSecurity = UniqueAny<PSECURITY_DESCRIPTOR, &freeLocal>;

UniqueSecurity securityOf(HANDLE folder, SECURITY_INFORMATION parts)
{
    UniqueSecurity security;
    if (GetSecurityInfo(folder, SE_FILE_OBJECT, parts, nullptr, nullptr, nullptr, nullptr,
                        security.put()) != ERROR_SUCCESS)
        security.reset();
    return security;
}

// NT SERVICE\TrustedInstaller, which owns the folders that Windows installs.
bool isTrustedInstaller(PSID sid)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID trustedInstaller = nullptr;
    if (!AllocateAndInitializeSid(&nt, 6, 80, 956008885, 3418522649, 1831038044, 1853292631,
                                  2271478464, 0, 0, &trustedInstaller))
        return false;
    const bool same = EqualSid(sid, trustedInstaller) != FALSE;
    FreeSid(trustedInstaller);
    return same;
}

} // namespace

bool ownerIsAdministrators(PSECURITY_DESCRIPTOR security)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    return security && GetSecurityDescriptorOwner(security, &owner, &defaulted) && owner &&
           (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
            IsWellKnownSid(owner, WinLocalSystemSid) || isTrustedInstaller(owner));
}

bool isOwnedByAdministrators(HANDLE folder)
{
    return ownerIsAdministrators(securityOf(folder, OWNER_SECURITY_INFORMATION).get());
}

UniqueHandle accessCheckTokenOf(HANDLE starterToken)
{
    UniqueHandle own;
    UniqueHandle restricted;
    UniqueHandle checking;
    HANDLE token = starterToken;
    if (!token) {
        BYTE administrators[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof administrators;
        SID_AND_ATTRIBUTES disabled = {administrators, 0};
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, own.put()) ||
            !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
            !CreateRestrictedToken(own.get(), 0, 1, &disabled, 0, nullptr, 0, nullptr,
                                   restricted.put()))
            return {};
        token = restricted.get();
    }
    if (!DuplicateToken(token, SecurityIdentification, checking.put()))
        checking.reset();
    return checking;
}

bool grantsAddAndDelete(PSECURITY_DESCRIPTOR security, HANDLE token)
{
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    return security && token &&
           AccessCheck(security, token, FILE_ADD_FILE | FILE_DELETE_CHILD, &mapping, &privileges,
                       &privilegesSize, &granted, &allowed) &&
           allowed;
}

bool letsAddAndDelete(HANDLE folder, HANDLE token)
{
    const UniqueSecurity security =
        securityOf(folder, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                               DACL_SECURITY_INFORMATION);
    return grantsAddAndDelete(security.get(), token);
}
