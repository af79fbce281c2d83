#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "base/Handles.h"
#include "diagnostics/FileDigest.h"

namespace Orvane {

// Feeds ContentHashes on a thread of its own, so a download hashes what it has
// written while it waits for the next bytes from the network. Bytes gather in
// a block that each full block (1 MiB) leaves for the thread, the producer
// waiting only when a few MiB wait to be hashed: one hand-over per block,
// however small the network's pieces (a hand-over costs the wineserver under
// Wine). A download reads straight into the block (Room), so its bytes are
// never copied on the receiving thread; other bytes are copied in. What is
// left at Drain, a small file's whole body, is hashed at once, as everything
// is where no thread could be made. One per transfer of an update run.
class HashingThread {
public:
    HashingThread();
    ~HashingThread();  // hashes what waits, then ends the thread
    HashingThread(const HashingThread&) = delete;
    HashingThread& operator=(const HashingThread&) = delete;

    // Where the next bytes of `hash`'s content may be read to: `room` bytes at
    // the end of the block being filled, valid until the next call. Bytes read
    // there join the block, uncopied, when they are passed to Add. Null (room
    // 0) without a thread.
    char* Room(ContentHash& hash, size_t& room);
    void Add(ContentHash& hash, const char* data, size_t size);
    // Returns once every byte added so far is in its hash: only then may the
    // caller read, finish or restart a hash it added to.
    void Drain();

private:
    struct Piece {
        ContentHash* hash = nullptr;
        std::unique_ptr<char[]> bytes;
        size_t size = 0;
    };

    static DWORD WINAPI Run(void* self);
    void Work();

    // Gives the block being filled to `hash`, with room for at least one byte.
    void Fill(ContentHash& hash);
    // Hands the block being filled to the thread. Called with mutex_ unlocked.
    void HandOver();

    Piece filling_;  // the producer's alone
    std::mutex mutex_;
    std::condition_variable work_;  // the thread waits for a piece
    std::condition_variable room_;  // the producer waits for room or the end
    std::deque<Piece> pending_;
    std::vector<std::unique_ptr<char[]>> spare_;  // hashed blocks, for reuse
    size_t pendingBytes_ = 0;
    bool busy_ = false;  // the thread holds a piece outside the queue
    // Who waits: a wake-up is a system call (a wineserver call under Wine),
    // made only for a thread that needs it.
    bool threadWaits_ = false;
    bool producerWaits_ = false;
    bool stopping_ = false;
    KernelHandle thread_;
};

}  // namespace Orvane
