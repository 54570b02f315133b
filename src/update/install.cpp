#include "update/install.h"

#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"
#include "log/log_words.h"
#include "log/run_log.h"
#include "update/administrators_sid.h"
#include "update/in_folder.h"
#include "update/install_seams.h"
#include "update/tries.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

DWORD attributesOf(HANDLE file)
{
    FILE_BASIC_INFO basic;
    return GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)
               ? basic.FileAttributes
               : 0;
}

// dest is writable when it opens for writing with no sharing at all, or when there is
// nothing there; only a refusal (access denied, sharing violation) stands in the way.
// A link at dest is looked at itself: the rename replaces the name, never its target.
// The read-only attribute refuses every writer but is no obstacle: the file is being
// replaced; whether another program holds it is then asked with delete access, which
// the attribute does not refuse. `readOnly` tells whether dest is read-only.
bool isWritable(const HeldFolder& folder, const std::wstring& name, bool& readOnly)
{
    readOnly = false;
    if (!folder.handle)
        return true; // nothing can stand in a folder that is not there: the install says so
    const auto open = [&](ACCESS_MASK access, DWORD share) {
        return openInFolder(folder.handle.get(), name, access, share, Disposition::OpenExisting);
    };
    const OpenedFile writer = open(GENERIC_WRITE, 0);
    if (writer.handle || writer.error != ERROR_ACCESS_DENIED)
        return writer.handle || !isRefusal(writer.error);
    const OpenedFile looked = open(FILE_READ_ATTRIBUTES, shareAll);
    readOnly = looked.handle && (attributesOf(looked.handle.get()) & FILE_ATTRIBUTE_READONLY);
    if (!readOnly)
        return false;
    const OpenedFile deleter = open(DELETE, 0);
    return deleter.handle || !isRefusal(deleter.error);
}

[[noreturn]] void throwMoveError(DWORD code, const HeldFolder& folder, const std::wstring& name)
{
    throw FileSystemError(operation::rename, code, shownIn(folder, name));
}

// A copy that is not (yet) installed: deleted when its owner lets it go.
void discardCopy(HANDLE copy)
{
    deleteOpened(copy);
    CloseHandle(copy);
}
using UniqueCopy = UniqueAny<HANDLE, &discardCopy, static_cast<std::uintptr_t>(-1)>;

// A new file of ours beside dest, under a name that nobody else's file bears (one that
// is taken is left alone), owned by Administrators and with the access list that the
// folder passes on: the installed file never had another owner.
UniqueCopy createCopy(const HeldFolder& folder, const std::wstring& name)
{
    AdministratorsSid administrators;
    for (unsigned attempt = 0;; ++attempt) {
        OpenedFile copy = openInFolder(
            folder.handle.get(), copyName(GetCurrentProcessId(), attempt),
            GENERIC_READ | GENERIC_WRITE | DELETE, 0, Disposition::CreateNew, administrators.get());
        if (copy.handle)
            return UniqueCopy(copy.handle.release());
        const bool nameTaken =
            copy.error == ERROR_FILE_EXISTS || copy.error == ERROR_ALREADY_EXISTS;
        if (!nameTaken || attempt == 100)
            throwMoveError(copy.error, folder, name);
    }
}

// Copies the data through the two handles, up to `limit` bytes, hashing it on the way
// where `hash` is given; false with the thread's last error. `buffer` serves file after
// file: a fresh block for each would cost its page faults every time, as much as the copy
// itself for files of a megabyte. `copied` counts the bytes.
bool copyContent(HANDLE from, HANDLE to, std::vector<char>& buffer, BCRYPT_HASH_HANDLE hash,
                 unsigned long long limit, unsigned long long& copied)
{
    copied = 0;
    LARGE_INTEGER start = {};
    LARGE_INTEGER size = {};
    if (!SetFilePointerEx(from, start, nullptr, FILE_BEGIN) || !GetFileSizeEx(from, &size))
        return false;
    // As large as the file, up to 1 MiB: most files of an update are small.
    constexpr LONGLONG most = 1 << 20;
    const size_t capacity = static_cast<size_t>(size.QuadPart < most ? size.QuadPart + 1 : most);
    if (buffer.size() < capacity)
        buffer.resize(capacity);
    for (;;) {
        DWORD read = 0;
        const DWORD wanted = static_cast<DWORD>(
            limit - copied < capacity ? limit - copied : static_cast<unsigned long long>(capacity));
        if (!ReadFile(from, buffer.data(), wanted, &read, nullptr))
            return false;
        if (read == 0)
            return true;
        if (hash && !addToHash(hash, buffer.data(), read)) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return false;
        }
        DWORD written = 0;
        if (!WriteFile(to, buffer.data(), read, &written, nullptr))
            return false;
        // A write cut short leaves the last error of some earlier call: the volume is full.
        if (written != read) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        copied += read;
    }
}

// Whether the bytes copied are those the publisher signed.
bool isAsSigned(const ListedFile& signedAs, BCRYPT_HASH_HANDLE hash, unsigned long long copied)
{
    std::array<unsigned char, 32> digest;
    return copied == signedAs.size && finishSha256(hash, digest) && digest == signedAs.digest;
}

// The copy takes dest's name in one step. Gives ERROR_SUCCESS or the Windows code.
DWORD renameOverDest(HANDLE copy, const HeldFolder& folder, const std::wstring& name, bool readOnly)
{
    if (const std::optional<DWORD> answer = renameReplacingAnyFile(copy, folder.handle.get(), name))
        return *answer;
    return readOnly ? renameOverReadOnlyDest(copy, folder, name)
                    : renameReplacing(copy, folder.handle.get(), name);
}

// One try of the install: the old file stays at dest whenever the new one does not
// arrive, and the copy goes then. Gives ERROR_SUCCESS, or the code of a refusal (dest
// open in another program) for the next try; throws on any other failure.
DWORD tryInstall(HANDLE updateFile, const HeldFolder& folder, const std::wstring& name,
                 bool readOnly, const ListedFile* signedAs, InstallContext& context)
{
    if (!folder.handle)
        throwMoveError(folder.openError, folder, name);
    // A listed file of another size is refused before its copy, which never grows past the
    // listed size: a stand-in of any size (a sparse one, say) takes no room in the root.
    LARGE_INTEGER size = {};
    if (signedAs && (!GetFileSizeEx(updateFile, &size) ||
                     static_cast<unsigned long long>(size.QuadPart) != signedAs->size))
        throw FileSystemError(operation::signedList, ERROR_INVALID_DATA, shownIn(folder, name));
    UniqueCopy copy = createCopy(folder, name);
    const UniqueHash hash = signedAs ? startSha256(context.sha256) : UniqueHash();
    const unsigned long long limit = signedAs ? signedAs->size : ~0ull;
    unsigned long long copied = 0;
    if ((signedAs && !hash) ||
        !copyContent(updateFile, copy.get(), context.copyBuffer, hash.get(), limit, copied) ||
        !context.durability.flushFile(copy.get()))
        throwMoveError(GetLastError(), folder, name); // a full disk: the old file stays
    // The bytes checked are the bytes written: nobody writes into the update file meanwhile
    // (its handle shares no writes), and the copy is ours alone.
    if (signedAs && !isAsSigned(*signedAs, hash.get(), copied))
        throw FileSystemError(operation::signedList, ERROR_INVALID_DATA, shownIn(folder, name));
    const DWORD error = renameOverDest(copy.get(), folder, name, readOnly);
    if (error != ERROR_SUCCESS) {
        if (isRefusal(error))
            return error;
        throwMoveError(error, folder, name);
    }
    const UniqueFileHandle installed(copy.release());
    // Times and attributes as the update file has them, once the copy is dest: a
    // read-only copy could not have been deleted had the rename failed.
    FILE_BASIC_INFO basic;
    if (GetFileInformationByHandleEx(updateFile, FileBasicInfo, &basic, sizeof basic)) {
        basic.ChangeTime.QuadPart = 0;
        SetFileInformationByHandle(installed.get(), FileBasicInfo, &basic, sizeof basic);
    }
    return ERROR_SUCCESS;
}

bool onOneVolume(HANDLE a, HANDLE b)
{
    DWORD first = 0;
    DWORD second = 0;
    return GetVolumeInformationByHandleW(a, nullptr, 0, &first, nullptr, nullptr, nullptr, 0) &&
           GetVolumeInformationByHandleW(b, nullptr, 0, &second, nullptr, nullptr, nullptr, 0) &&
           first == second;
}

// The new file is in place; an update file that stayed behind would be installed again
// by the next run. One on another volume than dest goes once dest's volume is flushed.
void removeUpdateFile(UniqueFileHandle file, const HeldFolder& folder, const std::wstring& name,
                      Durability& durability)
{
    if (!onOneVolume(file.get(), folder.handle.get()))
        durability.deleteAfterFlush.emplace_back(std::move(file), shownIn(folder, name));
    else if (!deleteOpened(file.get()))
        throw FileSystemError(operation::remove, GetLastError(), shownIn(folder, name));
}

// What stands at dest, opened for its attributes, when it is dest's own file.
UniqueFileHandle openDestsOwnFile(const HeldFolder& folder, const std::wstring& name)
{
    OpenedFile old =
        openInFolder(folder.handle.get(), name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                     shareAll, Disposition::OpenExisting);
    if (old.handle && !isPlainFileIn(folder, name, old.handle.get()))
        old.handle.reset();
    return std::move(old.handle);
}

} // namespace

// The attribute is cleared through a handle on dest's own file, closed before the rename,
// which any open handle on dest would fail; and put back through another such handle.
DWORD renameOverReadOnlyDest(HANDLE copy, const HeldFolder& folder, const std::wstring& name)
{
    DWORD cleared = 0;
    if (const UniqueFileHandle old = openDestsOwnFile(folder, name)) {
        const DWORD attributes = attributesOf(old.get());
        if ((attributes & FILE_ATTRIBUTE_READONLY) &&
            setAttributesOf(old.get(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}))
            cleared = attributes;
    }
    const DWORD error = renameReplacing(copy, folder.handle.get(), name);
    if (error != ERROR_SUCCESS && cleared != 0) {
        if (const UniqueFileHandle old = openDestsOwnFile(folder, name))
            setAttributesOf(old.get(), cleared);
    }
    return error;
}

FileLocked::FileLocked(std::wstring dest)
    : std::runtime_error("file stayed locked"), dest_(std::move(dest))
{
}

void installFile(const HeldFolder& folder, const std::wstring& name, UpdateFile file,
                 const ListedFile* signedAs, InstallContext& context)
{
    for (int tries = 0;; ++tries) {
        // Holding the update file, opened for deletion and sharing no writes, nobody
        // writes into it any more: whoever opens it after us has to let it be deleted
        // and may only read.
        if (!file.opened)
            file.opened = reopen(file);
        bool readOnly = false;
        if (file.opened && isWritable(folder, name, readOnly)) {
            // Two lines for the one replacing install: readers of earlier logs know them.
            logLine(words::removeIt);
            logLine(words::moveIt);
            if (tryInstall(file.opened.get(), folder, name, readOnly, signedAs, context) ==
                ERROR_SUCCESS)
                return removeUpdateFile(std::move(file.opened), folder, name, context.durability);
        }
        logNumber(words::notWritable, tries);
        if (tries == lastTry)
            throw FileLocked(shownIn(folder, name));
        pauseBeforeNextTry();
    }
}
