#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Orvane {

// What a ContentHash gives for the bytes it was fed, each as lower-case
// hexadecimal; empty after a failure (and `sha256` when it was not asked for).
struct ContentDigests {
    std::string md5;     // 32 characters
    std::string sha256;  // 64 characters
};

// The MD5 of bytes that pass by once (a download as it is written), and their
// SHA-256 in the same pass when asked for: signed file lists bind each file by
// both, and other builds pay nothing for it. All hashes of the process share
// one CryptoAPI provider per algorithm family: acquiring one costs a DLL load
// under Wine, more than hashing a small file.
class ContentHash {
public:
    explicit ContentHash(bool withSha256 = false);
    ~ContentHash();
    ContentHash(const ContentHash&) = delete;
    ContentHash& operator=(const ContentHash&) = delete;

    // False once any step has failed; the digests are then empty.
    bool Add(const void* data, size_t size);
    // Ends the hash: later calls give empty digests.
    ContentDigests Finish();
    // Starts again from no bytes.
    void Restart();

private:
    struct Objects;  // the CryptoAPI hash objects
    std::unique_ptr<Objects> objects_;
    bool withSha256_;
    bool failed_ = false;
};

// Called while a file is hashed with the number of bytes read so far.
using DigestProgress = std::function<void(int64_t bytesRead)>;

// Where files are read to while they are hashed, kept by a caller that hashes
// many: Windows' heap may give a freed block this large back to the system
// (it decommits free blocks past a threshold), and then a buffer per file
// would pay for its pages' first touch at every file. One thread at a time.
class FileReadBuffer {
public:
    FileReadBuffer();
    ~FileReadBuffer();
    FileReadBuffer(const FileReadBuffer&) = delete;
    FileReadBuffer& operator=(const FileReadBuffer&) = delete;

    // The buffer, taken from the heap at the first call; null when it cannot be had.
    unsigned char* Get();

private:
    std::unique_ptr<unsigned char[]> bytes_;
};

// Adds a file's bytes to `hash`. False when the file cannot be opened for
// reading (the system's reason in *openError when given), a read fails
// part-way, or hashing fails.
bool AddFileTo(ContentHash& hash, const std::wstring& path, const DigestProgress& progress = {},
               unsigned long* openError = nullptr, FileReadBuffer* buffer = nullptr);

// Adds what is left of an open file (read access), from its current position
// to its end, to `hash`.
bool AddRestOfFileTo(ContentHash& hash, void* file, const DigestProgress& progress = {},
                     FileReadBuffer* buffer = nullptr);

// MD5 of a file's bytes as 32 lower-case hexadecimal characters; empty when the
// file cannot be opened for reading (missing, a directory, opened by another
// program that shares no reading), a read
// fails part-way, or hashing fails. Streams through a fixed buffer, so memory
// use does not depend on file size.
std::string ComputeFileMd5(const std::wstring& path, const DigestProgress& progress = {},
                           unsigned long* openError = nullptr, FileReadBuffer* buffer = nullptr);

// The MD5 of a file's bytes and, with `withSha256`, their SHA-256, read once;
// both empty when the file cannot be read as above.
ContentDigests ComputeFileDigests(const std::wstring& path, bool withSha256);

}  // namespace Orvane
