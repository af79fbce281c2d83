#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Orvane {

// An MD5 computed piece by piece, for bytes that pass by once (a download as
// it is written). All hashes of the process share one CryptoAPI provider:
// acquiring one costs a DLL load under Wine, more than hashing a small file.
class Md5Hash {
public:
    Md5Hash();
    ~Md5Hash();
    Md5Hash(const Md5Hash&) = delete;
    Md5Hash& operator=(const Md5Hash&) = delete;

    // False once any step has failed; the digest is then empty.
    bool Add(const void* data, size_t size);
    // 32 lower-case hexadecimal characters, or empty after a failure. Ends
    // the hash: later calls give empty text.
    std::string Finish();
    // Starts again from no bytes.
    void Restart();

private:
    struct Object;  // the CryptoAPI hash object
    std::unique_ptr<Object> object_;
    bool failed_ = false;
};

// Called while a file is hashed with the number of bytes read so far.
using DigestProgress = std::function<void(int64_t bytesRead)>;

// Adds a file's bytes to `hash`. False when the file cannot be opened for
// reading, a read fails part-way, or hashing fails.
bool AddFileTo(Md5Hash& hash, const std::wstring& path, const DigestProgress& progress = {});

// MD5 of a file's bytes as 32 lower-case hexadecimal characters; empty when the
// file cannot be opened for reading (missing, a directory, opened by another
// program that shares no reading), a read
// fails part-way, or hashing fails. Streams through a fixed buffer, so memory
// use does not depend on file size.
std::string ComputeFileMd5(const std::wstring& path, const DigestProgress& progress = {});

}  // namespace Orvane
