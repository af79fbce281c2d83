#pragma once

#include <windows.h>

#include <string>

#include "base/Handles.h"

namespace Orvane {

// What the answer of CreateMutexW for the single-instance mutex says.
enum class InstanceMutex {
    FirstCopy,    // this process holds the mutex (or could not make one: run anyway)
    AnotherCopy,  // another copy of the program runs
};

// `created` is whether CreateMutexW returned a handle, `lastError` its
// GetLastError. A copy started elevated makes a mutex a normal copy may not
// open (ERROR_ACCESS_DENIED, no handle): that copy runs too.
InstanceMutex ReadInstanceMutex(bool created, DWORD lastError);

// The single-instance mutex of one name, held by the thread that acquired it.
class InstanceLock {
public:
    explicit InstanceLock(std::wstring name) : name_(std::move(name)) {}

    // Takes the mutex. While another copy holds it, waits up to `waitMs` for
    // it to let go (a program handing over to its update); AnotherCopy when
    // it did not.
    InstanceMutex Acquire(DWORD waitMs);
    // Lets go of the mutex (on the thread that acquired it), so another copy
    // can take it.
    void Release();

private:
    std::wstring name_;
    KernelHandle handle_;
    bool owned_ = false;
};

}  // namespace Orvane
