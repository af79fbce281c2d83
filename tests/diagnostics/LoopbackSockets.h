#pragma once

// Winsock pieces for the reachability tests: listeners and clients on
// 127.0.0.1 only.

#include <winsock2.h>

#include <cstdint>
#include <vector>

#include "diagnostics/WinsockSession.h"

namespace Orvane::Fixture {


// A new IPv4 TCP socket.
SocketHandle NewTcpSocket();

// Binds the socket to 127.0.0.1:port (0: any free port) and returns the port
// it got, or 0 when binding failed.
std::uint16_t BindLoopback(const SocketHandle& socket, std::uint16_t port = 0);

bool WaitReadable(SOCKET socket, int waitMs);
bool WaitWritable(SOCKET socket, int waitMs);

// Accepts one pending connection of the listener (waiting at most 2 s) and
// tells whether its peer closed it without sending anything.
bool AcceptsAnEmptyConnection(const SocketHandle& listener);

// Connects clients to 127.0.0.1:port, whose listener never accepts, until one
// stays pending: the accept queue is then full and new attempts are dropped,
// as by a host whose packets vanish. The clients must stay open meanwhile.
bool FillAcceptQueue(std::uint16_t port, std::vector<SocketHandle>& clients);

}  // namespace Orvane::Fixture
