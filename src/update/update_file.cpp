#include "update/update_file.h"

#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"
#include "update/tries.h"

namespace {

// Readers may stay, writers may not. Attribute access too where the file allows it
// (Wine refuses it on a read-only file), so that a read-only update file can be deleted
// where the system has no deletion that ignores the attribute.
OpenedFile openForInstall(const std::wstring& exact)
{
    constexpr DWORD access = DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    OpenedFile file;
    for (const DWORD attributes : {DWORD{FILE_WRITE_ATTRIBUTES}, DWORD{0}}) {
        file.handle.reset(CreateFileW(exact.c_str(), access | attributes,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        file.error = file.handle ? ERROR_SUCCESS : GetLastError();
        if (!isRefusal(file.error))
            break;
    }
    return file;
}

} // namespace

UpdateFile openUpdateFile(const std::wstring& exact, const std::wstring& shown,
                          const std::wstring& canonicalFolder, const std::wstring& name)
{
    UpdateFile file{exact, shown, appendPath(canonicalFolder, name), false, {}};
    OpenedFile opened = openForInstall(exact);
    if (opened.handle && isPlainFileAt(opened.handle.get(), exact, file.canonical)) {
        file.ours = true;
        file.opened = std::move(opened.handle);
        return file;
    }
    // Refused outright (its owner has denied administrators): never moved by a name
    // that could be pointed elsewhere meanwhile.
    if (!opened.handle && opened.error != ERROR_SHARING_VIOLATION)
        throw FileSystemError(operation::rename, opened.error, shown);
    opened.handle.reset();
    // A link, a shared name, or a file that another program holds: only looked at.
    const UniqueFileHandle look = openToLook(exact, operation::weaklyCanonical, shown);
    if (!look)
        return file; // a link whose target is gone
    const std::wstring leadsTo = withRequestedNames(finalPathOf(look.get(), shown), exact);
    file.ours = opened.error == ERROR_SHARING_VIOLATION && sameFinalPath(leadsTo, file.canonical) &&
                isPlainSingleFile(look.get());
    file.canonical = leadsTo;
    return file;
}

UniqueFileHandle reopen(const UpdateFile& file)
{
    OpenedFile again = openForInstall(file.exact);
    if (again.handle && !isPlainFileAt(again.handle.get(), file.exact, file.canonical))
        again.handle.reset();
    return std::move(again.handle);
}
