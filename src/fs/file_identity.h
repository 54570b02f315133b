#pragma once

#include "common/unique_any.h"

#include <windows.h>

#include <string>

// What a name, or an open handle, leads to: every question to the file system about
// where a path ends up and what kind of file is there. Failures throw FileSystemError
// (fs_error.h) with the operation words of the log's vocabulary.

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

// The final form of an open file or folder, as weaklyCanonical gives it for an
// existing path. `path` names it in the error. Never take a file's name from it (see
// withRequestedNames). Throws FileSystemError.
std::wstring finalPathOf(HANDLE file, const std::wstring& path);

// Whether an open file is a plain file with exactly one name: no reparse point, no
// folder, one link. A name that shares its file with another name elsewhere, or that
// leads elsewhere, must not be written through.
bool isPlainSingleFile(HANDLE file);

// Whether an open file is a plain file with one name (isPlainSingleFile) that lies
// where `expected` (a final path) says: the file opened by `path` (which names it in an
// error) is that very name, not a link or another name of a file elsewhere. Wine follows
// a Linux link even when asked not to, so where the handle leads is what counts.
bool isPlainFileAt(HANDLE file, const std::wstring& path, const std::wstring& expected);

// Whether two open handles reach one file: the same volume and the same file id (128
// bits where the file system has them, as ReFS does).
bool isSameFile(HANDLE a, HANDLE b);

// A file's identity as text, the same through every handle and name of it: its volume's
// serial number and its file id, in hex. Empty when they cannot be read.
std::wstring identityOf(HANDLE file);

// Whether an open follows a link at the path's last element or opens the link itself.
enum class Links { Followed, Itself };

// Opens a path only to look at it (its attributes, what it is, where it leads), beside
// everybody, folders too: every such open goes through here. None with the code when
// it cannot be opened.
OpenedFile lookAt(const std::wstring& path, Links links = Links::Followed);

// Opens a path only to look at what it leads to (lookAt, links followed). None when
// nothing is there (the path, or a folder on the way, is
// missing); throws FileSystemError with `operation`, naming `shown`, on any other
// failure.
UniqueFileHandle openToLook(const std::wstring& path, const char* operation,
                            const std::wstring& shown);

// Whether a listed entry leads to a folder, links followed. The listing's attributes
// answer for everything but links; a link whose target is missing, or whose kind
// cannot be told, counts as a file. Throws FileSystemError "directory_entry::status".
bool leadsToFolder(const std::wstring& path, unsigned long listedAttributes);

// Opens the file at `path` for writing, emptied, or creates it (sharing `share`); never
// through a link planted in its place: a name that is a link, or one of several names
// of a file, is removed itself (never what it leads to) and a file of its own created.
// None when it cannot be opened so. Throws FileSystemError "weakly_canonical" when its
// folder cannot be resolved.
UniqueFileHandle openEmptiedForWriting(const wchar_t* path, DWORD share);
