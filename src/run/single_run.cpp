#include "run/single_run.h"
#include "run/single_run_seams.h"

#include "fs/fs_error.h"
#include "fs/path_text.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <cwchar>

// The folder's final path, in upper case (names compare without regard to case),
// hashed into the name: a name may hold no backslash and is limited in length.
std::wstring mutexName(const std::wstring& canonicalUpdateDir)
{
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (const wchar_t c : caseFoldedKey(canonicalUpdateDir)) {
        hash ^= static_cast<std::uint64_t>(c);
        hash *= 1099511628211ull;
    }
    wchar_t text[17];
    std::swprintf(text, 17, L"%016llx", static_cast<unsigned long long>(hash));
    return L"Qorvath Launcher Updater " + std::wstring(text);
}

namespace {

// Windows Vista's private namespace calls, looked up at run time: a system without them
// (Wine answers CreateBoundaryDescriptorW with null and has no AddSIDToBoundaryDescriptor)
// keeps the global name.
template <typename Function> Function kernel32Function(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

inline void deleteBoundary(HANDLE boundary)
{
    using Delete = VOID(WINAPI*)(HANDLE);
    if (const auto remove = kernel32Function<Delete>("DeleteBoundaryDescriptor"))
        remove(boundary);
}
using UniqueBoundary = UniqueAny<HANDLE, &deleteBoundary>;
using UniqueLocalDescriptor = UniqueAny<PSECURITY_DESCRIPTOR, &LocalFree>;

// Administrators and the system, and nobody else: for the namespace and the mutex.
constexpr wchar_t administratorsOnly[] = L"O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)";

constexpr wchar_t namespaceAlias[] = L"Qorvath Launcher Updater";

// The namespace bound to the Administrators group, created or opened; none where the
// system has no private namespaces.
UniqueNamespace administratorsNamespace(SECURITY_ATTRIBUTES& security)
{
    using CreateBoundary = HANDLE(WINAPI*)(LPCWSTR, ULONG);
    using AddSid = BOOL(WINAPI*)(HANDLE*, PSID);
    using CreateSpace = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
    using OpenSpace = HANDLE(WINAPI*)(LPVOID, LPCWSTR);
    const auto createBoundary = kernel32Function<CreateBoundary>("CreateBoundaryDescriptorW");
    const auto addSid = kernel32Function<AddSid>("AddSIDToBoundaryDescriptor");
    const auto createSpace = kernel32Function<CreateSpace>("CreatePrivateNamespaceW");
    const auto openSpace = kernel32Function<OpenSpace>("OpenPrivateNamespaceW");
    if (!createBoundary || !addSid || !createSpace || !openSpace)
        return {};
    UniqueBoundary boundary(createBoundary(namespaceAlias, 0));
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    if (!boundary ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size))
        return {};
    HANDLE descriptor = boundary.release(); // AddSIDToBoundaryDescriptor may move it
    const BOOL added = addSid(&descriptor, administrators);
    boundary.reset(descriptor);
    if (!added)
        return {};
    UniqueNamespace space(createSpace(&security, boundary.get(), namespaceAlias));
    if (!space && GetLastError() == ERROR_ALREADY_EXISTS)
        space.reset(openSpace(boundary.get(), namespaceAlias));
    return space;
}

// Whether the mutex that somebody else made first is an administrator's: owned by the
// Administrators group, the system, or the owner our own objects get.
bool madeByAnAdministrator(HANDLE mutex)
{
    UniqueLocalDescriptor descriptor;
    PSID owner = nullptr;
    if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, descriptor.put()) != ERROR_SUCCESS ||
        !owner)
        return false;
    if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
        IsWellKnownSid(owner, WinLocalSystemSid))
        return true;
    UniqueHandle token;
    BYTE buffer[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) &&
           GetTokenInformation(token.get(), TokenOwner, buffer, sizeof buffer, &size) &&
           EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner);
}

} // namespace

void closePrivateNamespace(HANDLE space)
{
    using Close = BOOLEAN(WINAPI*)(HANDLE, ULONG);
    if (const auto close = kernel32Function<Close>("ClosePrivateNamespace"))
        close(space, 0);
}

SingleRunRefused::SingleRunRefused(DWORD code)
    : std::runtime_error("single run: " + systemMessage(code))
{
}

UpdateFolderClaim claimUpdateFolder(const std::wstring& canonicalUpdateDir, bool& anotherRunHadIt)
{
    anotherRunHadIt = false;
    UpdateFolderClaim claim;
    UniqueHandle mutex;
    // Owned by Administrators where our token may say so, else by our default owner.
    for (const wchar_t* const sddl : {administratorsOnly, administratorsOnly + 4}) {
        UniqueLocalDescriptor descriptor;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                  descriptor.put(), nullptr))
            throw SingleRunRefused(GetLastError());
        SECURITY_ATTRIBUTES security = {sizeof security, descriptor.get(), FALSE};
        if (!claim.space)
            claim.space = administratorsNamespace(security);
        // Global: the elevated instances of two sessions (another user's launcher) share it.
        const std::wstring name =
            (claim.space ? std::wstring(namespaceAlias) + L"\\" : L"Global\\") +
            mutexName(canonicalUpdateDir);
        mutex.reset(CreateMutexW(&security, FALSE, name.c_str()));
        if (mutex || GetLastError() != ERROR_INVALID_OWNER)
            break;
    }
    if (!mutex) // another type of object (ERROR_INVALID_HANDLE), or one we may not use
        throw SingleRunRefused(GetLastError());
    if (GetLastError() == ERROR_ALREADY_EXISTS && !claim.space &&
        !madeByAnAdministrator(mutex.get()))
        throw SingleRunRefused(ERROR_ACCESS_DENIED);
    DWORD result = WaitForSingleObject(mutex.get(), 0);
    if (result == WAIT_TIMEOUT) {
        result = WaitForSingleObject(mutex.get(), INFINITE);
        if (result == WAIT_OBJECT_0) {
            // That run has ended and done its work.
            ReleaseMutex(mutex.get());
            anotherRunHadIt = true;
            return {};
        }
    }
    // Abandoned: a run that was ended from outside; its files are where it left them,
    // and this run applies the rest.
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED)
        throw SingleRunRefused(GetLastError());
    claim.mutex.reset(mutex.release());
    if (result == WAIT_ABANDONED) {
        // That run may have made the namespace, which went with it. The name resolves to
        // our mutex again (a mutex is taken again by its owner), or to a fresh one, which
        // is ours too unless a run that started meanwhile has it: then that one applies
        // the update, and this run ends as for any run that found the folder taken.
        claim.renewed = std::make_unique<UpdateFolderClaim>(
            claimUpdateFolder(canonicalUpdateDir, anotherRunHadIt));
        if (anotherRunHadIt)
            return {};
    }
    return claim;
}
