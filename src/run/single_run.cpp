#include "run/single_run.h"

#include "fs/path_text.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>

namespace {

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
    // Global: the elevated instances of two sessions (another user's launcher) share it.
    return L"Global\\Qorvath Launcher Updater " + std::wstring(text);
}

} // namespace

OwnedMutex claimUpdateFolder(const std::wstring& canonicalUpdateDir, bool& anotherRunHadIt)
{
    anotherRunHadIt = false;
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, mutexName(canonicalUpdateDir).c_str()));
    if (!mutex)
        return {};
    const DWORD result = WaitForSingleObject(mutex.get(), 0);
    // Abandoned: a run that was ended from outside; its files are where it left them,
    // and this run takes over.
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
        return OwnedMutex(mutex.release());
    anotherRunHadIt = true;
    WaitForSingleObject(mutex.get(), INFINITE);
    ReleaseMutex(mutex.get());
    return {};
}
