#pragma once

#include <string>

// Path algebra on Windows paths held as UTF-16 text, with no question to the file
// system: what a name leads to is file_identity's. "\" and "/" are both separators; a
// root name is a drive ("C:") or a server ("\\server").

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

// Lexical: true when a relative path names something strictly below the folder it is
// joined to, by its text alone: not empty, not rooted, no drive, no "." or ".."
// element. Says nothing of links on the way.
bool staysBelowLexically(const std::wstring& relative);

// True when a final path (one that the file system gave, links resolved) names
// something strictly below a folder's final path. Only as true as the two paths are
// final.
bool liesBelow(const std::wstring& finalPath, const std::wstring& folder);

// The same, or the folder itself.
bool liesWithin(const std::wstring& finalPath, const std::wstring& folder);

// Whether a path is in the verbatim form ("\\?\...").
bool isVerbatim(const std::wstring& path);

// The path without its last element and the separators before it, its root kept whole
// ("C:\a\b" gives "C:\a", "C:\a" gives "C:\"); empty when it has no element to drop.
std::wstring parentPath(const std::wstring& path);

// A path as the log and the user see it: without the verbatim prefix.
std::wstring shownPath(const std::wstring& path);

// The verbatim form of a path that is final already (absolute, exact names, no "." or
// ".."): only the prefix is added, nothing is rewritten ("C:\a." stays "\\?\C:\a.").
// The reverse of shownPath.
std::wstring verbatimOfFinal(const std::wstring& finalPath);

// Wine drops a trailing dot or blank of each element of a final path (an open
// "bin.\...\foo." gives "bin\..\foo"). Where the final path and the path that was
// opened name the same elements but for such endings, the elements asked for are
// taken (in the letter case the final path gives); any other difference is a link on
// the way, and the final path is returned unchanged.
std::wstring withRequestedNames(const std::wstring& finalPath, const std::wstring& requested);

// Whether two final paths name the same place: Windows compares names without regard
// to letter case.
bool sameFinalPath(const std::wstring& a, const std::wstring& b);

// Whether two names of entries of one folder name the same entry: Windows compares
// names without regard to letter case.
bool sameName(const std::wstring& a, const std::wstring& b);

// A final path in upper case: a key under which paths that sameFinalPath takes for one
// place are equal (for sets, and for names made from a path).
std::wstring caseFoldedKey(const std::wstring& finalPath);
