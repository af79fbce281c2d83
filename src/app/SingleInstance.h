#pragma once

#include <windows.h>

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

}  // namespace Orvane
