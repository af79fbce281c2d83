#pragma once

#include <windows.h>
#include <winhttp.h>

namespace Orvane {

// Owns one WinHTTP handle (session, connection or request) and closes it on
// every path.
class WinHttpHandle {
public:
    WinHttpHandle() = default;
    explicit WinHttpHandle(HINTERNET handle) : handle_(handle) {}
    ~WinHttpHandle() { Reset(); }
    WinHttpHandle(const WinHttpHandle&) = delete;
    WinHttpHandle& operator=(const WinHttpHandle&) = delete;

    HINTERNET Get() const { return handle_; }
    void Reset(HINTERNET handle = nullptr)
    {
        if (handle_) {
            WinHttpCloseHandle(handle_);
        }
        handle_ = handle;
    }

private:
    HINTERNET handle_ = nullptr;
};

}  // namespace Orvane
