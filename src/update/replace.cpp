#include "update/replace.h"

#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"
#include "log/run_log.h"
#include "update/durability.h"
#include "update/in_folder.h"
#include "update/replace_seams.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int lastTry = 3;
constexpr std::chrono::milliseconds pauseBetweenTries{500};

bool isRefusal(DWORD code)
{
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
}

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
bool isWritable(const Destination& dest, bool& readOnly)
{
    readOnly = false;
    if (!dest.folder)
        return true; // nothing can stand in a folder that is not there: the install says so
    DWORD error = ERROR_SUCCESS;
    if (openInFolder(dest.folder, dest.name, GENERIC_WRITE, 0, Disposition::OpenExisting, error))
        return true;
    if (error == ERROR_ACCESS_DENIED) {
        const UniqueFileHandle file = openInFolder(dest.folder, dest.name, FILE_READ_ATTRIBUTES,
                                                   shareAll, Disposition::OpenExisting, error);
        readOnly = file && (attributesOf(file.get()) & FILE_ATTRIBUTE_READONLY);
        if (readOnly)
            return openInFolder(dest.folder, dest.name, DELETE, 0, Disposition::OpenExisting,
                                error) ||
                   !isRefusal(error);
    }
    return !isRefusal(error);
}

void pause()
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + pauseBetweenTries;
    for (Clock::time_point now = Clock::now(); now < deadline; now = Clock::now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        Sleep(static_cast<DWORD>(left.count()));
    }
}

[[noreturn]] void throwMoveError(DWORD code, const Destination& dest)
{
    throw FileSystemError(operation::rename, code, dest.shown, FileSystemError::Shown::WithoutPath);
}

// A copy that is not (yet) installed: deleted when its owner lets it go.
void discardCopy(HANDLE copy)
{
    deleteOpened(copy);
    CloseHandle(copy);
}
using UniqueCopy = UniqueAny<HANDLE, &discardCopy, static_cast<std::uintptr_t>(-1)>;

// Names that no file of a game bears: "<marker><process>-<attempt>.new".
constexpr wchar_t copyMarker[] = L".qorvath-updater-";
constexpr wchar_t copySuffix[] = L".new";

std::wstring copyName(DWORD process, unsigned attempt)
{
    return copyMarker + std::to_wstring(process) + L"-" + std::to_wstring(attempt) + copySuffix;
}

bool isCopyName(const std::wstring& found)
{
    const std::wstring marker = copyMarker;
    const std::wstring suffix = copySuffix;
    if (found.size() <= marker.size() + suffix.size() || found.compare(0, marker.size(), marker) ||
        found.compare(found.size() - suffix.size(), suffix.size(), suffix))
        return false;
    const std::wstring middle =
        found.substr(marker.size(), found.size() - marker.size() - suffix.size());
    const size_t dash = middle.find(L'-');
    return dash != std::wstring::npos && dash > 0 && dash + 1 < middle.size() &&
           middle.find_first_not_of(L"0123456789-") == std::wstring::npos &&
           middle.find(L'-', dash + 1) == std::wstring::npos;
}

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

// A new file of ours beside dest, under a name that nobody else's file bears (one that
// is taken is left alone), owned by Administrators and with the access list that the
// folder passes on: the installed file never had another owner.
UniqueCopy createCopy(const Destination& dest)
{
    AdministratorsSid administrators;
    for (unsigned attempt = 0;; ++attempt) {
        DWORD error = ERROR_SUCCESS;
        UniqueFileHandle copy = openInFolder(dest.folder, copyName(GetCurrentProcessId(), attempt),
                                             GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                             Disposition::CreateNew, error, administrators.get());
        if (copy)
            return UniqueCopy(copy.release());
        const bool nameTaken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        if (!nameTaken || attempt == 100)
            throwMoveError(error, dest);
    }
}

// Copies the whole data through the two handles, hashing it on the way where `hash` is
// given; false with the thread's last error. `buffer` serves file after file: a fresh
// block for each would cost its page faults every time, as much as the copy itself for
// files of a megabyte. `copied` counts the bytes.
bool copyContent(HANDLE from, HANDLE to, std::vector<char>& buffer, BCRYPT_HASH_HANDLE hash,
                 unsigned long long& copied)
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
        if (!ReadFile(from, buffer.data(), static_cast<DWORD>(capacity), &read, nullptr))
            return false;
        if (read == 0)
            return true;
        if (hash && !addToHash(hash, buffer.data(), read)) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return false;
        }
        DWORD written = 0;
        if (!WriteFile(to, buffer.data(), read, &written, nullptr) || written != read)
            return false;
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
DWORD renameOverDest(HANDLE copy, const Destination& dest, bool readOnly)
{
    if (const std::optional<DWORD> answer = renameReplacingAnyFile(copy, dest.folder, dest.name))
        return *answer;
    const DWORD cleared = readOnly ? clearReadOnlyOfDest(dest) : 0;
    const DWORD error = renameReplacing(copy, dest.folder, dest.name);
    if (error != ERROR_SUCCESS && cleared != 0)
        restoreAttributesOfDest(dest, cleared);
    return error;
}

// One try of the install: the old file stays at dest whenever the new one does not
// arrive, and the copy goes then. Gives ERROR_SUCCESS, or the code of a refusal (dest
// open in another program) for the next try; throws on any other failure.
DWORD tryInstall(HANDLE updateFile, const Destination& dest, bool readOnly,
                 std::vector<char>& buffer, const ListedFile* signedAs, BCRYPT_ALG_HANDLE sha256)
{
    if (!dest.folder)
        throwMoveError(dest.folderError, dest);
    UniqueCopy copy = createCopy(dest);
    const UniqueHash hash = signedAs ? startSha256(sha256) : UniqueHash();
    unsigned long long copied = 0;
    if ((signedAs && !hash) || !copyContent(updateFile, copy.get(), buffer, hash.get(), copied) ||
        !flushFile(copy.get()))
        throwMoveError(GetLastError(), dest); // a full disk: the old file stays
    // The bytes checked are the bytes written: nobody writes into the update file meanwhile
    // (its handle shares no writes), and the copy is ours alone.
    if (signedAs && !isAsSigned(*signedAs, hash.get(), copied))
        throw FileSystemError(operation::signedList, ERROR_INVALID_DATA, dest.shown,
                              FileSystemError::Shown::WithoutPath);
    const DWORD error = renameOverDest(copy.get(), dest, readOnly);
    if (error != ERROR_SUCCESS) {
        if (isRefusal(error))
            return error;
        throwMoveError(error, dest);
    }
    const UniqueFileHandle installed(copy.release());
    // Times and attributes as the update file has them, once the copy is dest: a
    // read-only copy could not have been deleted had the rename failed.
    FILE_BASIC_INFO basic;
    if (GetFileInformationByHandleEx(updateFile, FileBasicInfo, &basic, sizeof basic)) {
        basic.ChangeTime.QuadPart = 0;
        SetFileInformationByHandle(installed.get(), FileBasicInfo, &basic, sizeof basic);
    }
    // The new file is in place; an update file that stayed behind would be installed
    // again by the next run.
    if (!deleteOpened(updateFile))
        throw FileSystemError(operation::remove, GetLastError(), dest.shown,
                              FileSystemError::Shown::WithoutPath);
    return ERROR_SUCCESS;
}

} // namespace

namespace {

// What stands at dest, opened for its attributes, when it is dest's own file: a plain
// file with one name, where dest leads (another name of a file elsewhere, or a link,
// gives none).
UniqueFileHandle openDestsOwnFile(const Destination& dest)
{
    DWORD error = ERROR_SUCCESS;
    UniqueFileHandle old =
        openInFolder(dest.folder, dest.name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, shareAll,
                     Disposition::OpenExisting, error);
    if (old && !isPlainFileAt(old.get(), dest.exact, dest.canonical))
        old.reset();
    return old;
}

} // namespace

// Only where the system has no rename that ignores the read-only attribute: a read-only
// dest loses the attribute for the rename, through a handle on dest's own file, closed
// before the rename, which any open handle on dest would fail.
DWORD clearReadOnlyOfDest(const Destination& dest)
{
    const UniqueFileHandle old = openDestsOwnFile(dest);
    const DWORD attributes = old ? attributesOf(old.get()) : 0;
    if (!(attributes & FILE_ATTRIBUTE_READONLY) ||
        !setAttributesOf(old.get(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}))
        return 0;
    return attributes;
}

void restoreAttributesOfDest(const Destination& dest, DWORD attributes)
{
    if (const UniqueFileHandle old = openDestsOwnFile(dest))
        setAttributesOf(old.get(), attributes);
}

void replaceFile(const Destination& dest, UniqueFileHandle updateFile,
                 const OpenUpdateFile& openUpdateFile, std::vector<char>& copyBuffer,
                 const ListedFile* signedAs, BCRYPT_ALG_HANDLE sha256)
{
    for (int tries = 0;; ++tries) {
        // Holding the update file, opened for deletion and sharing no writes, nobody
        // writes into it any more: whoever opens it after us has to let it be deleted
        // and may only read.
        if (!updateFile)
            updateFile = openUpdateFile();
        bool readOnly = false;
        if (updateFile && isWritable(dest, readOnly)) {
            // Two lines for the one replacing install: readers of earlier logs know them.
            logLine("Remove it");
            logLine("Move it");
            if (tryInstall(updateFile.get(), dest, readOnly, copyBuffer, signedAs, sha256) ==
                ERROR_SUCCESS)
                return;
        }
        logNumber("File not writable!! Tries: ", tries);
        if (tries == lastTry)
            throw FileLocked{dest.shown};
        pause();
    }
}

void removeCopiesLeftIn(HANDLE folder, const std::wstring& exactFolder,
                        const std::wstring& canonicalFolder)
{
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle find(FindFirstFileExW(
        appendPath(exactFolder, std::wstring(copyMarker) + L"*" + copySuffix).c_str(),
        FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    for (BOOL more = static_cast<bool>(find); more; more = FindNextFileW(find.get(), &entry)) {
        const std::wstring name = entry.cFileName;
        if (!isCopyName(name))
            continue;
        DWORD error = ERROR_SUCCESS;
        const UniqueFileHandle copy =
            openInFolder(folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                         shareAll, Disposition::OpenExisting, error);
        // Wine follows a link at the name all the same: where the handle leads decides.
        if (copy && isPlainFileAt(copy.get(), appendPath(exactFolder, name),
                                  appendPath(canonicalFolder, name)))
            deleteOpened(copy.get());
    }
}
