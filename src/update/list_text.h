#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

// The text of the publisher's signed list, apart from reading the file and checking
// its signature (signed_list.h). UTF-8, "\n" line ends (a "\r" anywhere is refused):
//
//     Qorvath Launcher update list 1               (or 2)
//     release <whole number, growing from release to release>
//     <64 hex digits of SHA-256> <size in bytes> <path with backslashes>   (one per file)
//     folder <path below the root>                 (version 2 only: a folder the release needs)
//     remove <path below the root>                 (version 2 only: a file it no longer has)
//     signature <128 hex digits: r, then s, 32 bytes each>
//
// The signature covers every byte before its own line. A path named twice (in any
// letter case: one file on Windows) makes the list malformed, as does a `folder` or
// `remove` path that could lead anywhere but to its own place below the root.

namespace list_text {
constexpr char headerV1[] = "Qorvath Launcher update list 1\n";
constexpr char headerV2[] = "Qorvath Launcher update list 2\n";
constexpr char release[] = "release ";
constexpr char folder[] = "folder ";
constexpr char remove[] = "remove ";
constexpr char signature[] = "signature ";
constexpr size_t digestBytes = 32;
constexpr size_t signatureBytes = 64;
constexpr size_t longestNumber = 18; // decimal digits: fits 64 bits, whatever the digits
} // namespace list_text

struct ListedFile {
    unsigned long long size;
    std::array<unsigned char, list_text::digestBytes> digest;
};

struct ListContent {
    unsigned long long release = 0;
    std::map<std::wstring, ListedFile> files; // by relativePath
    std::vector<std::wstring> folders;        // in the list's order (parents first)
    std::vector<std::wstring> removals;
};

// The part that the signature covers and the signature; false when the text does not
// end with a signature line of its own.
bool splitSignature(const std::string& text, std::string& signedPart,
                    std::array<unsigned char, list_text::signatureBytes>& signature);

// The signed part's content; false when it is malformed in any way.
bool parseListText(const std::string& signedPart, ListContent& content);

// Whether a `folder` or `remove` path may be acted on: relative, below the root, of
// plain elements (no ".", "..", drive, stream, empty element or '/'), outside
// resources\update and not one of the updater's own files.
bool isPlainPathBelowRoot(const std::wstring& path);
