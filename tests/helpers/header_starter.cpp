// Starts a program as a launcher starts the updater, through the launcher's header, and
// ends at once. Arguments: the root folder, the program's path. With
// QLU_INHERITABLE_FILE set, it first opens that file with an inheritable handle and
// names the handle in QLU_PROBE_HANDLE, for the program started to look for.
#include "common/unique_any.h"
#include "qorvath_updater.h"

#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    wchar_t marker[MAX_PATH] = {};
    UniqueFileHandle held;
    if (GetEnvironmentVariableW(L"QLU_INHERITABLE_FILE", marker, MAX_PATH) > 0) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        held.reset(CreateFileW(marker, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!held)
            return 3;
        SetEnvironmentVariableW(
            L"QLU_PROBE_HANDLE",
            std::to_wstring(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(held.get())))
                .c_str());
    }
    return qorvath::startUpdater(argv[1], argv[2]) == ERROR_SUCCESS ? 0 : 1;
}
