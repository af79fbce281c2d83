#pragma once

#include <winsock2.h>

#include <utility>

namespace Orvane {

// Windows Sockets 2.2 for the lifetime of the object; every successful start
// is matched by one WSACleanup.
class WinsockSession {
public:
    WinsockSession()
    {
        WSADATA data = {};
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockSession()
    {
        if (started_) {
            WSACleanup();
        }
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

    bool Started() const { return started_; }

private:
    bool started_ = false;
};

// Owns a socket and closes it on every path.
class SocketHandle {
public:
    explicit SocketHandle(SOCKET handle) : handle_(handle) {}
    ~SocketHandle()
    {
        if (Valid()) {
            closesocket(handle_);
        }
    }
    SocketHandle(SocketHandle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_SOCKET)) {}
    SocketHandle& operator=(SocketHandle&&) = delete;
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;

    SOCKET Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_SOCKET; }

private:
    SOCKET handle_;
};

}  // namespace Orvane
