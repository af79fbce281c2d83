#include "update/HashingThread.h"

#include <windows.h>

#include <cstring>

namespace Orvane {

namespace {

// Bounds the memory a download ahead of its hash may hold.
constexpr size_t kMaxPendingBytes = 8 * 1024 * 1024;
constexpr size_t kBlockBytes = 1024 * 1024;

}  // namespace

HashingThread::HashingThread()
{
    thread_.Reset(CreateThread(nullptr, 0, &HashingThread::Run, this, 0, nullptr));
}

HashingThread::~HashingThread()
{
    if (!thread_) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_.notify_one();
    WaitForSingleObject(thread_.Get(), INFINITE);
}

DWORD WINAPI HashingThread::Run(void* self)
{
    static_cast<HashingThread*>(self)->Work();
    return 0;
}

void HashingThread::Work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        threadWaits_ = true;
        work_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        threadWaits_ = false;
        if (pending_.empty()) {
            return;  // stopping, and nothing left to hash
        }
        Piece piece = std::move(pending_.front());
        pending_.pop_front();
        busy_ = true;
        lock.unlock();
        piece.hash->Add(piece.bytes.get(), piece.size);
        lock.lock();
        busy_ = false;
        pendingBytes_ -= piece.size;
        spare_.push_back(std::move(piece.bytes));
        if (producerWaits_) {
            room_.notify_one();
        }
    }
}

void HashingThread::Fill(ContentHash& hash)
{
    if (filling_.size > 0 && (filling_.hash != &hash || filling_.size == kBlockBytes)) {
        HandOver();
    }
    filling_.hash = &hash;
    if (!filling_.bytes) {
        filling_.bytes.reset(new char[kBlockBytes]);
    }
}

char* HashingThread::Room(ContentHash& hash, size_t& room)
{
    room = 0;
    if (!thread_) {
        return nullptr;
    }
    Fill(hash);
    room = kBlockBytes - filling_.size;
    return filling_.bytes.get() + filling_.size;
}

void HashingThread::Add(ContentHash& hash, const char* data, size_t size)
{
    if (!thread_) {
        hash.Add(data, size);
        return;
    }
    while (size > 0) {
        Fill(hash);
        char* const end = filling_.bytes.get() + filling_.size;
        const size_t room = kBlockBytes - filling_.size;
        const size_t taken = size < room ? size : room;
        if (data != end) {  // read elsewhere, not into Room
            std::memcpy(end, data, taken);
        }
        filling_.size += taken;
        data += taken;
        size -= taken;
    }
    if (filling_.size == kBlockBytes) {
        HandOver();
    }
}

void HashingThread::HandOver()
{
    std::unique_lock<std::mutex> lock(mutex_);
    producerWaits_ = true;
    room_.wait(lock, [this] { return pendingBytes_ < kMaxPendingBytes; });
    producerWaits_ = false;
    pendingBytes_ += filling_.size;
    ContentHash* const hash = filling_.hash;
    pending_.push_back(std::move(filling_));
    filling_ = Piece{};
    filling_.hash = hash;
    if (!spare_.empty()) {
        filling_.bytes = std::move(spare_.back());
        spare_.pop_back();
    }
    if (threadWaits_) {
        work_.notify_one();
    }
}

void HashingThread::Drain()
{
    if (!thread_) {
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    producerWaits_ = true;
    room_.wait(lock, [this] { return pending_.empty() && !busy_; });
    producerWaits_ = false;
    lock.unlock();
    // The rest is hashed here: a small file's body never waits for a hand-over.
    if (filling_.size > 0) {
        filling_.hash->Add(filling_.bytes.get(), filling_.size);
        filling_.size = 0;
    }
}

}  // namespace Orvane
