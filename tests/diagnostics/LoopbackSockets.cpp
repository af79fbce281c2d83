#include "LoopbackSockets.h"

namespace Orvane::Fixture {

namespace {

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

timeval Milliseconds(int waitMs)
{
    timeval wait = {};
    wait.tv_sec = waitMs / 1000;
    wait.tv_usec = (waitMs % 1000) * 1000;
    return wait;
}

}  // namespace

SocketHandle NewTcpSocket()
{
    return SocketHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

std::uint16_t BindLoopback(const SocketHandle& socket, std::uint16_t port)
{
    sockaddr_in address = Loopback(port);
    if (!socket.Valid() || bind(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return 0;
    }
    int length = sizeof address;
    if (getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

bool WaitReadable(SOCKET socket, int waitMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval wait = Milliseconds(waitMs);
    return select(0, &readable, nullptr, nullptr, &wait) > 0;
}

bool WaitWritable(SOCKET socket, int waitMs)
{
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(socket, &writable);
    timeval wait = Milliseconds(waitMs);
    return select(0, nullptr, &writable, nullptr, &wait) > 0;
}

bool AcceptsAnEmptyConnection(const SocketHandle& listener)
{
    if (!WaitReadable(listener.Get(), 2000)) {
        return false;
    }
    const SocketHandle accepted(accept(listener.Get(), nullptr, nullptr));
    if (!accepted.Valid() || !WaitReadable(accepted.Get(), 2000)) {
        return false;
    }
    char byte = 0;
    return recv(accepted.Get(), &byte, 1, 0) == 0;
}

bool FillAcceptQueue(std::uint16_t port, std::vector<SocketHandle>& clients)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        SocketHandle client = NewTcpSocket();
        u_long nonBlocking = 1;
        ioctlsocket(client.Get(), FIONBIO, &nonBlocking);
        const sockaddr_in address = Loopback(port);
        connect(client.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        const bool connected = WaitWritable(client.Get(), 500);
        clients.push_back(std::move(client));
        if (!connected) {
            return true;
        }
    }
    return false;
}

}  // namespace Orvane::Fixture
