#include "base/Thread.h"

#include <windows.h>

#include <memory>

namespace Orvane {

namespace {

DWORD WINAPI RunWork(void* parameter)
{
    const std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(parameter));
    (*work)();
    return 0;
}

}  // namespace

KernelHandle StartThread(std::function<void()> work)
{
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    KernelHandle thread(CreateThread(nullptr, 0, &RunWork, owned.get(), 0, nullptr));
    if (thread) {
        owned.release();  // the thread's now
    }
    return thread;
}

OwnedThreads::~OwnedThreads()
{
    WaitAll(INFINITE);
}

void OwnedThreads::Add(KernelHandle thread)
{
    if (thread) {
        Forget();
        threads_.push_back(std::move(thread));
    }
}

void OwnedThreads::Forget()
{
    std::vector<KernelHandle> running;
    for (KernelHandle& thread : threads_) {
        if (WaitForSingleObject(thread.Get(), 0) != WAIT_OBJECT_0) {
            running.push_back(std::move(thread));
        }
    }
    threads_ = std::move(running);
}

bool OwnedThreads::WaitAll(unsigned timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (const KernelHandle& thread : threads_) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = timeoutMs == INFINITE ? INFINITE
                           : now >= deadline     ? 0
                                                 : static_cast<DWORD>(deadline - now);
        if (WaitForSingleObject(thread.Get(), left) != WAIT_OBJECT_0) {
            return false;
        }
    }
    threads_.clear();
    return true;
}

}  // namespace Orvane
