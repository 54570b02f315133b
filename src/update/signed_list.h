#pragma once

#include "common/unique_any.h"
#include "update/cng.h"
#include "update/list_text.h"

#include <windows.h>

#include <array>
#include <map>
#include <string>
#include <vector>

// The publisher's signed list of an update (a signed-updates build only): the release
// number, for each file by its path below the update folder its size and SHA-256
// digest, and (from version 2) the folders the release needs and the files it drops,
// signed with the publisher's ECDSA P-256 key. Its form: list_text.h.

constexpr wchar_t signedListName[] = L"Updater.manifest"; // in the update folder

inline void closeProvider(BCRYPT_ALG_HANDLE provider)
{
    cngCloseAlgorithmProvider(provider);
}
using UniqueProvider = UniqueAny<BCRYPT_ALG_HANDLE, &closeProvider>;

struct SignedList {
    unsigned long long release = 0;
    std::map<std::wstring, ListedFile> files; // by relativePath
    std::vector<std::wstring> folders;        // below the root, parents first
    std::vector<std::wstring> removals;       // below the root
    UniqueProvider sha256;                    // hashes the copies as they are written
};

// Reads the list from the update folder (its final path; the list itself is never
// reached through a link) and verifies it against the key (X, then Y). Throws
// FileSystemError "signed_list" naming the list when it is missing, unreadable,
// malformed, not signed by the key, or of a release older than `atLeast`.
SignedList readSignedList(const std::wstring& updateDir, const unsigned char (&key)[64],
                          unsigned long long atLeast);

// Whether the open `file` holds the listed size and digest (hashed by `sha256`, read
// through `buffer`).
bool holdsAsListed(HANDLE file, const ListedFile& listed, BCRYPT_ALG_HANDLE sha256,
                   std::vector<char>& buffer);

// SHA-256 over data given piece by piece, for the copy of a listed file.
inline void destroyHash(BCRYPT_HASH_HANDLE hash)
{
    cngDestroyHash(hash);
}
using UniqueHash = UniqueAny<BCRYPT_HASH_HANDLE, &destroyHash>;
UniqueHash startSha256(BCRYPT_ALG_HANDLE sha256);
bool addToHash(BCRYPT_HASH_HANDLE hash, const void* data, unsigned long size);
bool finishSha256(BCRYPT_HASH_HANDLE hash, std::array<unsigned char, 32>& digest);
