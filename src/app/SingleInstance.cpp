#include "app/SingleInstance.h"

namespace Orvane {

namespace {

// How often a copy waiting for a mutex it may not open (an elevated copy's) asks again.
constexpr DWORD kRetryMs = 50;

}  // namespace

InstanceMutex ReadInstanceMutex(bool created, DWORD lastError)
{
    if (created ? lastError == ERROR_ALREADY_EXISTS : lastError == ERROR_ACCESS_DENIED) {
        return InstanceMutex::AnotherCopy;
    }
    return InstanceMutex::FirstCopy;
}

InstanceMutex InstanceLock::Acquire(DWORD waitMs)
{
    Release();
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        KernelHandle mutex(CreateMutexW(nullptr, TRUE, name_.c_str()));
        const DWORD error = GetLastError();
        if (ReadInstanceMutex(static_cast<bool>(mutex), error) == InstanceMutex::FirstCopy) {
            owned_ = static_cast<bool>(mutex);
            handle_ = std::move(mutex);
            return InstanceMutex::FirstCopy;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return InstanceMutex::AnotherCopy;
        }
        const DWORD left = static_cast<DWORD>(deadline - now);
        if (mutex) {
            // An abandoned mutex (the other copy ended without letting go) is ours as well.
            const DWORD waited = WaitForSingleObject(mutex.Get(), left);
            if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
                owned_ = true;
                handle_ = std::move(mutex);
                return InstanceMutex::FirstCopy;
            }
            if (waited == WAIT_TIMEOUT) {
                return InstanceMutex::AnotherCopy;
            }
        }
        Sleep(left < kRetryMs ? left : kRetryMs);
    }
}

void InstanceLock::Release()
{
    if (owned_) {
        ReleaseMutex(handle_.Get());
        owned_ = false;
    }
    handle_.Reset();
}

}  // namespace Orvane
