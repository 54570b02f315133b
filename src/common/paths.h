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

// The part of the path that exists, resolved through the file system to its final
// form (links and junctions followed, letter case and long names as stored, no
// "\\?\" prefix), then the rest appended with "." and ".." resolved lexically.
// Throws FileSystemError "weakly_canonical".
std::wstring weaklyCanonical(const std::wstring& path);

// The absolute form of a path, "." and ".." resolved lexically against the current
// folder. Throws FileSystemError "weakly_canonical".
std::wstring fullPath(const std::wstring& path);

// The final form of an open file or folder, as weaklyCanonical gives it for an
// existing path. `path` names it in the error. Throws FileSystemError.
std::wstring finalPathOf(HANDLE file, const std::wstring& path);

// Whether two final paths name the same place: Windows compares names without regard
// to letter case.
bool sameFinalPath(const std::wstring& a, const std::wstring& b);
