#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "PortalServer.h"
#include "TestSupport.h"
#include "update/HttpClient.h"

namespace Orvane {
namespace {

using Fixture::Serve;

// What the tests let Get keep in memory.
constexpr int64_t kBodyLimit = 1024 * 1024;

TEST(SplitUrlTest, SplitsHostPathAndPort)
{
    struct Case {
        const char* url;
        const wchar_t* host;
        const wchar_t* path;
        int port;
        bool secure = false;
    };
    const Case cases[] = {
        {"http://H/dir/file.bin", L"H", L"/dir/file.bin", 80},
        {"H:8080", L"H", L"/", 8080},                          // no scheme, no path
        {"https://H/x", L"H", L"/x", 443, true},
        {"HTTPS://H/x", L"H", L"/x", 443, true},
        {"https://H:8443/x", L"H", L"/x", 8443, true},
        {"https://H:80/x", L"H", L"/x", 80, true},             // TLS on whatever port is named
        {"ftp://H/x", L"H", L"/x", 80},                        // any other scheme: plain HTTP
        {"httpsx://H/x", L"H", L"/x", 80},
        {"xhttps://H/x", L"H", L"/x", 80},
        {"http://H:/x", L"H", L"/x", 0},                       // colon without digits
        {"http://H:12ab/x", L"H", L"/x", 12},                  // leading digits only
        {"http://H", L"H", L"/", 80},
        {"http://127.0.0.1:8080/a/b?q=1&r=%20", L"127.0.0.1", L"/a/b?q=1&r=%20", 8080},
        {"http://h/\xE6\x95\xB0\xE6\x8D\xAE/a.bin", L"h", L"/数据/a.bin", 80},  // UTF-8 path
        {"http://H:99999999999999999999/x", L"H", L"/x", 2147483647},  // saturates, no overflow
        {"", L"", L"/", 80},
        {"://", L"", L"/", 80},
        {"http:///x", L"", L"/x", 80},
    };
    for (const Case& c : cases) {
        std::wstring host = L"stale";
        std::wstring path = L"stale";
        int port = -1;
        bool secure = !c.secure;
        EXPECT_TRUE(SplitUrl(c.url, host, path, port, &secure)) << c.url;
        EXPECT_EQ(host, c.host) << c.url;
        EXPECT_EQ(path, c.path) << c.url;
        EXPECT_EQ(port, c.port) << c.url;
        EXPECT_EQ(secure, c.secure) << c.url;
    }
}

TEST(WinHttpErrors, NamesTheCodesSupportMustTellApart)
{
    struct Case {
        unsigned long code;
        const char* described;
        bool certificate;
        bool connection;  // no connection could be made
    };
    const Case cases[] = {
        {12175, "12175 ERROR_WINHTTP_SECURE_FAILURE", true, false},
        {12037, "12037 ERROR_WINHTTP_SECURE_CERT_DATE_INVALID", true, false},
        {12038, "12038 ERROR_WINHTTP_SECURE_CERT_CN_INVALID", true, false},
        {12044, "12044 ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED", true, false},
        {12045, "12045 ERROR_WINHTTP_SECURE_INVALID_CA", true, false},
        {12057, "12057 ERROR_WINHTTP_SECURE_CERT_REV_FAILED", true, false},
        {12169, "12169 ERROR_WINHTTP_SECURE_INVALID_CERT", true, false},
        {12179, "12179 ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE", true, false},
        {12029, "12029 ERROR_WINHTTP_CANNOT_CONNECT", false, true},
        {12007, "12007 ERROR_WINHTTP_NAME_NOT_RESOLVED", false, true},
        {12002, "12002 ERROR_WINHTTP_TIMEOUT", false, true},
        {12030, "12030 ERROR_WINHTTP_CONNECTION_ERROR", false, false},
        {12152, "12152 ERROR_WINHTTP_INVALID_SERVER_RESPONSE", false, false},
        // Wine's answer to an untrusted certificate; a failed handshake on Windows.
        {12157, "12157 ERROR_WINHTTP_SECURE_CHANNEL_ERROR", true, false},
        {10060, "10060 WSAETIMEDOUT", false, true},
        {10061, "10061 WSAECONNREFUSED", false, true},
        {5, "5", false, false},
        {0, "0", false, false},
        {12999, "12999", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DescribeWinHttpError(c.code), c.described) << c.code;
        EXPECT_EQ(WinHttpErrorName(c.code) != nullptr, std::string(c.described).find(' ') != std::string::npos)
            << c.code;
        EXPECT_EQ(IsCertificateFailure(c.code), c.certificate) << c.code;
        EXPECT_EQ(IsConnectionFailure(c.code), c.connection) << c.code;
    }
}

// A few seconds at most for anything that has to time out.
HttpTimeouts ShortTimeouts()
{
    HttpTimeouts timeouts;
    timeouts.resolveMs = 2000;
    timeouts.connectMs = 2000;
    timeouts.sendMs = 2000;
    timeouts.receiveMs = 1000;
    return timeouts;
}

std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return bytes;
}

struct ProgressCall {
    int64_t downloaded;
    int64_t total;
    double bytesPerSecond;
};

class HttpClientTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Started()) << server.Error(); }

    // Downloads `path` from the server, recording every progress call.
    bool Download(const std::string& path, const std::wstring& target,
                  int64_t maxBytes = HttpClient::kNoLimit)
    {
        calls.clear();
        return client.DownloadFile(
            server.Url(path), target,
            [this](int64_t downloaded, int64_t total, double speed) {
                calls.push_back({downloaded, total, speed});
            },
            maxBytes);
    }

    Fixture::PortalServer server;
    Fixture::TempDir temp;
    HttpClient client{ShortTimeouts()};
    std::vector<ProgressCall> calls;
};

TEST_F(HttpClientTest, GetReturnsTheBodyExactly)
{
    const std::string body = std::string("line one\r\nline two\n\0binary\xFF", 28);
    server.Route("a.txt", body);
    server.Route("nolength.txt", body, 200, Serve::NoLength);
    server.Route("empty.txt", "");

    std::string received = "old";
    ASSERT_TRUE(client.Get(server.Url("a.txt"), received, kBodyLimit)) << client.lastError;
    EXPECT_EQ(received, body);

    received = "old";
    ASSERT_TRUE(client.Get(server.Url("nolength.txt"), received, kBodyLimit)) << client.lastError;
    EXPECT_EQ(received, body);

    received = "old";
    ASSERT_TRUE(client.Get(server.Url("empty.txt"), received, kBodyLimit)) << client.lastError;
    EXPECT_EQ(received, "");
    EXPECT_EQ(client.lastError, "");  // success leaves it as it was
}

TEST_F(HttpClientTest, FailuresKeepTheBodyAndGiveTheReason)
{
    server.Route("missing-on-purpose", "gone", 404);
    server.Route("broken", "oops", 500);
    server.Route("silent", "", 200, Serve::Silent);
    server.Route("stall", Pattern(200000), 200, Serve::Stall);
    server.Route("endless", "data", 200, Serve::Endless);
    server.Route("huge", std::string(static_cast<size_t>(kBodyLimit + 1), 'h'));

    struct Case {
        const char* path;
        const char* error;
    };
    const Case cases[] = {
        {"missing-on-purpose", "HTTP status code: 404"},
        {"not-routed", "HTTP status code: 404"},
        {"broken", "HTTP status code: 500"},
        {"silent", "WinHttpReceiveResponse failed: "},     // accepted, never answered
        {"stall", "WinHttpQueryDataAvailable failed: "},   // stops mid-body
        {"endless", "Response too large"},               // gives up past the limit
        {"huge", "Response too large"},                  // announced too large
    };
    for (const Case& c : cases) {
        std::string body = "unchanged";
        client.lastError.clear();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(client.Get(server.Url(c.path), body, kBodyLimit)) << c.path;
        // The server took each of these connections, even the one that then fell silent.
        EXPECT_FALSE(client.lastFailedToConnect) << c.path;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        const std::string expected = c.error;
        if (expected.back() == ' ') {
            // A failed call names its code: a time-out's, whatever the system calls it.
            EXPECT_NE(client.lastErrorCode, 0u) << c.path;
            EXPECT_EQ(client.lastError, expected + DescribeWinHttpError(client.lastErrorCode)) << c.path;
        } else {
            EXPECT_EQ(client.lastError, expected) << c.path;
            EXPECT_EQ(client.lastErrorCode, 0u) << c.path;
        }
        EXPECT_EQ(body, "unchanged") << c.path;
        EXPECT_LT(seconds, 10) << c.path;
    }
}

TEST_F(HttpClientTest, UnreachableServerFailsToSend)
{
    Fixture::PortalServer closed;
    ASSERT_TRUE(closed.Started()) << closed.Error();
    const std::string url = closed.Url("url.txt");
    closed.Stop();  // nobody listens on that port any more

    // The failure names its code and the code's name, not only the call.
    const std::string refused = "WinHttpSendRequest failed: " + DescribeWinHttpError(ERROR_WINHTTP_CANNOT_CONNECT);
    std::string body = "unchanged";
    EXPECT_FALSE(client.Get(url, body, kBodyLimit));
    EXPECT_EQ(client.lastError, refused);
    EXPECT_EQ(client.lastErrorCode, static_cast<unsigned long>(ERROR_WINHTTP_CANNOT_CONNECT));
    EXPECT_TRUE(client.lastFailedToConnect);
    EXPECT_FALSE(client.DownloadFile(url, temp / L"f.bin", nullptr));
    EXPECT_EQ(client.lastError, refused);
    EXPECT_TRUE(client.lastFailedToConnect);
    EXPECT_FALSE(Fixture::Exists(temp / L"f.bin"));

    // A later success leaves no code behind.
    server.Route("a.txt", "body");
    EXPECT_TRUE(client.Get(server.Url("a.txt"), body, kBodyLimit));
    EXPECT_EQ(client.lastErrorCode, 0u);
    EXPECT_FALSE(client.lastFailedToConnect);
}

// Windows 7 offers TLS 1.2 only when the session asks for it, and an http
// portal may redirect to https: every session asks, whatever the scheme.
TEST_F(HttpClientTest, EverySessionAsksForTls12AndLaterWhateverTheScheme)
{
    constexpr unsigned long kTls12 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    constexpr unsigned long kTls13 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    server.Route("a.txt", "body");
    struct Case {
        const char* name;
        int accepted;  // how many refusals before the option is taken; 2: never
        std::vector<unsigned long> asked;
    };
    const Case cases[] = {
        {"a system that knows TLS 1.3", 0, {kTls12 | kTls13}},
        {"Windows 7 with TLS 1.2 installed", 1, {kTls12 | kTls13, kTls12}},
        {"a system that refuses the option", 2, {kTls12 | kTls13, kTls12}},
    };
    for (const Case& c : cases) {
        HttpClient fresh(ShortTimeouts());
        std::vector<unsigned long> asked;
        const HttpSessionCalls system = HttpSessionCalls::System();
        fresh.sessionCalls.setOption = [&](void* session, unsigned long option, unsigned long value) {
            EXPECT_EQ(option, static_cast<unsigned long>(WINHTTP_OPTION_SECURE_PROTOCOLS)) << c.name;
            asked.push_back(value);
            return static_cast<int>(asked.size()) > c.accepted && system.setOption(session, option, value);
        };
        std::string body;
        // Plain http: the system's defaults stay where the option is refused.
        ASSERT_TRUE(fresh.Get(server.Url("a.txt"), body, kBodyLimit)) << c.name << fresh.lastError;
        EXPECT_EQ(body, "body") << c.name;
        EXPECT_EQ(asked, c.asked) << c.name;
        // Once per session, not per request.
        ASSERT_TRUE(fresh.Get(server.Url("a.txt"), body, kBodyLimit)) << c.name;
        EXPECT_EQ(asked, c.asked) << c.name;
    }
}

// Transfers side by side need a connection each: older WinHTTP holds two per
// server unless told otherwise. The clients of the transfers share one
// session, opened once, whichever thread comes first.
TEST_F(HttpClientTest, ClientsOnOneSessionOpenItOnceWithTheirConnectionLimit)
{
    using Option = std::pair<unsigned long, unsigned long>;
    const Option tls{WINHTTP_OPTION_SECURE_PROTOCOLS,
                     WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3};
    server.Route("a.txt", "body");
    struct Case {
        const char* name;
        unsigned long limit;
        bool limitRefused;
        std::vector<Option> asked;
    };
    const Case cases[] = {
        {"the system's default", 0, false, {tls}},
        {"four transfers",
         4,
         false,
         {tls, {WINHTTP_OPTION_MAX_CONNS_PER_SERVER, 4}, {WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER, 4}}},
        {"a system that refuses the limit",
         8,
         true,
         {tls, {WINHTTP_OPTION_MAX_CONNS_PER_SERVER, 8}, {WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER, 8}}},
    };
    for (const Case& c : cases) {
        HttpClient first(ShortTimeouts());
        first.connectionsPerServer = c.limit;
        std::mutex lock;
        int opens = 0;
        std::vector<Option> asked;
        const HttpSessionCalls system = HttpSessionCalls::System();
        // A user who goes direct: one way out, so one session.
        first.sessionCalls.hasAutomaticProxy = [] { return false; };
        first.sessionCalls.readProxySettings = [](InternetProxySettings& settings) {
            settings = InternetProxySettings();
            return true;
        };
        first.sessionCalls.open = [&](const ProxyRoute& route) {
            const std::lock_guard<std::mutex> guard(lock);
            ++opens;
            return system.open(route);
        };
        first.sessionCalls.setOption = [&](void* session, unsigned long option, unsigned long value) {
            const std::lock_guard<std::mutex> guard(lock);
            asked.emplace_back(option, value);
            return !(c.limitRefused && option != WINHTTP_OPTION_SECURE_PROTOCOLS) &&
                   system.setOption(session, option, value);
        };
        const std::unique_ptr<HttpClient> second = first.OnSameSession();
        EXPECT_EQ(second->connectionsPerServer, c.limit) << c.name;
        std::string body;
        bool secondGot = false;
        std::string secondBody;
        std::thread other([&] { secondGot = second->Get(server.Url("a.txt"), secondBody, kBodyLimit); });
        const bool firstGot = first.Get(server.Url("a.txt"), body, kBodyLimit);
        other.join();
        EXPECT_TRUE(firstGot) << c.name << first.lastError;
        EXPECT_TRUE(secondGot) << c.name << second->lastError;
        EXPECT_EQ(body, "body") << c.name;
        EXPECT_EQ(secondBody, "body") << c.name;
        EXPECT_EQ(opens, 1) << c.name;
        EXPECT_EQ(asked, c.asked) << c.name;
    }
}

TEST_F(HttpClientTest, DownloadWritesTheFileAndReportsEachChunk)
{
    const std::string body = Pattern(300000);
    server.Route("big.bin", body);
    const std::wstring target = temp / L"big.bin";
    ASSERT_TRUE(Fixture::WriteBytes(target, std::string(400000, 'o')));  // replaced, not merged

    const DWORD caller = GetCurrentThreadId();
    DWORD reportingThread = 0;
    ASSERT_TRUE(client.DownloadFile(server.Url("big.bin"), target,
                                    [&](int64_t downloaded, int64_t total, double speed) {
                                        reportingThread = GetCurrentThreadId();
                                        calls.push_back({downloaded, total, speed});
                                    }))
        << client.lastError;
    EXPECT_EQ(Fixture::ReadBytes(target), body);
    EXPECT_EQ(reportingThread, caller);

    ASSERT_GT(calls.size(), 1u);
    int64_t previous = 0;
    for (const ProgressCall& call : calls) {
        EXPECT_GT(call.downloaded, previous);
        EXPECT_EQ(call.total, 300000);
        EXPECT_GE(call.bytesPerSecond, 0.0);
        previous = call.downloaded;
    }
    EXPECT_EQ(calls.back().downloaded, 300000);
}

TEST_F(HttpClientTest, DownloadWithoutLengthReportsTotalZero)
{
    const std::string body = Pattern(100000);
    server.Route("nolength.bin", body, 200, Serve::NoLength);
    ASSERT_TRUE(Download("nolength.bin", temp / L"f.bin")) << client.lastError;
    EXPECT_EQ(Fixture::ReadBytes(temp / L"f.bin"), body);
    ASSERT_FALSE(calls.empty());
    for (const ProgressCall& call : calls) {
        EXPECT_EQ(call.total, 0);
    }
    EXPECT_EQ(calls.back().downloaded, 100000);
}

TEST_F(HttpClientTest, ZeroByteDownloadTruncatesWithoutProgress)
{
    server.Route("empty.bin", "");
    const std::wstring target = temp / L"f.bin";
    ASSERT_TRUE(Fixture::WriteBytes(target, "old content"));
    ASSERT_TRUE(Download("empty.bin", target)) << client.lastError;
    bool readable = false;
    EXPECT_EQ(Fixture::ReadBytes(target, &readable), "");
    EXPECT_TRUE(readable);
    EXPECT_TRUE(calls.empty());
}

TEST_F(HttpClientTest, FailedStatusOrMissingDirectoryLeavesFilesAlone)
{
    server.Route("gone", "not this", 404);
    server.Route("ok.bin", "fine");
    const std::wstring target = temp / L"f.bin";
    ASSERT_TRUE(Fixture::WriteBytes(target, "old content"));

    EXPECT_FALSE(Download("gone", target));
    EXPECT_EQ(client.lastError, "HTTP status code: 404");
    EXPECT_EQ(Fixture::ReadBytes(target), "old content");

    EXPECT_FALSE(Download("ok.bin", temp / L"no-such-dir\\f.bin"));
    EXPECT_EQ(client.lastError, "Failed to open file: " + std::to_string(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(calls.empty());
}

// Under Wine, WinHTTP does not notice a body shorter than its Content-Length:
// the transfer "succeeds" with what arrived. The client compares the length
// itself; what arrived stays, so a later request can ask for the rest.
TEST_F(HttpClientTest, ADownloadShorterThanAnnouncedFailsAndKeepsWhatArrived)
{
    const std::string body = Pattern(100000);
    server.Route("cut.bin", body, 200, Serve::Cut);
    EXPECT_FALSE(Download("cut.bin", temp / L"f.bin"));
    EXPECT_EQ(client.lastError, "Response incomplete");
    EXPECT_EQ(Fixture::ReadBytes(temp / L"f.bin"), body.substr(0, 50000));
}

TEST_F(HttpClientTest, AResumedDownloadAsksForTheRestOrStartsAgain)
{
    const std::string body = Pattern(100000);
    server.Route("ranged.bin", body);
    server.Route("whole.bin", body, 200, Serve::NoRange);
    struct Case {
        const char* path;
        std::string before;   // what the file holds
        int64_t resumeFrom;
        int64_t maxBytes;
        bool ok;
        int64_t startOffset;  // reported before the first byte is written
        const char* range;    // the Range header sent, empty for none
    };
    const Case cases[] = {
        {"ranged.bin", body.substr(0, 30000), 30000, 100000, true, 30000, "bytes=30000-"},
        {"whole.bin", body.substr(0, 30000), 30000, 100000, true, 0, "bytes=30000-"},
        {"ranged.bin", "", 0, 100000, true, 0, ""},
        // The rest would pass the limit: the file is left as it was.
        {"ranged.bin", body.substr(0, 30000), 30000, 99999, false, -1, "bytes=30000-"},
    };
    for (const Case& c : cases) {
        const std::wstring target = temp / L"resumed.bin";
        ASSERT_TRUE(Fixture::WriteBytes(target, c.before));
        const size_t rangesBefore = server.Ranges().size();
        int64_t startOffset = -1;
        std::string seen;
        DownloadOptions options;
        options.resumeFrom = c.resumeFrom;
        options.maxBytes = c.maxBytes;
        options.onStart = [&](int64_t offset) { startOffset = offset; };
        options.onWritten = [&](const char* data, size_t size) { seen.append(data, size); };
        calls.clear();
        const bool ok = client.DownloadFile(
            server.Url(c.path), target,
            [this](int64_t downloaded, int64_t total, double speed) {
                calls.push_back({downloaded, total, speed});
            },
            options);
        EXPECT_EQ(ok, c.ok) << c.path << " " << c.resumeFrom << " " << client.lastError;
        EXPECT_EQ(startOffset, c.startOffset) << c.path << " " << c.resumeFrom;
        const std::vector<std::string> ranges = server.Ranges();
        EXPECT_EQ(ranges.size() > rangesBefore ? ranges.back().substr(ranges.back().find('\t') + 1) : "",
                  c.range)
            << c.path << " " << c.resumeFrom;
        if (c.ok) {
            EXPECT_EQ(Fixture::ReadBytes(target), body) << c.path << " " << c.resumeFrom;
            // The observer saw exactly the bytes written; progress counts the whole file.
            EXPECT_EQ(seen, body.substr(static_cast<size_t>(c.startOffset)));
            ASSERT_FALSE(calls.empty());
            EXPECT_EQ(calls.back().downloaded, 100000);
            EXPECT_EQ(calls.back().total, 100000);
        } else {
            EXPECT_EQ(Fixture::ReadBytes(target), c.before);
        }
    }
}

TEST_F(HttpClientTest, GetRefusesABodyShorterThanAnnounced)
{
    server.Route("url.txt", "http://127.0.0.1/files/", 200, Serve::Cut);
    std::string received = "old";
    EXPECT_FALSE(client.Get(server.Url("url.txt"), received, kBodyLimit));
    EXPECT_EQ(client.lastError, "Response incomplete");
    EXPECT_EQ(received, "old");
}

// Each chunk arrives where the caller's buffer says, no larger than its room;
// where it names no place, the client reads to a buffer of its own.
TEST_F(HttpClientTest, ADownloadReadsEachChunkWhereItsCallerSays)
{
    const std::string body = Pattern(300000);
    server.Route("sized.bin", body);
    server.Route("unsized.bin", body, 200, Serve::NoLength);
    struct Case {
        const char* path;
        size_t room;  // 0: no place named
    };
    const Case cases[] = {{"sized.bin", 1000}, {"sized.bin", 1 << 20}, {"unsized.bin", 777}, {"sized.bin", 0}};
    std::vector<char> buffer(1 << 20);
    for (const Case& c : cases) {
        const std::wstring target = temp / L"placed.bin";
        DeleteFileW(target.c_str());
        std::string seen;
        char* named = nullptr;
        size_t misplaced = 0;
        DownloadOptions options;
        options.readTo = [&](size_t& room) -> char* {
            room = c.room;
            named = c.room > 0 ? buffer.data() + (named == buffer.data() ? 1 : 0) : nullptr;
            return named;
        };
        options.onWritten = [&](const char* data, size_t size) {
            misplaced += (c.room > 0 && (data != named || size > c.room)) ? 1 : 0;
            seen.append(data, size);
        };
        ASSERT_TRUE(client.DownloadFile(server.Url(c.path), target, {}, options)) << c.path << " " << client.lastError;
        EXPECT_EQ(Fixture::ReadBytes(target), body) << c.path << " " << c.room;
        EXPECT_EQ(seen, body) << c.path << " " << c.room;
        EXPECT_EQ(misplaced, 0u) << c.path << " " << c.room;
    }
}

TEST_F(HttpClientTest, DownloadStopsPastItsByteLimit)
{
    server.Route("exact.bin", Pattern(1000));
    server.Route("nolength.bin", Pattern(1000), 200, Serve::NoLength);
    server.Route("endless.bin", "x", 200, Serve::Endless);

    struct Case {
        const char* path;
        int64_t limit;
        bool ok;
    };
    const Case cases[] = {
        {"exact.bin", 1000, true},
        {"exact.bin", 999, false},       // announced too large
        {"nolength.bin", 1000, true},
        {"nolength.bin", 999, false},    // found out while reading
        {"endless.bin", 1 << 20, false},
        {"exact.bin", HttpClient::kNoLimit, true},
    };
    for (const Case& c : cases) {
        client.lastError.clear();
        const std::wstring target = temp / L"limited.bin";
        DeleteFileW(target.c_str());
        EXPECT_EQ(Download(c.path, target, c.limit), c.ok) << c.path << " " << c.limit;
        if (c.ok) {
            EXPECT_EQ(Fixture::ReadBytes(target), Pattern(1000)) << c.path;
        } else {
            EXPECT_EQ(client.lastError, "Response too large") << c.path << " " << c.limit;
            EXPECT_LE(static_cast<int64_t>(Fixture::ReadBytes(target).size()), c.limit);
            for (const ProgressCall& call : calls) {
                EXPECT_LE(call.downloaded, c.limit);
            }
        }
    }
}

TEST_F(HttpClientTest, DownloadFromStalledServerTimesOut)
{
    server.Route("stall.bin", Pattern(200000), 200, Serve::Stall);
    server.Route("silent.bin", "", 200, Serve::Silent);
    for (const char* path : {"stall.bin", "silent.bin"}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(Download(path, temp / L"f.bin")) << path;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << path;
    }
    EXPECT_EQ(client.lastError, "WinHttpReceiveResponse failed: " + DescribeWinHttpError(client.lastErrorCode));
}

}  // namespace
}  // namespace Orvane
