#include "update/FileListSignature.h"

#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/Handles.h"

namespace Orvane {

namespace {

constexpr size_t kCoordinateBytes = 32;  // P-256
constexpr size_t kDigestBytes = 32;      // SHA-256
// Keys are a few hundred bytes at most; anything far larger is not one, and
// the limit (like the signature's) keeps every length within a DWORD.
constexpr size_t kMaxKeyBytes = 16 * 1024;

// The parameters of an id-ecPublicKey SubjectPublicKeyInfo naming P-256:
// the DER of OID 1.2.840.10045.3.1.7 (prime256v1).
constexpr BYTE kP256Parameters[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

bool Fail(std::string* reason, const char* text)
{
    if (reason) {
        *reason = text;
    }
    return false;
}

const BYTE* Bytes(const std::string& text)
{
    return reinterpret_cast<const BYTE*>(text.data());
}

// DER as is; PEM ("-----BEGIN ...-----" armour around base64) decoded.
bool KeyToDer(const std::string& key, std::string& der)
{
    if (key.find("-----BEGIN") == std::string::npos) {
        der = key;
        return !der.empty();
    }
    DWORD size = 0;
    if (!CryptStringToBinaryA(key.c_str(), static_cast<DWORD>(key.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr) ||
        size == 0) {
        return false;
    }
    der.assign(size, '\0');
    if (!CryptStringToBinaryA(key.c_str(), static_cast<DWORD>(key.size()), CRYPT_STRING_BASE64HEADER,
                              reinterpret_cast<BYTE*>(&der[0]), &size, nullptr, nullptr)) {
        return false;
    }
    der.resize(size);
    return true;
}

bool Decode(LPCSTR structType, const std::string& der, LocalMemory& decoded)
{
    void* structure = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, structType, Bytes(der), static_cast<DWORD>(der.size()),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &structure, &size)) {
        return false;
    }
    decoded.Reset(structure);
    return true;
}

bool IsP256Key(const CERT_PUBLIC_KEY_INFO& info)
{
    const CRYPT_OBJID_BLOB& parameters = info.Algorithm.Parameters;
    return info.Algorithm.pszObjId != nullptr &&
           std::strcmp(info.Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) == 0 &&
           parameters.cbData == sizeof kP256Parameters &&
           std::memcmp(parameters.pbData, kP256Parameters, sizeof kP256Parameters) == 0;
}

// CryptoAPI gives r and s as little-endian integers, as short as their value
// allows; CNG wants each big-endian and left-padded to the coordinate size.
bool ToBigEndianCoordinate(const CRYPT_UINT_BLOB& value, BYTE* out)
{
    size_t length = value.cbData;
    while (length > 0 && value.pbData[length - 1] == 0) {
        --length;  // high-order zero bytes carry no value
    }
    if (length > kCoordinateBytes) {
        return false;
    }
    std::memset(out, 0, kCoordinateBytes);
    for (size_t i = 0; i < length; ++i) {
        out[kCoordinateBytes - 1 - i] = value.pbData[i];
    }
    return true;
}

// Reads one DER length at `at`: the short form for 0-127, the long form only
// for larger values and in as few bytes as they need. BER's other spellings
// (indefinite length, long form for small values, leading zero bytes) are refused.
bool ReadDerLength(const std::string& der, size_t& at, size_t& length)
{
    if (at >= der.size()) {
        return false;
    }
    const unsigned char first = static_cast<unsigned char>(der[at++]);
    if (first < 0x80) {
        length = first;
        return true;
    }
    const size_t count = first & 0x7F;
    if (count == 0 || count > sizeof(size_t) || der.size() - at < count ||
        der[at] == '\0') {
        return false;
    }
    length = 0;
    for (size_t i = 0; i < count; ++i) {
        length = (length << 8) | static_cast<unsigned char>(der[at++]);
    }
    return length >= 0x80 && length <= der.size() - at;
}

// One DER INTEGER at `at` holding a positive value in its shortest form: no
// leading zero byte unless the next byte has its top bit set.
bool ReadPositiveDerInteger(const std::string& der, size_t& at)
{
    size_t length = 0;
    if (at >= der.size() || der[at++] != 0x02 || !ReadDerLength(der, at, length) || length == 0 ||
        length > der.size() - at) {
        return false;
    }
    const unsigned char first = static_cast<unsigned char>(der[at]);
    const bool negative = (first & 0x80) != 0;
    const bool padded = first == 0 && (length == 1 || (static_cast<unsigned char>(der[at + 1]) & 0x80) == 0);
    at += length;
    return !negative && !padded;
}

// A signature has exactly one encoding: SEQUENCE { INTEGER r, INTEGER s } in
// DER with nothing after it. CryptoAPI's decoder also takes BER spellings,
// which would let one signature travel in many byte strings.
bool IsStrictDerSignature(const std::string& der)
{
    size_t at = 0;
    size_t length = 0;
    if (der.empty() || der[at++] != 0x30 || !ReadDerLength(der, at, length) || length != der.size() - at) {
        return false;
    }
    return ReadPositiveDerInteger(der, at) && ReadPositiveDerInteger(der, at) && at == der.size();
}

bool Sha256(const std::string& data, BYTE (&digest)[kDigestBytes])
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return false;
    }
    const AlgorithmProvider provider(algorithm);
    BCRYPT_HASH_HANDLE hashHandle = nullptr;
    // No hash object buffer: CNG manages it (Windows 7 and later).
    if (!BCRYPT_SUCCESS(BCryptCreateHash(provider.Get(), &hashHandle, nullptr, 0, nullptr, 0, 0))) {
        return false;
    }
    const HashObject hash(hashHandle);
    size_t offset = 0;
    while (offset < data.size()) {
        const size_t chunk = std::min<size_t>(data.size() - offset, std::numeric_limits<ULONG>::max());
        if (!BCRYPT_SUCCESS(BCryptHashData(hash.Get(), const_cast<PUCHAR>(Bytes(data) + offset),
                                           static_cast<ULONG>(chunk), 0))) {
            return false;
        }
        offset += chunk;
    }
    return BCRYPT_SUCCESS(BCryptFinishHash(hash.Get(), digest, kDigestBytes, 0));
}

}  // namespace

bool VerifyFileListSignature(const std::string& publicKey, const std::string& data,
                             const std::string& signature, std::string* reason)
{
    if (publicKey.size() > kMaxKeyBytes) {
        return Fail(reason, "public key too large");
    }
    if (signature.empty() || signature.size() > kMaxFileListSignatureBytes) {
        return Fail(reason, "signature empty or too large");
    }
    std::string keyDer;
    if (!KeyToDer(publicKey, keyDer)) {
        return Fail(reason, "public key is neither PEM nor DER");
    }
    LocalMemory keyInfoMemory;
    if (!Decode(X509_PUBLIC_KEY_INFO, keyDer, keyInfoMemory)) {
        return Fail(reason, "public key is not a SubjectPublicKeyInfo");
    }
    auto* keyInfo = static_cast<CERT_PUBLIC_KEY_INFO*>(keyInfoMemory.Get());
    if (!IsP256Key(*keyInfo)) {
        return Fail(reason, "public key is not an ECDSA P-256 key");
    }
    BCRYPT_KEY_HANDLE keyHandle = nullptr;
    if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, keyInfo, 0, nullptr, &keyHandle)) {
        return Fail(reason, "public key cannot be imported");
    }
    const KeyHandle key(keyHandle);

    LocalMemory signatureMemory;
    if (!IsStrictDerSignature(signature)) {
        return Fail(reason, "signature is not in strict DER");
    }
    if (!Decode(X509_ECC_SIGNATURE, signature, signatureMemory)) {
        return Fail(reason, "signature is not a DER ECDSA-Sig-Value");
    }
    const auto* ecc = static_cast<const CERT_ECC_SIGNATURE*>(signatureMemory.Get());
    BYTE rs[2 * kCoordinateBytes];
    if (!ToBigEndianCoordinate(ecc->r, rs) || !ToBigEndianCoordinate(ecc->s, rs + kCoordinateBytes)) {
        return Fail(reason, "signature values too large for P-256");
    }

    BYTE digest[kDigestBytes];
    if (!Sha256(data, digest)) {
        return Fail(reason, "SHA-256 is not available");
    }
    if (!BCRYPT_SUCCESS(BCryptVerifySignature(key.Get(), nullptr, digest, kDigestBytes, rs, sizeof rs, 0))) {
        return Fail(reason, "signature does not match");
    }
    return true;
}

std::string ReadFileListKeyResource(HMODULE module)
{
    const HRSRC resource = FindResourceW(module, kFileListKeyResource, RT_RCDATA);
    if (resource == nullptr) {
        return {};
    }
    // Resource memory belongs to the module; it is never freed.
    const HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(module, resource);
    if (bytes == nullptr || size == 0) {
        return {};
    }
    return std::string(static_cast<const char*>(bytes), size);
}

std::string LoadEmbeddedFileListKey()
{
    return ReadFileListKeyResource(GetModuleHandleW(nullptr));
}

}  // namespace Orvane
