#include "run/elevation.h"

#include "run/elevation_seams.h"

#include "common/unique_any.h"
#include "run/com_apartment.h"
#include "run/environment.h"
#include "run/messages.h"

#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>

namespace {

// `token`: an impersonation token, or null for the one this thread acts with.
bool isAdministratorsMember(HANDLE token)
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueAny<PSID, &FreeSid> administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, administrators.put()))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(token, administrators.get(), &member))
        member = FALSE;
    return member != FALSE;
}

} // namespace

bool isRunningAsAdmin()
{
    return isAdministratorsMember(nullptr);
}

bool isAdministratorToken(HANDLE token)
{
    // CheckTokenMembership takes an impersonation token only.
    UniqueHandle impersonation;
    return DuplicateToken(token, SecurityIdentification, impersonation.put()) &&
           isAdministratorsMember(impersonation.get());
}

void relaunchElevated(const std::function<bool()>& request, const std::function<int()>& prompt,
                      FirstAsk first)
{
    if (first == FirstAsk::User && prompt() != IDOK)
        return;
    while (!request()) {
        if (prompt() != IDOK)
            return;
    }
}

namespace {

// Its value does not matter: it is only there or not.
constexpr wchar_t askingInstanceMark[] = L"QORVATH_UPDATER_ASKED_FOR_ELEVATION";

} // namespace

bool isUnelevatedTwin(const std::wstring& parentImage)
{
    return isOwnExecutable(parentImage) ||
           GetEnvironmentVariableW(askingInstanceMark, nullptr, 0) != 0;
}

void relaunchElevated(FirstAsk first)
{
    SetEnvironmentVariableW(askingInstanceMark, L"1");
    const std::wstring self = ownModulePath();
    // Passed on explicitly: the twin checks it, and the system need not keep ours.
    const std::wstring folder = currentDirectory();
    relaunchElevated(
        [&self, &folder] {
            // The arguments exactly as they stood, so that the twin splits out the same.
            const wchar_t* const parameters = PathGetArgsW(GetCommandLineW());
            const ComApartment apartment = enterComApartment(); // for the shell's call only
            const HINSTANCE result = ShellExecuteW(nullptr, L"runas", self.c_str(), parameters,
                                                   folder.c_str(), SW_SHOWNORMAL);
            return reinterpret_cast<UINT_PTR>(result) > 32;
        },
        showRetryPrompt, first);
}
