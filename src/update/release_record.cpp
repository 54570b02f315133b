#include "update/release_record.h"
#include "update/release_record_seams.h"

#include "common/unique_any.h"
#include "fs/file_identity.h"
#include "fs/fs_error.h"

namespace {

inline void closeKey(HKEY key)
{
    RegCloseKey(key);
}
using UniqueKey = UniqueAny<HKEY, &closeKey>;

[[noreturn]] void fail(LSTATUS status, const std::wstring& shownRoot)
{
    throw FileSystemError(operation::releaseRecord, static_cast<DWORD>(status), shownRoot);
}

} // namespace

std::wstring releaseRecordName(HANDLE root, const std::wstring& shownRoot)
{
    const std::wstring identity = identityOf(root);
    if (identity.empty())
        fail(static_cast<LSTATUS>(GetLastError()), shownRoot);
    return identity;
}

unsigned long long recordedRelease(HANDLE root, const std::wstring& shownRoot)
{
    const std::wstring name = releaseRecordName(root, shownRoot);
    UniqueKey key;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, releaseRecordKey, 0,
                                   KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put());
    if (status == ERROR_FILE_NOT_FOUND)
        return 0;
    if (status != ERROR_SUCCESS)
        fail(status, shownRoot);
    DWORD type = REG_NONE;
    unsigned long long release = 0;
    DWORD size = sizeof release;
    status = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(&release), &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return 0;
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && (type != REG_QWORD || size != 8)))
        fail(ERROR_INVALID_DATA, shownRoot);
    if (status != ERROR_SUCCESS)
        fail(status, shownRoot);
    return release;
}

void recordRelease(HANDLE root, const std::wstring& shownRoot, unsigned long long release)
{
    recordReleaseUnder(releaseRecordKey, root, shownRoot, release);
}

void recordReleaseUnder(const wchar_t* keyPath, HANDLE root, const std::wstring& shownRoot,
                        unsigned long long release)
{
    const std::wstring name = releaseRecordName(root, shownRoot);
    UniqueKey key;
    // Made by an administrator below HKLM\SOFTWARE: the access list it inherits lets
    // users read it, and only administrators and the system change it.
    LSTATUS status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key.get(), name.c_str(), 0, REG_QWORD,
                                reinterpret_cast<const BYTE*>(&release), sizeof release);
    // On the disk before the run says it is done, as the files are.
    if (status == ERROR_SUCCESS)
        status = RegFlushKey(key.get());
    if (status != ERROR_SUCCESS)
        fail(status, shownRoot);
}
