#include "update/HashingThread.h"

#include <windows.h>

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
    changed_.notify_all();
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
        changed_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (pending_.empty()) {
            return;  // stopping, and nothing left to hash
        }
        Piece piece = std::move(pending_.front());
        pending_.pop_front();
        busy_ = true;
        lock.unlock();
        piece.hash->Add(piece.bytes.data(), piece.bytes.size());
        lock.lock();
        busy_ = false;
        pendingBytes_ -= piece.bytes.size();
        piece.bytes.clear();
        spare_.push_back(std::move(piece.bytes));
        changed_.notify_all();
    }
}

void HashingThread::Add(ContentHash& hash, const char* data, size_t size)
{
    if (!thread_) {
        hash.Add(data, size);
        return;
    }
    if (filling_.hash != &hash && !filling_.bytes.empty()) {
        HandOver();
    }
    filling_.hash = &hash;
    while (size > 0) {
        if (filling_.bytes.capacity() < kBlockBytes) {
            filling_.bytes.reserve(kBlockBytes);
        }
        const size_t room = kBlockBytes - filling_.bytes.size();
        const size_t taken = size < room ? size : room;
        filling_.bytes.insert(filling_.bytes.end(), data, data + taken);
        data += taken;
        size -= taken;
        if (filling_.bytes.size() == kBlockBytes) {
            HandOver();
        }
    }
}

void HashingThread::HandOver()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return pendingBytes_ < kMaxPendingBytes; });
    pendingBytes_ += filling_.bytes.size();
    ContentHash* const hash = filling_.hash;
    pending_.push_back(std::move(filling_));
    filling_ = Piece{hash, {}};
    if (!spare_.empty()) {
        filling_.bytes = std::move(spare_.back());
        spare_.pop_back();
    }
    changed_.notify_all();
}

void HashingThread::Drain()
{
    if (!thread_) {
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return pending_.empty() && !busy_; });
    lock.unlock();
    // The rest is hashed here: a small file's body never waits for a hand-over.
    if (!filling_.bytes.empty()) {
        filling_.hash->Add(filling_.bytes.data(), filling_.bytes.size());
        filling_.bytes.clear();
    }
}

}  // namespace Orvane
