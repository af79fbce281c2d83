#pragma once

#include <windows.h>
#include <winhttp.h>

#include "app/UniqueHandle.h"

namespace Orvane {

// One WinHTTP handle: session, connection or request.
struct WinHttpHandleTraits {
    using Handle = HINTERNET;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { WinHttpCloseHandle(handle); }
};
using WinHttpHandle = UniqueHandle<WinHttpHandleTraits>;

}  // namespace Orvane
