#pragma once

#include "common/unique_any.h"

#include <windows.h>

// Whose rights bound where an update lands. A root that administrators installed (the
// root and its resources folder owned by Administrators, SYSTEM or TrustedInstaller)
// takes the update anywhere below it: that is what the administrator's run is for. Any
// other root is one that a user made, and may have made to borrow our rights (a
// resources\update of their own in C:\ProgramData, say, with a copy of the signed
// updater in it, one consent away from writing into another vendor's folder there): the
// run then installs only into folders where the user who started it could add and
// delete files without us.

// Whether Administrators, SYSTEM or TrustedInstaller own the folder (its handle must
// allow READ_CONTROL).
bool isOwnedByAdministrators(HANDLE folder);
bool ownerIsAdministrators(PSECURITY_DESCRIPTOR security);

// An identification token for access checks with `starterToken`'s rights; with our own
// where the starter's is none, its Administrators membership for denying only (what our
// user could do without elevation). None when it cannot be made.
UniqueHandle accessCheckTokenOf(HANDLE starterToken);

// Whether `token` (from accessCheckTokenOf) may add files to the folder and delete files
// in it (its handle must allow READ_CONTROL).
bool letsAddAndDelete(HANDLE folder, HANDLE token);
bool grantsAddAndDelete(PSECURITY_DESCRIPTOR security, HANDLE token);
