#pragma once

#include <windows.h>

#include <string>

namespace Orvane {

// Name of the RCDATA resource that holds the public key file lists must be
// signed with (the build embeds it when ORVANE_FILELIST_PUBLIC_KEY is set).
constexpr wchar_t kFileListKeyResource[] = L"FILELISTKEY";

// A P-256 signature in DER is at most 72 bytes; anything far larger is not one.
constexpr size_t kMaxFileListSignatureBytes = 1024;

// True when `signature` is a valid ECDSA P-256 signature over the SHA-256 of
// `data` by `publicKey`.
//   publicKey: a SubjectPublicKeyInfo, PEM ("-----BEGIN PUBLIC KEY-----") or
//              DER, as `openssl ec -pubout` writes it; only P-256 keys count.
//   signature: a DER ECDSA-Sig-Value, as `openssl dgst -sha256 -sign` writes it.
// Uses the system's CryptoAPI and CNG only. On false, `reason` (when given)
// says which step failed, for the log.
bool VerifyFileListSignature(const std::string& publicKey, const std::string& data,
                             const std::string& signature, std::string* reason = nullptr);

// The bytes of the FILELISTKEY resource of `module`; empty when it has none.
std::string ReadFileListKeyResource(HMODULE module);

// The key embedded in the running executable; empty when it carries none.
std::string LoadEmbeddedFileListKey();

}  // namespace Orvane
