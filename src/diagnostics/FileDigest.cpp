#include "diagnostics/FileDigest.h"

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <new>

#include "base/Handles.h"

namespace Orvane {

namespace {

constexpr DWORD kReadChunkBytes = 64 * 1024;

// The process's providers, each acquired at first use and released at exit.
// Hash objects made from one may be used on different threads at once.
CryptProvider AcquireProvider(DWORD type)
{
    HCRYPTPROV raw = 0;
    if (!CryptAcquireContextW(&raw, nullptr, nullptr, type, CRYPT_VERIFYCONTEXT)) {
        raw = 0;
    }
    return CryptProvider(raw);
}

HCRYPTPROV Md5Provider()
{
    static const CryptProvider provider = AcquireProvider(PROV_RSA_FULL);
    return provider.Get();
}

// SHA-256 needs the AES provider (Windows XP SP3 and later); it is asked for
// only by builds that check signed lists.
HCRYPTPROV Sha256Provider()
{
    static const CryptProvider provider = AcquireProvider(PROV_RSA_AES);
    return provider.Get();
}

HCRYPTHASH NewHash(HCRYPTPROV provider, ALG_ID algorithm)
{
    HCRYPTHASH raw = 0;
    if (provider == 0 || !CryptCreateHash(provider, algorithm, 0, 0, &raw)) {
        return 0;
    }
    return raw;
}

bool AddTo(const CryptHash& hash, const BYTE* bytes, size_t size)
{
    // CryptHashData takes at most 4 GiB - 1 at a time.
    while (size > 0) {
        const DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        if (!CryptHashData(hash.Get(), bytes, piece, 0)) {
            return false;
        }
        bytes += piece;
        size -= piece;
    }
    return true;
}

// The hash's value as lower-case hexadecimal; empty when it cannot be read.
std::string HexValue(const CryptHash& hash, DWORD length)
{
    BYTE digest[32] = {};
    DWORD digestLength = sizeof digest;
    if (!CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &digestLength, 0) || digestLength != length) {
        return {};
    }
    static const char kHexDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (DWORD i = 0; i < length; ++i) {
        text += kHexDigits[digest[i] >> 4];
        text += kHexDigits[digest[i] & 0x0F];
    }
    return text;
}

}  // namespace

struct ContentHash::Objects {
    CryptHash md5;
    CryptHash sha256;  // null unless asked for
};

ContentHash::ContentHash(bool withSha256) : objects_(new Objects), withSha256_(withSha256)
{
    Restart();
}

ContentHash::~ContentHash() = default;

bool ContentHash::Add(const void* data, size_t size)
{
    const BYTE* bytes = static_cast<const BYTE*>(data);
    failed_ = failed_ || !AddTo(objects_->md5, bytes, size) ||
              (withSha256_ && !AddTo(objects_->sha256, bytes, size));
    return !failed_;
}

ContentDigests ContentHash::Finish()
{
    ContentDigests digests;
    if (!failed_) {
        digests.md5 = HexValue(objects_->md5, 16);
        digests.sha256 = withSha256_ ? HexValue(objects_->sha256, 32) : std::string();
        if (digests.md5.empty() || (withSha256_ && digests.sha256.empty())) {
            digests = ContentDigests();
        }
    }
    // CryptoAPI refuses more data once a value has been read.
    failed_ = true;
    return digests;
}

void ContentHash::Restart()
{
    objects_->md5.Reset(NewHash(Md5Provider(), CALG_MD5));
    objects_->sha256.Reset(withSha256_ ? NewHash(Sha256Provider(), CALG_SHA_256) : 0);
    failed_ = !objects_->md5 || (withSha256_ && !objects_->sha256);
}

FileReadBuffer::FileReadBuffer() = default;
FileReadBuffer::~FileReadBuffer() = default;

unsigned char* FileReadBuffer::Get()
{
    // Taken without being cleared: the reads fill what is hashed.
    if (!bytes_) {
        bytes_.reset(new (std::nothrow) unsigned char[kReadChunkBytes]);
    }
    return bytes_.get();
}

bool AddFileTo(ContentHash& hash, const std::wstring& path, const DigestProgress& progress, unsigned long* openError,
               FileReadBuffer* buffer)
{
    // Sequential scan: the cache reads ahead and drops pages behind the reader.
    // Every sharing: the game, its launcher or a scanner may hold the file,
    // even for writing, and refusing would make a sound file count as different.
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                  nullptr));
    if (!file) {
        if (openError != nullptr) {
            *openError = GetLastError();
        }
        return false;
    }
    return AddRestOfFileTo(hash, file.Get(), progress, buffer);
}

bool AddRestOfFileTo(ContentHash& hash, void* file, const DigestProgress& progress, FileReadBuffer* buffer)
{
    // 64 KiB reads: few enough calls (8 KiB reads measured about 12 % slower
    // than md5sum under Wine), and a buffer that stays in the processor's
    // cache from the read's copy to the hashing (256 KiB reads measured about
    // 12 % slower over 2,000 files of 512 KiB). Without the caller's buffer
    // the call has one of its own (not a thread_local one: it would be
    // destroyed at the thread's end after this toolchain's emutls has already
    // freed its storage).
    FileReadBuffer own;
    BYTE* const bytes = (buffer != nullptr ? buffer : &own)->Get();
    if (bytes == nullptr) {
        return false;
    }
    int64_t total = 0;
    for (;;) {
        DWORD bytesRead = 0;
        if (!ReadFile(file, bytes, kReadChunkBytes, &bytesRead, nullptr)) {
            return false;  // never the digest of the part that could be read
        }
        if (bytesRead == 0) {
            break;
        }
        if (!hash.Add(bytes, bytesRead)) {
            return false;
        }
        total += bytesRead;
        if (progress) {
            progress(total);
        }
    }
    return true;
}

std::string ComputeFileMd5(const std::wstring& path, const DigestProgress& progress, unsigned long* openError,
                           FileReadBuffer* buffer)
{
    ContentHash hash;
    return AddFileTo(hash, path, progress, openError, buffer) ? hash.Finish().md5 : std::string();
}

ContentDigests ComputeFileDigests(const std::wstring& path, bool withSha256)
{
    ContentHash hash(withSha256);
    return AddFileTo(hash, path) ? hash.Finish() : ContentDigests();
}

}  // namespace Orvane
