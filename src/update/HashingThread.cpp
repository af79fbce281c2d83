#include "update/HashingThread.h"

#include <windows.h>

namespace Orvane {

namespace {

// Bounds the memory a download ahead of its hash may hold.
constexpr size_t kMaxPendingBytes = 8 * 1024 * 1024;
// Below this a copy and a hand-over cost about what hashing does.
constexpr size_t kInlineBytes = 64 * 1024;

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
        changed_.notify_all();
    }
}

void HashingThread::Add(Md5Hash& hash, const char* data, size_t size)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_ || (size < kInlineBytes && pending_.empty() && !busy_)) {
        lock.unlock();
        hash.Add(data, size);
        return;
    }
    changed_.wait(lock, [this] { return pendingBytes_ < kMaxPendingBytes; });
    lock.unlock();
    Piece piece{&hash, std::vector<char>(data, data + size)};
    lock.lock();
    pendingBytes_ += size;
    pending_.push_back(std::move(piece));
    changed_.notify_all();
}

void HashingThread::Drain()
{
    if (!thread_) {
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return pending_.empty() && !busy_; });
}

}  // namespace Orvane
