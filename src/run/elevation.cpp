#include "run/elevation.h"

#include "run/environment.h"
#include "run/messages.h"
#include "common/unique_any.h"

#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>

bool isRunningAsAdmin()
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
        return false;
    UniqueAny<PSID, &FreeSid> sid(administrators);
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, sid.get(), &member))
        member = FALSE;
    return member != FALSE;
}

void relaunchElevated(const std::function<bool()>& request, const std::function<int()>& prompt)
{
    while (!request()) {
        if (prompt() != IDOK)
            return;
    }
}

void relaunchElevated()
{
    const std::wstring self = ownModulePath();
    relaunchElevated(
        [&self] {
            // The arguments exactly as they stood, so that the twin splits out the same.
            const wchar_t* const parameters = PathGetArgsW(GetCommandLineW());
            const HINSTANCE result =
                ShellExecuteW(nullptr, L"runas", self.c_str(), parameters, nullptr, SW_SHOWNORMAL);
            return reinterpret_cast<UINT_PTR>(result) > 32;
        },
        showRetryPrompt);
}
