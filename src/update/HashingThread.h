#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "base/Handles.h"
#include "diagnostics/FileDigest.h"

namespace Orvane {

// Feeds ContentHashes on a thread of its own, so a download hashes what it has
// written while it waits for the next bytes from the network. Add copies the
// bytes into a block and hands each full block (1 MiB) to the thread, waiting
// only when a few MiB wait to be hashed: one hand-over per block, however
// small the network's pieces (a hand-over costs the wineserver under Wine).
// What is left at Drain, a small file's whole body, is hashed at once, as
// everything is where no thread could be made. One per transfer of an update run.
class HashingThread {
public:
    HashingThread();
    ~HashingThread();  // hashes what waits, then ends the thread
    HashingThread(const HashingThread&) = delete;
    HashingThread& operator=(const HashingThread&) = delete;

    void Add(ContentHash& hash, const char* data, size_t size);
    // Returns once every byte added so far is in its hash: only then may the
    // caller read, finish or restart a hash it added to.
    void Drain();

private:
    struct Piece {
        ContentHash* hash;
        std::vector<char> bytes;
    };

    static DWORD WINAPI Run(void* self);
    void Work();

    // Hands the block being filled to the thread. Called with mutex_ unlocked.
    void HandOver();

    Piece filling_{nullptr, {}};  // the producer's alone
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Piece> pending_;
    std::vector<std::vector<char>> spare_;  // hashed blocks, for reuse
    size_t pendingBytes_ = 0;
    bool busy_ = false;  // the thread holds a piece outside the queue
    bool stopping_ = false;
    KernelHandle thread_;
};

}  // namespace Orvane
