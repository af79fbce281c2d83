#pragma once

#include <cstdint>
#include <string>

namespace Orvane {

struct ConnectionTestResult {
    bool Reachable = false;  // the TCP connection was established
    // Milliseconds from just before name resolution to the end of the wait;
    // 0 when the wait was never reached (no winsock, no address, no socket).
    std::int32_t LatencyMs = 0;
};

// Tests whether host accepts a TCP connection on port 80 within 2 seconds.
// Nothing is sent; the connection is closed at once. Only the first IPv4
// address of the name is tried.
ConnectionTestResult TestServerConnection(const std::string& host);

// TestServerConnection with an explicit port and wait.
ConnectionTestResult TestServerConnectionOn(const std::string& host, std::uint16_t port, int waitMs);

}  // namespace Orvane
