#include "update/cng.h"

#include "common/system_library.h"

namespace {

constexpr NTSTATUS entryPointNotFound = static_cast<NTSTATUS>(0xC0000139);

HMODULE bcrypt()
{
    static const HMODULE module = loadSystemLibrary(L"bcrypt.dll");
    return module;
}

// Calls the function of bcrypt.dll named `name`, of the type of its declaration `Fn`.
template <typename Fn, typename... Args> NTSTATUS call(const char* name, Args... args)
{
    const HMODULE module = bcrypt();
    const auto function =
        module ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
               : nullptr;
    return function ? function(args...) : entryPointNotFound;
}

} // namespace

NTSTATUS cngOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* provider, LPCWSTR algorithm)
{
    return call<decltype(&BCryptOpenAlgorithmProvider)>("BCryptOpenAlgorithmProvider", provider,
                                                        algorithm, LPCWSTR{}, ULONG{});
}

NTSTATUS cngCloseAlgorithmProvider(BCRYPT_ALG_HANDLE provider)
{
    return call<decltype(&BCryptCloseAlgorithmProvider)>("BCryptCloseAlgorithmProvider", provider,
                                                         ULONG{});
}

NTSTATUS cngCreateHash(BCRYPT_ALG_HANDLE provider, BCRYPT_HASH_HANDLE* hash)
{
    return call<decltype(&BCryptCreateHash)>("BCryptCreateHash", provider, hash, PUCHAR{}, ULONG{},
                                             PUCHAR{}, ULONG{}, ULONG{});
}

NTSTATUS cngHashData(BCRYPT_HASH_HANDLE hash, PUCHAR data, ULONG size)
{
    return call<decltype(&BCryptHashData)>("BCryptHashData", hash, data, size, ULONG{});
}

NTSTATUS cngFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR digest, ULONG size)
{
    return call<decltype(&BCryptFinishHash)>("BCryptFinishHash", hash, digest, size, ULONG{});
}

NTSTATUS cngDestroyHash(BCRYPT_HASH_HANDLE hash)
{
    return call<decltype(&BCryptDestroyHash)>("BCryptDestroyHash", hash);
}

NTSTATUS cngImportKeyPair(BCRYPT_ALG_HANDLE provider, LPCWSTR blobType, BCRYPT_KEY_HANDLE* key,
                          PUCHAR blob, ULONG size)
{
    return call<decltype(&BCryptImportKeyPair)>(
        "BCryptImportKeyPair", provider, BCRYPT_KEY_HANDLE{}, blobType, key, blob, size, ULONG{});
}

NTSTATUS cngDestroyKey(BCRYPT_KEY_HANDLE key)
{
    return call<decltype(&BCryptDestroyKey)>("BCryptDestroyKey", key);
}

NTSTATUS cngVerifySignature(BCRYPT_KEY_HANDLE key, PUCHAR digest, ULONG digestSize,
                            PUCHAR signature, ULONG signatureSize)
{
    return call<decltype(&BCryptVerifySignature)>("BCryptVerifySignature", key, nullptr, digest,
                                                  digestSize, signature, signatureSize, ULONG{});
}
