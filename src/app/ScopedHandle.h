#pragma once

#include <windows.h>

#include "app/UniqueHandle.h"

namespace Orvane {

// Kernel handles (files, processes, threads, mutexes). Both null and
// INVALID_HANDLE_VALUE mean "no handle", since APIs differ in which they return.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { CloseHandle(handle); }
};
using ScopedHandle = UniqueHandle<KernelHandleTraits>;

// Directory listings from FindFirstFileW.
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle handle) { return handle != INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { FindClose(handle); }
};
using FindHandle = UniqueHandle<FindHandleTraits>;

}  // namespace Orvane
