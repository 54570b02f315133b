#pragma once

#include "common/unique_any.h"

#include <windows.h>

#include <memory>
#include <stdexcept>
#include <string>

// One elevated run per update folder at a time: a launcher started twice (a double
// click) starts two updaters, which would empty one log, walk one tree and race for
// every file.

inline void releaseAndClose(HANDLE mutex)
{
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
using OwnedMutex = UniqueAny<HANDLE, &releaseAndClose>;

// Closes a private namespace (resolved at run time: not every system has them).
void closePrivateNamespace(HANDLE space);
using UniqueNamespace = UniqueAny<HANDLE, &closePrivateNamespace>;

// The claim of one update folder: the mutex, and the namespace that holds its name,
// which must outlive it (with the namespace's last handle its names go).
struct UpdateFolderClaim {
    UniqueNamespace space;
    OwnedMutex mutex;
    // Where this run took over from one ended from outside: the claim made again by the
    // name as it resolves now. A private namespace can go with the run that made it, and
    // a later run would make a fresh one and find no claim in it.
    std::unique_ptr<UpdateFolderClaim> renewed;
};

// The name is taken by something that is not the mutex of an administrator's run (an
// object of another type, or one that another user made first): the run stops loudly
// rather than wait for ever or go on without exclusion.
class SingleRunRefused : public std::runtime_error {
public:
    explicit SingleRunRefused(DWORD code);
};

// Claims the update folder (named by its final path) for this run, for as long as the
// result lives. The mutex is named in a private namespace bound to the Administrators
// group, which no other user can create first; where the system has no private
// namespaces, in the global one, where the mutex's owner tells whether an
// administrator made it. When another run has the folder, waits until that one has
// ended and gives none (`anotherRunHadIt`): that run applied the update and started the
// launcher. When that run was ended from outside instead (the mutex abandoned), this
// run takes over, and claims the folder again by its name, so that every later run
// finds it. Throws SingleRunRefused.
UpdateFolderClaim claimUpdateFolder(const std::wstring& canonicalUpdateDir, bool& anotherRunHadIt);
