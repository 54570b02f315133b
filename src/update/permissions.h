#pragma once

#include "common/unique_any.h"

#include <windows.h>

// The access list and owner that a file installed into one folder gets: the entries it
// inherits there, as a file created in that folder by the Administrators group would
// have them, and Administrators as owner. A move keeps the source's security, and the
// source was written by the user: an installed file that the user still owns, or that
// kept entries of the update folder, is a way back into a program run as
// administrator.
inline void destroyPrivateSecurity(PSECURITY_DESCRIPTOR descriptor)
{
    DestroyPrivateObjectSecurity(&descriptor);
}

struct FolderSecurity {
    // Made for the files of the folder; none when the folder's security is unknown.
    UniqueAny<PSECURITY_DESCRIPTOR, &destroyPrivateSecurity> file;
    PACL dacl = nullptr; // in `file`
};

// Computed once per folder from the security descriptor of the folder, open with
// READ_CONTROL. A volume without permissions (or a folder whose security cannot be
// read) gives no access list: the files then keep their own.
FolderSecurity securityForFilesIn(HANDLE folder);

// Gives an open file the folder's security: Administrators as owner and, where the
// folder's list is known, the entries inherited from it. Best effort.
bool applyFolderSecurity(HANDLE file, const FolderSecurity& security);
