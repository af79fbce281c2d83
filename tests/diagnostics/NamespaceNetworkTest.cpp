// Reachability tests with the service's own host names on port 80. They need
// a private network namespace in which those names resolve to 127.0.0.1 and
// no name server answers; scripts/netns-probe-test.sh provides it and is the
// only way to run this program.

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>

#include "LoopbackSockets.h"
#include "base/ServiceEndpoints.h"
#include "diagnostics/NetworkProbe.h"

namespace Orvane {
namespace {

class PrivateNetworkTest : public testing::Test {
protected:
    void SetUp() override
    {
        // Outside the namespace these names are the real service's.
        wchar_t flag[8] = {};
        ASSERT_GT(GetEnvironmentVariableW(L"ORVANE_PRIVATE_NETWORK", flag, 8), 0u)
            << "run only through scripts/netns-probe-test.sh";
        ASSERT_TRUE(winsock.Started());
    }

    WinsockSession winsock;
};

TEST_F(PrivateNetworkTest, ServiceHostsAnswerOnPort80)
{
    const SocketHandle listener = Fixture::NewTcpSocket();
    ASSERT_EQ(Fixture::BindLoopback(listener, 80), 80);
    ASSERT_EQ(listen(listener.Get(), SOMAXCONN), 0);
    for (const char* host : {ServiceEndpoints::ApiHost, ServiceEndpoints::GameHost}) {
        const ConnectionTestResult result = TestServerConnection(host);
        RecordProperty(host, result.LatencyMs);
        EXPECT_TRUE(result.Reachable) << host;
        EXPECT_GE(result.LatencyMs, 0) << host;
        EXPECT_LT(result.LatencyMs, 1000) << host;
        EXPECT_TRUE(Fixture::AcceptsAnEmptyConnection(listener)) << host;
    }
}

TEST_F(PrivateNetworkTest, ClosedPort80RunsIntoTheWait)
{
    // Bound, not listening: connections are refused.
    const SocketHandle holder = Fixture::NewTcpSocket();
    ASSERT_EQ(Fixture::BindLoopback(holder, 80), 80);
    const ConnectionTestResult result = TestServerConnection(ServiceEndpoints::GameHost);
    RecordProperty("LatencyMs", result.LatencyMs);
    EXPECT_FALSE(result.Reachable);
    EXPECT_GE(result.LatencyMs, 1800);
    EXPECT_LE(result.LatencyMs, 4000);
}

TEST_F(PrivateNetworkTest, UnresolvableNameFailsBeforeTheWait)
{
    const auto start = std::chrono::steady_clock::now();
    const ConnectionTestResult result = TestServerConnection("orvane-probe.invalid");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(result.Reachable);
    EXPECT_EQ(result.LatencyMs, 0);
    EXPECT_LT(elapsed, std::chrono::seconds(1));
}

}  // namespace
}  // namespace Orvane
