#include "update/signed_list.h"

#include "fs/file_identity.h"
#include "fs/fs_error.h"
#include "fs/path_text.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr NTSTATUS badSignature = static_cast<NTSTATUS>(0xC000A000); // STATUS_INVALID_SIGNATURE
constexpr DWORD signatureRefused = static_cast<DWORD>(0x80090006);   // NTE_BAD_SIGNATURE

inline void destroyKey(BCRYPT_KEY_HANDLE key)
{
    cngDestroyKey(key);
}
using UniqueKey = UniqueAny<BCRYPT_KEY_HANDLE, &destroyKey>;

[[noreturn]] void refuse(DWORD code, const std::wstring& list)
{
    throw FileSystemError(operation::signedList, code, list);
}

// A plain file with one name at `path`, read whole; false when nothing is there.
bool readWhole(const std::wstring& path, std::string& content, DWORD& error)
{
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    error = file ? ERROR_SUCCESS : GetLastError();
    LARGE_INTEGER size = {};
    if (!file)
        return false;
    if (!isPlainFileAt(file.get(), path, shownPath(path)) || !GetFileSizeEx(file.get(), &size) ||
        size.QuadPart > (64 << 20)) {
        error = ERROR_INVALID_DATA;
        return false;
    }
    content.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!content.empty() &&
        (!ReadFile(file.get(), &content[0], static_cast<DWORD>(content.size()), &read, nullptr) ||
         read != content.size())) {
        error = GetLastError();
        return false;
    }
    return true;
}

bool sha256Of(BCRYPT_ALG_HANDLE sha256, const std::string& data,
              std::array<unsigned char, 32>& digest)
{
    const UniqueHash hash = startSha256(sha256);
    return hash && addToHash(hash.get(), data.data(), static_cast<unsigned long>(data.size())) &&
           finishSha256(hash.get(), digest);
}

// Whether `signature` (r, then s) over `signed` is the key's.
bool verifiedBy(const unsigned char (&key)[64], BCRYPT_ALG_HANDLE sha256,
                const std::string& signed_,
                const std::array<unsigned char, list_text::signatureBytes>& signature)
{
    std::array<unsigned char, 32> digest;
    UniqueProvider ecdsa;
    if (!sha256Of(sha256, signed_, digest) ||
        cngOpenAlgorithmProvider(ecdsa.put(), BCRYPT_ECDSA_P256_ALGORITHM) < 0)
        return false;
    std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + sizeof key);
    auto* header_ = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
    header_->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header_->cbKey = 32;
    std::memcpy(blob.data() + sizeof(BCRYPT_ECCKEY_BLOB), key, sizeof key);
    UniqueKey publicKey;
    if (cngImportKeyPair(ecdsa.get(), BCRYPT_ECCPUBLIC_BLOB, publicKey.put(), blob.data(),
                         static_cast<ULONG>(blob.size())) < 0)
        return false;
    const NTSTATUS status = cngVerifySignature(publicKey.get(), digest.data(), 32,
                                               const_cast<unsigned char*>(signature.data()),
                                               static_cast<ULONG>(signature.size()));
    return status >= 0 && status != badSignature;
}

} // namespace

UniqueHash startSha256(BCRYPT_ALG_HANDLE sha256)
{
    UniqueHash hash;
    if (cngCreateHash(sha256, hash.put()) < 0)
        hash.reset();
    return hash;
}

bool addToHash(BCRYPT_HASH_HANDLE hash, const void* data, unsigned long size)
{
    return cngHashData(hash, static_cast<PUCHAR>(const_cast<void*>(data)), size) >= 0;
}

bool finishSha256(BCRYPT_HASH_HANDLE hash, std::array<unsigned char, 32>& digest)
{
    return cngFinishHash(hash, digest.data(), 32) >= 0;
}

bool holdsAsListed(HANDLE file, const ListedFile& listed, BCRYPT_ALG_HANDLE sha256,
                   std::vector<char>& buffer)
{
    LARGE_INTEGER size = {};
    const UniqueHash hash = startSha256(sha256);
    if (!hash || !GetFileSizeEx(file, &size) ||
        static_cast<unsigned long long>(size.QuadPart) != listed.size)
        return false;
    if (buffer.size() < (1 << 16))
        buffer.resize(1 << 16);
    for (unsigned long long left = listed.size; left > 0;) {
        DWORD read = 0;
        const DWORD wanted = static_cast<DWORD>(left < buffer.size() ? left : buffer.size());
        if (!ReadFile(file, buffer.data(), wanted, &read, nullptr) || read == 0 ||
            !addToHash(hash.get(), buffer.data(), read))
            return false;
        left -= read;
    }
    std::array<unsigned char, 32> digest;
    return finishSha256(hash.get(), digest) && digest == listed.digest;
}

SignedList readSignedList(const std::wstring& updateDir, const unsigned char (&key)[64],
                          unsigned long long atLeast)
{
    const std::wstring path = appendPath(updateDir, signedListName);
    std::string text;
    DWORD error = ERROR_SUCCESS;
    if (!readWhole(verbatimOfFinal(path), text, error))
        refuse(error, path);
    SignedList list;
    if (cngOpenAlgorithmProvider(list.sha256.put(), BCRYPT_SHA256_ALGORITHM) < 0)
        refuse(ERROR_INVALID_FUNCTION, path);
    std::string signedPart;
    std::array<unsigned char, list_text::signatureBytes> signature;
    if (!splitSignature(text, signedPart, signature))
        refuse(ERROR_INVALID_DATA, path);
    if (!verifiedBy(key, list.sha256.get(), signedPart, signature))
        refuse(signatureRefused, path);
    // Signed: now the content is the publisher's, and only its form is checked.
    ListContent content;
    if (!parseListText(signedPart, content))
        refuse(ERROR_INVALID_DATA, path);
    if (content.release < atLeast) // an older release, signed once, is not to be replayed
        refuse(ERROR_REVISION_MISMATCH, path);
    list.release = content.release;
    list.files = std::move(content.files);
    list.folders = std::move(content.folders);
    list.removals = std::move(content.removals);
    return list;
}
