#include "diagnostics/NetworkProbe.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>

#include "diagnostics/WinsockSession.h"

namespace Orvane {

namespace {

constexpr std::uint16_t kServicePort = 80;
constexpr int kConnectWaitMs = 2000;

class AddressList {
public:
    AddressList() = default;
    ~AddressList()
    {
        if (list_) {
            freeaddrinfo(list_);
        }
    }
    AddressList(const AddressList&) = delete;
    AddressList& operator=(const AddressList&) = delete;
    addrinfo** Out() { return &list_; }
    const addrinfo* First() const { return list_; }

private:
    addrinfo* list_ = nullptr;
};

}  // namespace

ConnectionTestResult TestServerConnectionOn(const std::string& host, std::uint16_t port, int waitMs)
{
    ConnectionTestResult result;
    // Declared first so it ends last: the address list and the socket are
    // released before WSACleanup.
    const WinsockSession session;
    if (!session.Started()) {
        return result;
    }
    const auto start = std::chrono::steady_clock::now();

    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    AddressList addresses;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, addresses.Out()) != 0 ||
        !addresses.First()) {
        return result;
    }
    const addrinfo& address = *addresses.First();
    const SocketHandle connection(socket(address.ai_family, address.ai_socktype, address.ai_protocol));
    if (!connection.Valid()) {
        return result;
    }

    // A non-blocking connect bounds the wait; its immediate result is always
    // "in progress" or an error that the wait below reports as unreachable.
    u_long nonBlocking = 1;
    ioctlsocket(connection.Get(), FIONBIO, &nonBlocking);
    connect(connection.Get(), address.ai_addr, static_cast<int>(address.ai_addrlen));

    // Only the write set is watched: it signals an established connection. A
    // refused connection shows in the exception set alone, so it also runs
    // into the time-out.
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(connection.Get(), &writable);
    timeval wait = {};
    wait.tv_sec = waitMs / 1000;
    wait.tv_usec = (waitMs % 1000) * 1000;
    const int ready = select(0, nullptr, &writable, nullptr, &wait);

    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    result.LatencyMs = static_cast<std::int32_t>(elapsed.count());

    if (ready > 0) {
        int error = -1;
        int length = sizeof error;
        if (getsockopt(connection.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0) {
            result.Reachable = error == 0;
        }
    }
    return result;
}

ConnectionTestResult TestServerConnection(const std::string& host)
{
    return TestServerConnectionOn(host, kServicePort, kConnectWaitMs);
}

}  // namespace Orvane
