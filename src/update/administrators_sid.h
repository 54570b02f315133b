#pragma once

#include <windows.h>

// The built-in Administrators group's SID: the owner of what the run creates below the
// root, so that it never had another owner.
struct AdministratorsSid {
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    bool made = false;
    AdministratorsSid()
    {
        DWORD size = sizeof sid;
        made = CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) != FALSE;
    }
    // None where it could not be made: what is created gets the token's default owner.
    PSID get() { return made ? static_cast<PSID>(sid) : nullptr; }
};
