#pragma once

#include "base/Handles.h"

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

}  // namespace Orvane
