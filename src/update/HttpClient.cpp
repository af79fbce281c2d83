#include "update/HttpClient.h"

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "base/Handles.h"
#include "base/Logger.h"
#include "base/Text.h"
#include "base/Version.h"

namespace Orvane {

namespace {

// Largest chunk taken from WinHTTP in one read, whatever it reports as available.
constexpr DWORD kMaxChunkBytes = 1024 * 1024;

// Portals see the major and minor version only.
constexpr wchar_t kUserAgent[] = L"Orvane/" ORVANE_VERSION_MAJOR_MINOR;

const char kTooLarge[] = "Response too large";
const char kIncomplete[] = "Response incomplete";

// Windows 7 SP1 offers only SSL 3 and TLS 1.0 by default; TLS 1.2 must be
// asked for, and the option is accepted only with the update that brings it
// (KB3140245). TLS 1.3 is asked for too where the system knows it (Windows 11).
// Set on every session, whatever the scheme: an http portal may redirect to
// https. A refusal is logged and the system's defaults stay: the server may
// still speak one of them.
void EnableTls12(const HttpSessionCalls& calls, HINTERNET session)
{
    constexpr DWORD kTls12 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    constexpr DWORD kTls13 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    for (DWORD protocols : {kTls12 | kTls13, kTls12}) {
        if (calls.setOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, protocols)) {
            return;
        }
    }
    // Once per run, not once per session.
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true)) {
        Logger::Instance().Write(LogLevel::Warning, "TLS 1.2 cannot be enabled (error " +
                                                        std::to_string(GetLastError()) +
                                                        "); the system's default protocols are used");
    }
}

// Where a request's failure goes: the client's lastError and lastErrorCode.
struct Failure {
    std::string& text;
    unsigned long& code;
    bool& connecting;

    void Set(const char* reason)
    {
        text = reason;
        code = 0;
        connecting = false;
    }
    void Set(const std::string& reason) { Set(reason.c_str()); }
    // A system call has just failed: the reason, the call's error code and its name.
    void SetFromSystem(const char* reason)
    {
        code = GetLastError();
        text = std::string(reason) + ": " + DescribeWinHttpError(code);
        connecting = false;
    }
    // The same for the call that makes the connection.
    void SetFromConnecting(const char* reason)
    {
        SetFromSystem(reason);
        connecting = IsConnectionFailure(code);
    }
};

#define ORVANE_NAMED(code) {code, #code}
struct NamedError {
    DWORD code;
    const char* name;
};
// The codes a GET can end with, and the few others WinHTTP (or Wine's) passes on.
constexpr NamedError kWinHttpErrors[] = {
    ORVANE_NAMED(ERROR_WINHTTP_OUT_OF_HANDLES),
    ORVANE_NAMED(ERROR_WINHTTP_TIMEOUT),
    ORVANE_NAMED(ERROR_WINHTTP_INTERNAL_ERROR),
    ORVANE_NAMED(ERROR_WINHTTP_INVALID_URL),
    ORVANE_NAMED(ERROR_WINHTTP_UNRECOGNIZED_SCHEME),
    ORVANE_NAMED(ERROR_WINHTTP_NAME_NOT_RESOLVED),
    ORVANE_NAMED(ERROR_WINHTTP_INVALID_OPTION),
    ORVANE_NAMED(ERROR_WINHTTP_OPTION_NOT_SETTABLE),
    ORVANE_NAMED(ERROR_WINHTTP_SHUTDOWN),
    ORVANE_NAMED(ERROR_WINHTTP_LOGIN_FAILURE),
    ORVANE_NAMED(ERROR_WINHTTP_OPERATION_CANCELLED),
    ORVANE_NAMED(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE),
    ORVANE_NAMED(ERROR_WINHTTP_INCORRECT_HANDLE_STATE),
    ORVANE_NAMED(ERROR_WINHTTP_CANNOT_CONNECT),
    ORVANE_NAMED(ERROR_WINHTTP_CONNECTION_ERROR),
    ORVANE_NAMED(ERROR_WINHTTP_RESEND_REQUEST),
    ORVANE_NAMED(ERROR_WINHTTP_SECURE_CERT_DATE_INVALID),
    ORVANE_NAMED(ERROR_WINHTTP_SECURE_CERT_CN_INVALID),
    ORVANE_NAMED(ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED),
    ORVANE_NAMED(ERROR_WINHTTP_SECURE_INVALID_CA),
    ORVANE_NAMED(ERROR_WINHTTP_SECURE_CERT_REV_FAILED),
    ORVANE_NAMED(ERROR_WINHTTP_HEADER_NOT_FOUND),
    ORVANE_NAMED(ERROR_WINHTTP_INVALID_SERVER_RESPONSE),
    ORVANE_NAMED(ERROR_WINHTTP_REDIRECT_FAILED),
    ORVANE_NAMED(ERROR_WINHTTP_SECURE_CHANNEL_ERROR),
    ORVANE_NAMED(ERROR_WINHTTP_SECURE_INVALID_CERT),
    ORVANE_NAMED(ERROR_WINHTTP_SECURE_CERT_REVOKED),
    ORVANE_NAMED(ERROR_WINHTTP_SECURE_FAILURE),
    ORVANE_NAMED(ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR),
    ORVANE_NAMED(ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE),
    ORVANE_NAMED(ERROR_WINHTTP_AUTODETECTION_FAILED),
    ORVANE_NAMED(ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT),
    ORVANE_NAMED(ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT),
    ORVANE_NAMED(ERROR_WINHTTP_HEADER_COUNT_EXCEEDED),
    ORVANE_NAMED(ERROR_WINHTTP_HEADER_SIZE_OVERFLOW),
    ORVANE_NAMED(ERROR_WINHTTP_CHUNKED_ENCODING_HEADER_SIZE_OVERFLOW),
    ORVANE_NAMED(ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW),
    ORVANE_NAMED(ERROR_NOT_ENOUGH_MEMORY),
    ORVANE_NAMED(ERROR_INVALID_PARAMETER),
    // Wine reports a time-out of its sockets so.
    ORVANE_NAMED(WSAETIMEDOUT),
    ORVANE_NAMED(WSAECONNREFUSED),
    ORVANE_NAMED(WSAECONNRESET),
};
#undef ORVANE_NAMED

// A certificate the system does not accept, or a server that asks for one of
// ours. A failed secure channel is counted too: Wine reports an untrusted
// certificate so, and on Windows it is a handshake that failed, which an
// updated system mends as often as a certificate problem.
constexpr DWORD kCertificateFailures[] = {
    ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, ERROR_WINHTTP_SECURE_CERT_CN_INVALID,
    ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED,  ERROR_WINHTTP_SECURE_INVALID_CA,
    ERROR_WINHTTP_SECURE_CERT_REV_FAILED,   ERROR_WINHTTP_SECURE_INVALID_CERT,
    ERROR_WINHTTP_SECURE_FAILURE,           ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE,
    ERROR_WINHTTP_SECURE_CHANNEL_ERROR,
};

}  // namespace

namespace {

// One WinHTTP session going out one way.
struct RouteSession {
    ProxyRoute route;
    WinHttpHandle session;
};

// A client's last connection through one way out.
struct RouteConnection {
    ProxyRoute route;
    WinHttpHandle connection;
    std::wstring host;  // what `connection` is connected to
    int port = 0;
};

}  // namespace

// What the clients made from one another share: the way out, decided once,
// and one WinHTTP session per way, whose pool keeps the connections of all.
struct SharedSessions {
    std::mutex lock;
    bool planned = false;
    ProxyPlan plan;
    // The route each origin's lookup gave, when the plan asks a script.
    std::vector<std::pair<std::wstring, ProxyRoute>> originRoutes;
    // The session WinHttpGetProxyForUrl is asked through.
    WinHttpHandle resolver;
    std::vector<std::unique_ptr<RouteSession>> routes;
};

struct HttpSession {
    std::shared_ptr<SharedSessions> shared = std::make_shared<SharedSessions>();
    // This client's own connections, one per way out it used.
    std::vector<RouteConnection> connections;
};

namespace {

// Decides the way out from the user's settings, once per client and those
// made from it; the log line tells support whether a player's requests went
// through a proxy.
void MakePlan(SharedSessions& pool, const HttpSessionCalls& calls, bool automatic)
{
    InternetProxySettings settings;
    const bool read = calls.readProxySettings(settings);
    pool.plan = PlanProxy(automatic, read ? &settings : nullptr);
    pool.planned = true;
    pool.originRoutes.clear();
    Logger::Instance().Write(LogLevel::Info, "Connections go out by " + DescribePlan(pool.plan) +
                                                 (read || automatic ? "" : " (Internet settings unreadable)"));
}

// The way out for the URL: the plan's route, or what the proxy script says
// for the URL's origin (asked once per origin).
ProxyRoute RouteFor(SharedSessions& pool, const HttpSessionCalls& calls, const std::string& url,
                    const HttpTimeouts& timeouts)
{
    if (!pool.planned) {
        MakePlan(pool, calls, calls.hasAutomaticProxy());
    }
    if (pool.plan.queries.empty()) {
        return pool.plan.route;
    }
    const std::wstring origin = OriginOf(url);
    for (const auto& known : pool.originRoutes) {
        if (known.first == origin) {
            return known.second;
        }
    }
    if (!pool.resolver.Get()) {
        pool.resolver.Reset(calls.open(ProxyRoute{WINHTTP_ACCESS_TYPE_NO_PROXY, L"", L""}));
        if (pool.resolver.Get()) {
            // The script's download is bounded like any request.
            WinHttpSetTimeouts(pool.resolver.Get(), timeouts.resolveMs, timeouts.connectMs, timeouts.sendMs,
                               timeouts.receiveMs);
        }
    }
    ProxyLookup found;
    unsigned long error = 0;
    const bool answered =
        pool.resolver.Get() && calls.lookUpProxy(pool.resolver.Get(), Utf8ToWide(url), pool.plan.queries, found, error);
    const ProxyRoute route = RouteForLookup(pool.plan, answered ? &found : nullptr);
    Logger::Instance().Write(answered ? LogLevel::Info : LogLevel::Warning,
                             (answered ? "The proxy script sends " + WideToUtf8(origin) + " by "
                                       : "No proxy script answered for " + WideToUtf8(origin) + " (" +
                                             DescribeWinHttpError(error) + "); it goes by ") +
                                 DescribeRoute(route));
    pool.originRoutes.emplace_back(origin, route);
    return route;
}

// Lets the session hold `connections` to one server at once; a refusal is
// logged and the system's limit stays.
void LimitConnectionsPerServer(const HttpSessionCalls& calls, HINTERNET session, unsigned long connections)
{
    for (const DWORD option : {WINHTTP_OPTION_MAX_CONNS_PER_SERVER, WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER}) {
        if (!calls.setOption(session, option, connections)) {
            Logger::Instance().Write(LogLevel::Warning, "The session's connection limit (option " +
                                                            std::to_string(option) + ") cannot be set, error " +
                                                            std::to_string(GetLastError()));
        }
    }
}

// The session going out by `route`, opened at first use with TLS 1.2 asked
// for and, when `connectionsPerServer` is set, that many connections allowed.
RouteSession* SessionFor(SharedSessions& pool, const HttpSessionCalls& calls, unsigned long connectionsPerServer,
                         const ProxyRoute& route, Failure& error)
{
    for (const auto& known : pool.routes) {
        if (known->route == route) {
            return known.get();
        }
    }
    auto opened = std::make_unique<RouteSession>();
    opened->route = route;
    opened->session.Reset(calls.open(route));
    if (!opened->session.Get()) {
        error.SetFromSystem("WinHttpOpen failed");
        return nullptr;
    }
    EnableTls12(calls, opened->session.Get());
    if (connectionsPerServer > 0) {
        LimitConnectionsPerServer(calls, opened->session.Get(), connectionsPerServer);
    }
    pool.routes.push_back(std::move(opened));
    return pool.routes.back().get();
}

// The session for the URL's way out, shared with the clients made from this
// one and opened by whichever asks first.
HINTERNET SharedSessionFor(SharedSessions& pool, const HttpSessionCalls& calls, unsigned long connectionsPerServer,
                           const std::string& url, const HttpTimeouts& timeouts, ProxyRoute& route, Failure& error)
{
    const std::lock_guard<std::mutex> guard(pool.lock);
    route = RouteFor(pool, calls, url, timeouts);
    RouteSession* way = SessionFor(pool, calls, connectionsPerServer, route, error);
    // Systems before Windows 8.1 refuse the automatic access type so; the
    // user's settings are then followed as on Windows 7.
    if (way == nullptr && error.code == ERROR_INVALID_PARAMETER &&
        pool.plan.route.accessType == WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY) {
        MakePlan(pool, calls, false);
        route = RouteFor(pool, calls, url, timeouts);
        way = SessionFor(pool, calls, connectionsPerServer, route, error);
    }
    return way != nullptr ? way->session.Get() : nullptr;
}

// Opens the URL's session once and connects to its host unless this client's
// last request that way went there. WinHTTP keeps idle connections per
// session, so requests through one session reuse them.
HINTERNET ConnectionFor(HttpSession& pool, const HttpSessionCalls& calls, unsigned long connectionsPerServer,
                        const std::string& url, const std::wstring& host, int port, const HttpTimeouts& timeouts,
                        Failure& error)
{
    ProxyRoute route;
    const HINTERNET session =
        SharedSessionFor(*pool.shared, calls, connectionsPerServer, url, timeouts, route, error);
    if (session == nullptr) {
        return nullptr;
    }
    RouteConnection* link = nullptr;
    for (RouteConnection& known : pool.connections) {
        if (known.route == route) {
            link = &known;
            break;
        }
    }
    if (link == nullptr) {
        pool.connections.emplace_back();
        link = &pool.connections.back();
        link->route = route;
    }
    if (!link->connection.Get() || link->host != host || link->port != port) {
        link->connection.Reset();
        // A port WinHTTP cannot take fails like any other connection problem.
        if (port >= 0 && port <= 65535) {
            link->connection.Reset(WinHttpConnect(session, host.c_str(), static_cast<INTERNET_PORT>(port), 0));
        }
        if (!link->connection.Get()) {
            error.SetFromSystem("WinHttpConnect failed");
            return nullptr;
        }
        link->host = host;
        link->port = port;
    }
    return link->connection.Get();
}

// Sends the GET (asking for the body from `rangeStart` on when it is above 0)
// and receives the response headers. True for status 200, and for 206 when a
// range was asked; the status is left in `status`. Otherwise `error` holds
// the reason.
bool SendGet(HttpSession& pool, const HttpSessionCalls& calls, unsigned long connectionsPerServer,
             const std::string& url, const HttpTimeouts& timeouts, int64_t rangeStart, WinHttpHandle& request,
             DWORD& status, Failure& error)
{
    std::wstring host;
    std::wstring path;
    int port = 0;
    bool secure = false;
    SplitUrl(url, host, path, port, &secure);

    const HINTERNET connection = ConnectionFor(pool, calls, connectionsPerServer, url, host, port, timeouts, error);
    if (connection == nullptr) {
        return false;
    }
    request.Reset(WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request.Get()) {
        error.SetFromSystem("WinHttpOpenRequest failed");
        return false;
    }
    // Certificate errors are never ignored (no SECURITY_FLAG_IGNORE_*), and a
    // redirect may not leave TLS. That is WinHTTP's default; it is set so no
    // system-wide setting can change it.
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    if (secure && !WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                                    sizeof redirectPolicy)) {
        error.SetFromSystem("WinHttpSetOption(REDIRECT_POLICY) failed");
        return false;
    }
    if (!WinHttpSetTimeouts(request.Get(), timeouts.resolveMs, timeouts.connectMs, timeouts.sendMs,
                            timeouts.receiveMs)) {
        error.SetFromSystem("WinHttpSetTimeouts failed");
        return false;
    }
    // Windows also bounds the wait for the complete header block separately
    // (90 s by default); keep it in line with the receive limit. Older WinHTTP
    // builds may not know the option, which is harmless.
    DWORD headerTimeout = static_cast<DWORD>(timeouts.receiveMs);
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headerTimeout,
                     sizeof headerTimeout);

    const std::wstring range =
        rangeStart > 0 ? L"Range: bytes=" + std::to_wstring(rangeStart) + L"-" : std::wstring();
    if (!WinHttpSendRequest(request.Get(), range.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : range.c_str(),
                            range.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0,
                            0, 0)) {
        error.SetFromConnecting("WinHttpSendRequest failed");
        return false;
    }
    if (!WinHttpReceiveResponse(request.Get(), nullptr)) {
        error.SetFromSystem("WinHttpReceiveResponse failed");
        return false;
    }
    status = 0;
    DWORD statusSize = sizeof status;
    WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    if (status != 200 && !(status == 206 && rangeStart > 0)) {
        error.Set("HTTP status code: " + std::to_string(status));
        return false;
    }
    return true;
}

// The first byte's offset in a 206 response's "Content-Range: bytes N-M/T",
// or -1 when the header is missing or malformed.
int64_t RangeStartOf(HINTERNET request)
{
    wchar_t text[128] = {};
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX)) {
        return -1;
    }
    const std::wstring value(text);
    const size_t unit = value.find(L"bytes ");
    if (unit == std::wstring::npos) {
        return -1;
    }
    int64_t start = 0;
    size_t i = unit + 6;
    const size_t firstDigit = i;
    for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9' && start < (INT64_MAX / 10 - 9); ++i) {
        start = start * 10 + (value[i] - L'0');
    }
    return i > firstDigit && i < value.size() && value[i] == L'-' ? start : -1;
}

constexpr int64_t kNoContentLength = -1;

// The announced body size, or kNoContentLength when the server sent none.
int64_t AnnouncedLength(HINTERNET request)
{
    wchar_t text[64] = {};
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX)) {
        return kNoContentLength;
    }
    return _wtoi64(text);
}

// Reads the body chunk by chunk into `sink` until WinHTTP reports its end.
// Fails when a read fails (a stalled server ends in a receive time-out), when
// the sink fails, or when more than `maxBytes` bytes arrive or are announced
// (maxBytes < 0: no limit); the chunk that would pass the limit is not handed
// to the sink. Each chunk is read to where `readTo` says when it names a
// place (see DownloadOptions::readTo).
template <typename Sink>
bool ReadBody(HINTERNET request, int64_t announced, int64_t maxBytes, Sink&& sink, Failure& error,
              const std::function<char*(size_t& room)>& readTo = {})
{
    if (maxBytes >= 0 && announced > maxBytes) {
        error.Set(kTooLarge);
        return false;
    }
    std::vector<char> buffer;
    int64_t received = 0;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            error.SetFromSystem("WinHttpQueryDataAvailable failed");
            return false;
        }
        if (available == 0) {
            return true;
        }
        DWORD wanted = available < kMaxChunkBytes ? available : kMaxChunkBytes;
        size_t room = 0;
        char* to = readTo ? readTo(room) : nullptr;
        if (to != nullptr && room > 0) {
            wanted = room < wanted ? static_cast<DWORD>(room) : wanted;
        } else {
            if (buffer.size() < wanted) {
                buffer.resize(wanted);
            }
            to = buffer.data();
        }
        DWORD read = 0;
        if (!WinHttpReadData(request, to, wanted, &read)) {
            error.SetFromSystem("WinHttpReadData failed");
            return false;
        }
        if (read == 0) {
            return true;
        }
        received += read;
        if (maxBytes >= 0 && received > maxBytes) {
            error.Set(kTooLarge);
            return false;
        }
        if (!sink(to, read, received)) {
            return false;
        }
    }
}

}  // namespace

bool SplitUrl(const std::string& url, std::wstring& host, std::wstring& path, int& port, bool* secure)
{
    std::string rest = url;
    const size_t scheme = rest.find("://");
    bool https = false;
    if (rest.size() >= 3 && scheme != std::string::npos) {
        https = scheme == 5 && CompareStringOrdinal(Utf8ToWide(rest.substr(0, 5)).c_str(), -1, L"https", -1,
                                                    TRUE) == CSTR_EQUAL;
        rest.erase(0, scheme + 3);
    }
    if (secure != nullptr) {
        *secure = https;
    }

    const size_t slash = rest.find('/');
    if (slash == std::string::npos) {
        host = Utf8ToWide(rest);
        path = L"/";
    } else {
        host = Utf8ToWide(rest.substr(0, slash));
        path = Utf8ToWide(rest.substr(slash));
    }

    const size_t colon = host.find(L':');
    if (colon == std::wstring::npos) {
        port = https ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
        return true;
    }
    // Leading decimal digits; an absurdly long number saturates instead of overflowing.
    int value = 0;
    for (size_t i = colon + 1; i < host.size() && host[i] >= L'0' && host[i] <= L'9'; ++i) {
        const int digit = host[i] - L'0';
        value = value > (INT_MAX - digit) / 10 ? INT_MAX : value * 10 + digit;
    }
    port = value;
    host.erase(colon);
    return true;
}

const char* WinHttpErrorName(unsigned long code)
{
    for (const NamedError& known : kWinHttpErrors) {
        if (known.code == code) {
            return known.name;
        }
    }
    return nullptr;
}

std::string DescribeWinHttpError(unsigned long code)
{
    const char* name = WinHttpErrorName(code);
    return name == nullptr ? std::to_string(code) : std::to_string(code) + " " + name;
}

bool IsConnectionFailure(unsigned long code)
{
    // Wine passes on its sockets' own codes for a refusal and a time-out.
    constexpr DWORD kConnectionFailures[] = {ERROR_WINHTTP_CANNOT_CONNECT, ERROR_WINHTTP_TIMEOUT,
                                             ERROR_WINHTTP_NAME_NOT_RESOLVED, WSAECONNREFUSED, WSAETIMEDOUT};
    for (const DWORD failure : kConnectionFailures) {
        if (failure == code) {
            return true;
        }
    }
    return false;
}

bool IsCertificateFailure(unsigned long code)
{
    for (const DWORD failure : kCertificateFailures) {
        if (failure == code) {
            return true;
        }
    }
    return false;
}

HttpSessionCalls HttpSessionCalls::System()
{
    HttpSessionCalls calls;
    calls.open = [](const ProxyRoute& route) -> void* {
        const bool named = route.accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        return WinHttpOpen(kUserAgent, route.accessType, named ? route.proxy.c_str() : WINHTTP_NO_PROXY_NAME,
                           named && !route.bypass.empty() ? route.bypass.c_str() : WINHTTP_NO_PROXY_BYPASS, 0);
    };
    calls.setOption = [](void* session, unsigned long option, unsigned long value) {
        DWORD data = value;
        return WinHttpSetOption(session, option, &data, sizeof data) != FALSE;
    };
    calls.hasAutomaticProxy = SystemHasAutomaticProxy;
    calls.readProxySettings = ReadInternetProxySettings;
    calls.lookUpProxy = LookUpProxy;
    return calls;
}

HttpClient::HttpClient() : session_(new HttpSession) {}

HttpClient::HttpClient(const HttpTimeouts& limits) : timeouts(limits), session_(new HttpSession) {}

HttpClient::~HttpClient() = default;

std::unique_ptr<HttpClient> HttpClient::OnSameSession() const
{
    std::unique_ptr<HttpClient> other(new HttpClient(timeouts));
    other->sessionCalls = sessionCalls;
    other->cancel = cancel;
    other->connectionsPerServer = connectionsPerServer;
    other->session_->shared = session_->shared;
    return other;
}

bool HttpClient::Get(const std::string& url, std::string& body, int64_t maxBytes)
{
    Failure failure{lastError, lastErrorCode, lastFailedToConnect};
    lastErrorCode = 0;
    lastFailedToConnect = false;
    WinHttpHandle request;
    DWORD status = 0;
    if (!SendGet(*session_, sessionCalls, connectionsPerServer, url, timeouts, 0, request, status, failure)) {
        return false;
    }
    std::string received;
    auto append = [&received](const char* data, DWORD size, int64_t) {
        received.append(data, size);
        return true;
    };
    const int64_t announced = AnnouncedLength(request.Get());
    if (!ReadBody(request.Get(), announced, maxBytes, append, failure)) {
        return false;
    }
    // WinHTTP reports a connection closed early as a normal end of the body; a
    // cut url.txt would otherwise become a wrong base URL for the whole run.
    if (announced != kNoContentLength && announced != static_cast<int64_t>(received.size())) {
        failure.Set(kIncomplete);
        return false;
    }
    body.swap(received);
    return true;
}

bool HttpClient::DownloadFile(const std::string& url, const std::wstring& path,
                              ProgressCallback progress, int64_t maxBytes)
{
    DownloadOptions options;
    options.maxBytes = maxBytes;
    return DownloadFile(url, path, std::move(progress), options);
}

bool HttpClient::DownloadFile(const std::string& url, const std::wstring& path,
                              ProgressCallback progress, const DownloadOptions& options)
{
    // Declared before the request, so the file is closed after it.
    KernelHandle file;
    const auto open = [&path, &file](int64_t startOffset) -> HANDLE {
        file.Reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                               startOffset > 0 ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
        // A continued file is cut to what is kept; a new one is empty already.
        LARGE_INTEGER offset{};
        offset.QuadPart = startOffset;
        if (file && startOffset > 0 &&
            (!SetFilePointerEx(file.Get(), offset, nullptr, FILE_BEGIN) || !SetEndOfFile(file.Get()))) {
            file.Reset();
        }
        return file.Get();
    };
    return Receive(url, open, progress, options);
}

bool HttpClient::DownloadInto(const std::string& url, HANDLE file, ProgressCallback progress,
                              const DownloadOptions& options)
{
    const auto open = [file, &options](int64_t startOffset) -> HANDLE {
        const LARGE_INTEGER start{};
        if (startOffset == 0 && options.resumeFrom > 0 &&
            (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !SetEndOfFile(file))) {
            return nullptr;
        }
        return file;
    };
    return Receive(url, open, progress, options);
}

bool HttpClient::Receive(const std::string& url, const std::function<HANDLE(int64_t startOffset)>& open,
                         const ProgressCallback& progress, const DownloadOptions& options)
{
    const int64_t resumeFrom = options.resumeFrom > 0 ? options.resumeFrom : 0;
    Failure failure{lastError, lastErrorCode, lastFailedToConnect};
    lastErrorCode = 0;
    lastFailedToConnect = false;
    WinHttpHandle request;
    DWORD status = 0;
    if (!SendGet(*session_, sessionCalls, connectionsPerServer, url, timeouts, resumeFrom, request, status, failure)) {
        return false;
    }
    int64_t startOffset = 0;
    if (status == 206) {
        // Only the rest that was asked for can continue the file.
        if (RangeStartOf(request.Get()) != resumeFrom) {
            failure.Set("Unexpected Content-Range");
            return false;
        }
        startOffset = resumeFrom;
    }
    const int64_t announced = AnnouncedLength(request.Get());
    const int64_t maxBody = options.maxBytes < 0 ? kNoLimit
                            : options.maxBytes > startOffset ? options.maxBytes - startOffset
                                                             : 0;
    if (maxBody >= 0 && announced > maxBody) {
        failure.Set(kTooLarge);  // refused before the file is touched
        return false;
    }
    const HANDLE file = open(startOffset);
    if (file == nullptr || file == INVALID_HANDLE_VALUE) {
        failure.SetFromSystem("Failed to open file");
        return false;
    }
    if (options.onStart) {
        options.onStart(startOffset);
    }

    const auto start = std::chrono::steady_clock::now();
    const int64_t total = announced == kNoContentLength ? 0 : startOffset + announced;
    int64_t receivedBytes = 0;
    auto write = [&](const char* data, DWORD size, int64_t received) {
        if (cancel != nullptr && cancel->load()) {
            failure.Set("Cancelled");
            return false;
        }
        DWORD written = 0;
        if (!WriteFile(file, data, size, &written, nullptr) || written != size) {
            failure.SetFromSystem("Failed to write file");
            return false;
        }
        receivedBytes = received;
        if (options.onWritten) {
            options.onWritten(data, size);
        }
        const double elapsed =
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
                .count() /
            1000000000.0;
        const double bytesPerSecond = elapsed > 0 ? static_cast<double>(received) / elapsed : 0.0;
        if (progress) {
            progress(startOffset + received, total, bytesPerSecond);
        }
        return true;
    };
    if (!ReadBody(request.Get(), announced, maxBody, write, failure, options.readTo)) {
        return false;
    }
    // WinHTTP reports a connection closed early as a normal end of the body;
    // the bytes so far are kept, and a later attempt asks for the rest.
    if (announced != kNoContentLength && announced != receivedBytes) {
        failure.Set(kIncomplete);
        return false;
    }
    return true;
}

}  // namespace Orvane
