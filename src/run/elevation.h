#pragma once

#include <windows.h>

#include <string>

// True when the token this thread acts with is an enabled member of the built-in
// Administrators group. A group present for deny only (an administrator's process
// that has not been elevated) does not count; any failure means "no".
bool isRunningAsAdmin();

// The same question about another process's token (opened with TOKEN_QUERY and
// TOKEN_DUPLICATE).
bool isAdministratorToken(HANDLE token);

// Who is asked first: Windows for the elevated instance, or the user whether to ask
// Windows at all (a twin that Windows started without rights: asking again unasked
// would only start the same twin again, and that one the next, for ever).
enum class FirstAsk { Windows, User };

// Whether this instance, running without rights, is the twin that an earlier instance
// asked Windows for: its parent runs this executable (`parentImage`), or, since the
// first instance often ends before the twin looks (the launcher ended meanwhile), the
// mark that an asking instance leaves in its environment is in ours.
bool isUnelevatedTwin(const std::wstring& parentImage);

// Asks Windows for an elevated instance of this executable with the same arguments
// and working directory, and asks the user whether to try again while that is
// refused. Returns once a request was accepted or the user gave up. Leaves the mark of
// an asking instance in our environment first: a twin that Windows starts without
// rights (UAC off for a standard account) is created from it, as by CreateProcess; a
// truly elevated twin never reads it.
void relaunchElevated(FirstAsk first);
