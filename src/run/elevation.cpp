#include "run/elevation.h"

#include "common/run_state.h"
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

std::wstring ownModulePath(size_t initialCapacity)
{
    std::wstring buffer(initialCapacity > 0 ? initialCapacity : 1, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
        // A path cut short fills the buffer to its end; it would never start.
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
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
        [] {
            return MessageBoxW(nullptr,
                               L"Для обновления лаунчера необходимы права администратора\n"
                               L"Нажмите ОК для повтора",
                               updaterTitle, MB_OKCANCEL | MB_ICONWARNING | MB_SETFOREGROUND);
        });
}
