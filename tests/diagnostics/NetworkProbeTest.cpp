#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "LoopbackSockets.h"
#include "diagnostics/NetworkProbe.h"

// Every connection here goes to 127.0.0.1 on a free port. The service's host
// names, port 80 and names that would need a name server are tried only inside
// a private network namespace (NamespaceNetworkTest.cpp).

namespace Orvane {
namespace {

constexpr int kWaitMs = 2000;

int ElapsedMs(std::chrono::steady_clock::time_point start)
{
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count());
}

class NetworkProbeTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(winsock.Started()); }

    // Probes 127.0.0.1:port and checks that it gave up after the full wait.
    void ExpectUnreachableAfterTheWait(std::uint16_t port)
    {
        const auto start = std::chrono::steady_clock::now();
        const ConnectionTestResult result = TestServerConnectionOn("127.0.0.1", port, kWaitMs);
        const int callMs = ElapsedMs(start);
        RecordProperty("LatencyMs", result.LatencyMs);
        EXPECT_FALSE(result.Reachable);
        EXPECT_GE(result.LatencyMs, 1800);
        EXPECT_LE(result.LatencyMs, 4000);
        EXPECT_LE(result.LatencyMs, callMs);
    }

    WinsockSession winsock;
};

TEST_F(NetworkProbeTest, ListenerIsReachableAndSeesAnEmptyConnection)
{
    const SocketHandle listener = Fixture::NewTcpSocket();
    const std::uint16_t port = Fixture::BindLoopback(listener);
    ASSERT_NE(port, 0);
    ASSERT_EQ(listen(listener.Get(), SOMAXCONN), 0);

    const ConnectionTestResult result = TestServerConnectionOn("localhost", port, kWaitMs);
    RecordProperty("LatencyMs", result.LatencyMs);
    EXPECT_TRUE(result.Reachable);
    EXPECT_GE(result.LatencyMs, 0);
    EXPECT_LT(result.LatencyMs, 1000);
    // The probe sent nothing and has closed its end already.
    EXPECT_TRUE(Fixture::AcceptsAnEmptyConnection(listener));
}

TEST_F(NetworkProbeTest, RefusedPortRunsIntoTheWait)
{
    // Bound but not listening: connections are refused, and no one else can
    // take the port meanwhile.
    const SocketHandle holder = Fixture::NewTcpSocket();
    const std::uint16_t port = Fixture::BindLoopback(holder);
    ASSERT_NE(port, 0);
    ExpectUnreachableAfterTheWait(port);
}

TEST_F(NetworkProbeTest, SilentListenerRunsIntoTheWait)
{
    const SocketHandle listener = Fixture::NewTcpSocket();
    const std::uint16_t port = Fixture::BindLoopback(listener);
    ASSERT_NE(port, 0);
    ASSERT_EQ(listen(listener.Get(), 0), 0);
    std::vector<SocketHandle> clients;
    ASSERT_TRUE(Fixture::FillAcceptQueue(port, clients));
    ExpectUnreachableAfterTheWait(port);
}

TEST_F(NetworkProbeTest, WaitIsTheGivenOne)
{
    const SocketHandle holder = Fixture::NewTcpSocket();
    const std::uint16_t port = Fixture::BindLoopback(holder);
    ASSERT_NE(port, 0);
    const ConnectionTestResult result = TestServerConnectionOn("127.0.0.1", port, 300);
    EXPECT_FALSE(result.Reachable);
    EXPECT_GE(result.LatencyMs, 250);
    EXPECT_LT(result.LatencyMs, 1500);
}

}  // namespace
}  // namespace Orvane
