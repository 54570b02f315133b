#pragma once

// The calls of CNG (bcrypt.dll) that the signed-updates build makes, with the
// signatures of bcrypt.h. bcrypt.dll is not one of Windows' known DLLs: imported, it
// would be looked for first beside the executable, in resources\update, which ordinary
// users can write to, and run as administrator before the entry routine could restrict
// the search. So it is loaded at its first call, from the system folder only
// (loadSystemLibrary), and each call is looked up in it. Where the library or the
// call cannot be had, each fails with STATUS_ENTRYPOINT_NOT_FOUND: a signed update
// then stops, as one that cannot be verified.

#include <windows.h>

#include <bcrypt.h>

NTSTATUS cngOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* provider, LPCWSTR algorithm);
NTSTATUS cngCloseAlgorithmProvider(BCRYPT_ALG_HANDLE provider);
NTSTATUS cngCreateHash(BCRYPT_ALG_HANDLE provider, BCRYPT_HASH_HANDLE* hash);
NTSTATUS cngHashData(BCRYPT_HASH_HANDLE hash, PUCHAR data, ULONG size);
NTSTATUS cngFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR digest, ULONG size);
NTSTATUS cngDestroyHash(BCRYPT_HASH_HANDLE hash);
NTSTATUS cngImportKeyPair(BCRYPT_ALG_HANDLE provider, LPCWSTR blobType, BCRYPT_KEY_HANDLE* key,
                          PUCHAR blob, ULONG size);
NTSTATUS cngDestroyKey(BCRYPT_KEY_HANDLE key);
NTSTATUS cngVerifySignature(BCRYPT_KEY_HANDLE key, PUCHAR digest, ULONG digestSize,
                            PUCHAR signature, ULONG signatureSize);
