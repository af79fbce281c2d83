#include "diagnostics/FileDigest.h"

#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "app/ScopedHandle.h"

namespace Orvane {

namespace {

constexpr DWORD kReadChunkBytes = 256 * 1024;

class CryptProvider {
public:
    CryptProvider()
    {
        if (!CryptAcquireContextW(&handle_, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
            handle_ = 0;
        }
    }
    ~CryptProvider()
    {
        if (handle_) {
            CryptReleaseContext(handle_, 0);
        }
    }
    CryptProvider(const CryptProvider&) = delete;
    CryptProvider& operator=(const CryptProvider&) = delete;
    HCRYPTPROV Get() const { return handle_; }

private:
    HCRYPTPROV handle_ = 0;
};

class CryptHash {
public:
    explicit CryptHash(HCRYPTPROV provider)
    {
        if (!CryptCreateHash(provider, CALG_MD5, 0, 0, &handle_)) {
            handle_ = 0;
        }
    }
    ~CryptHash()
    {
        if (handle_) {
            CryptDestroyHash(handle_);
        }
    }
    CryptHash(const CryptHash&) = delete;
    CryptHash& operator=(const CryptHash&) = delete;
    HCRYPTHASH Get() const { return handle_; }

private:
    HCRYPTHASH handle_ = 0;
};

}  // namespace

std::string ComputeFileMd5(const std::wstring& path)
{
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return {};
    }
    // Declared after the file so they are released before it is closed.
    CryptProvider provider;
    if (!provider.Get()) {
        return {};
    }
    CryptHash hash(provider.Get());
    if (!hash.Get()) {
        return {};
    }

    // One fixed buffer, whatever the file size. Large reads keep the per-call
    // cost small next to the hashing (8 KiB reads measured about 12 % slower
    // than md5sum under Wine, 256 KiB within a few percent).
    std::vector<BYTE> buffer(kReadChunkBytes);
    DWORD bytesRead = 0;
    while (ReadFile(file.Get(), buffer.data(), kReadChunkBytes, &bytesRead, nullptr) && bytesRead > 0) {
        if (!CryptHashData(hash.Get(), buffer.data(), bytesRead, 0)) {
            return {};
        }
    }

    BYTE digest[16] = {};
    DWORD digestLength = sizeof digest;
    if (!CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &digestLength, 0)) {
        return {};
    }

    static const char kHexDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digestLength * 2);
    for (DWORD i = 0; i < digestLength && i < sizeof digest; ++i) {
        text += kHexDigits[digest[i] >> 4];
        text += kHexDigits[digest[i] & 0x0F];
    }
    return text;
}

}  // namespace Orvane
