#pragma once

#include <windows.h>

#include <string>

// Path algebra on Windows paths held as UTF-16 text. "\" and "/" are both
// separators; a root name is a drive ("C:") or a server ("\\server").

// The last element of a path.
std::wstring fileName(const std::wstring& path);

// The file name without its extension: the extension runs from the last "." to the
// end, but a leading "." never starts one, "." and ".." are their own stems, and a
// final "." is dropped ("Updater." has the stem "Updater").
std::wstring fileStem(const std::wstring& name);

// base, then one "\" unless base is empty, is exactly a drive ("X:") or already ends
// in a separator, then name. The join for a plain relative name.
std::wstring appendPath(const std::wstring& base, const std::wstring& name);

// The general join: a relative path that is empty, or begins with a drive or a
// separator, follows the full rules of path appending (an absolute path or another
// root name replaces base, a root directory keeps only base's root name); any other
// path is appended as by appendPath.
std::wstring joinPath(const std::wstring& base, const std::wstring& relative);

// path made lexically relative to base: common leading elements dropped, one ".."
// for each remaining element of base, then the rest of path. Empty when the two
// cannot be related (different root names, one absolute and the other not); "."
// when they are the same.
std::wstring lexicallyRelative(const std::wstring& path, const std::wstring& base);

// True when a relative path names something strictly below the folder it is joined
// to: not empty, not rooted, no drive, no "." or ".." element.
bool staysBelow(const std::wstring& relative);

// True when a final path names something strictly below a folder's final path.
bool liesBelow(const std::wstring& finalPath, const std::wstring& folder);

// Opened beside everybody: others may go on reading, writing and deleting the file
// while we look at it.
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The part of the path that exists, resolved through the file system to its final
// form (links and junctions followed, letter case and long names as stored, no
// "\\?\" prefix), then the rest appended with "." and ".." resolved lexically.
// Throws FileSystemError "weakly_canonical".
std::wstring weaklyCanonical(const std::wstring& path);

// The absolute form of a path, "." and ".." resolved lexically against the current
// folder. Throws FileSystemError "weakly_canonical".
std::wstring fullPath(const std::wstring& path);

// The form of a path that Win32 passes to the file system exactly as written:
// "\\?\C:\..." or "\\?\UNC\server\share\...", made from the full path. Win32
// rewrites ordinary paths (a trailing dot or blank dropped, "CON" taken for a device,
// nothing past MAX_PATH), so a name that a listing gave must travel in this form to
// reach the same file. A path already in this form is returned as it is. Throws
// FileSystemError "weakly_canonical".
std::wstring verbatimPath(const std::wstring& path);

// A path as the log and the user see it: without the verbatim prefix.
std::wstring shownPath(const std::wstring& path);

// Wine drops a trailing dot or blank of each element of a final path (an open
// "bin.\...\foo." gives "bin\..\foo"). Where the final path and the path that was
// opened name the same elements but for such endings, the elements asked for are
// taken (in the letter case the final path gives); any other difference is a link on
// the way, and the final path is returned unchanged.
std::wstring withRequestedNames(const std::wstring& finalPath, const std::wstring& requested);

// The final form of an open file or folder, as weaklyCanonical gives it for an
// existing path. `path` names it in the error. Never take a file's name from it (see
// withRequestedNames). Throws FileSystemError.
std::wstring finalPathOf(HANDLE file, const std::wstring& path);

// Whether two final paths name the same place: Windows compares names without regard
// to letter case.
bool sameFinalPath(const std::wstring& a, const std::wstring& b);

// Whether an open file is a plain file with exactly one name: no reparse point, no
// folder, one link. A name that shares its file with another name elsewhere, or that
// leads elsewhere, must not be written through.
bool isPlainSingleFile(HANDLE file);

// Whether two open handles reach one file: the same volume and the same file number.
bool isSameFile(HANDLE a, HANDLE b);
