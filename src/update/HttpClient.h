#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "update/SystemProxy.h"

namespace Orvane {

// Reports a transfer after each chunk: bytes received so far, the size the
// server announced (0 when it sent no Content-Length), and the average speed
// since the transfer started.
using ProgressCallback = std::function<void(int64_t downloaded, int64_t total, double bytesPerSecond)>;

// Splits a URL into host, path and port. An optional "scheme://" prefix is
// dropped; "https" (any letter case) makes the request use TLS, every other
// scheme, or none, plain HTTP. `secure` (when given) receives which. The path
// starts at the first '/' and is "/" when there is none; the port follows a
// ':' in the host (80, or 443 with https, when absent; 0 when no digits
// follow). Accepts every input and returns true.
bool SplitUrl(const std::string& url, std::wstring& host, std::wstring& path, int& port,
              bool* secure = nullptr);

// The name of a WinHTTP error code (ERROR_WINHTTP_...), or of one of the few
// other codes its calls pass on; null for any other code.
const char* WinHttpErrorName(unsigned long code);

// "12029 ERROR_WINHTTP_CANNOT_CONNECT", or the number alone for a code without
// a name: what a log line says of a failed call.
std::string DescribeWinHttpError(unsigned long code);

// True for the codes of a server certificate the system does not accept
// (wrong date, unknown root, wrong name, revocation unknown, ...) and of a
// failed secure channel: what a player can often mend by setting the clock or
// updating the system's root certificates.
bool IsCertificateFailure(unsigned long code);

// True for the codes of a connection that could not be made: refused, timed
// out, or a host name that did not resolve. Only failures of the request's
// sending count so (HttpClient::lastFailedToConnect), since a time-out later
// is a server that took the connection and then stalled.
bool IsConnectionFailure(unsigned long code);

// Limits applied to every request, in milliseconds. Without them a server that
// accepts a connection and never answers would hold a request for ever.
struct HttpTimeouts {
    int resolveMs = 15000;
    int connectMs = 15000;
    int sendMs = 30000;
    int receiveMs = 30000;
};

// How a client opens its WinHTTP sessions and finds the way out; replaceable
// so tests can see what the sessions are asked for.
struct HttpSessionCalls {
    // WinHttpOpen going out the route's way; null on failure, with the reason
    // in GetLastError.
    std::function<void*(const ProxyRoute& route)> open;
    // WinHttpSetOption with a DWORD value; false when refused.
    std::function<bool(void* session, unsigned long option, unsigned long value)> setOption;
    // Whether the system has WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY.
    std::function<bool()> hasAutomaticProxy;
    // The current user's Internet settings; false when unreadable.
    std::function<bool(InternetProxySettings& settings)> readProxySettings;
    // WinHttpGetProxyForUrl with each query in turn (LookUpProxy).
    std::function<bool(void* session, const std::wstring& url, const std::vector<AutoProxyQuery>& queries,
                       ProxyLookup& found, unsigned long& error)>
        lookUpProxy;

    static HttpSessionCalls System();
};

// The WinHTTP sessions of a client (one per way out, shared with the clients
// made by HttpClient::OnSameSession) and its connections, opened at first use.
struct HttpSession;

// Where a download starts and what else sees its bytes.
struct DownloadOptions {
    // Fails as soon as the file would grow past this many bytes (resumed
    // bytes included), unless it is HttpClient::kNoLimit.
    int64_t maxBytes = -1;
    // > 0: the file already holds this many bytes of the body; the rest is
    // asked for with a Range request. A server that sends the whole body
    // instead (status 200) has the file truncated and written from the start.
    int64_t resumeFrom = 0;
    // Called once, before the first byte is written, with the offset writing
    // starts at: resumeFrom when the server sent the rest, 0 otherwise.
    std::function<void(int64_t startOffset)> onStart;
    // Sees every chunk once it has been written to the file.
    std::function<void(const char* data, size_t size)> onWritten;
    // Where the next chunk is read to, when given and not null: a buffer of
    // `room` bytes that stays the caller's, so onWritten gets the bytes where
    // its consumer wants them, uncopied. Otherwise a buffer of the client's.
    std::function<char*(size_t& room)> readTo;
};

// Synchronous GETs over WinHTTP, over TLS for https URLs with the system's
// certificate validation; only status 200 counts as success (206 too for a
// resumed download). Requests go out as the user's browser would: through
// the proxy of the system's settings, or the one a proxy script names for the
// URL's origin (asked once per origin), or direct where the settings say so.
// One client keeps one WinHTTP session per way out, so its requests share
// connections where the server keeps them alive. A failing
// call returns false and leaves its reason in lastError (with the system's
// error code and its name where a WinHTTP call failed). One thread at a time;
// a client for another thread on the same session comes from OnSameSession.
class HttpClient {
public:
    // Marks "no limit" for DownloadFile.
    static constexpr int64_t kNoLimit = -1;

    HttpClient();
    explicit HttpClient(const HttpTimeouts& limits);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // A client for another thread on this client's WinHTTP session (a session
    // handle serves several threads; each client has its own connection and
    // requests), so the session's pool keeps the connections of both. It
    // starts with this client's timeouts, session calls, cancel flag and
    // connection limit.
    std::unique_ptr<HttpClient> OnSameSession() const;

    // On success `body` holds the response body exactly as received; on
    // failure it is left unchanged. A body of more than `maxBytes` bytes
    // (announced or received) is refused: each caller bounds what it keeps in
    // memory by what the document can reasonably be.
    bool Get(const std::string& url, std::string& body, int64_t maxBytes);

    // Writes the body to `path` (created or truncated once the status is 200)
    // and calls `progress` after each chunk written. Fails as soon as more than
    // `maxBytes` bytes arrive (unless it is kNoLimit). The file is left as it
    // is on failure: removing it is the caller's business.
    bool DownloadFile(const std::string& url, const std::wstring& path, ProgressCallback progress,
                      int64_t maxBytes = kNoLimit);
    // The same with a resume offset and an observer of the written bytes.
    // Progress then counts from the start of the file: the resumed bytes
    // included, and the total is the whole file's size.
    bool DownloadFile(const std::string& url, const std::wstring& path, ProgressCallback progress,
                      const DownloadOptions& options);
    // The same into a file the caller holds open for writing, positioned at
    // options.resumeFrom with nothing after it. A whole body where the rest
    // was asked for (status 200) truncates it to nothing first.
    bool DownloadInto(const std::string& url, HANDLE file, ProgressCallback progress,
                      const DownloadOptions& options);

    std::string lastError;
    // The system's error code of the last request's failure; 0 when it
    // succeeded or failed for a reason of its own (status, size, ...).
    unsigned long lastErrorCode = 0;
    // The last request failed before the server took it: no connection
    // could be made (IsConnectionFailure).
    bool lastFailedToConnect = false;
    HttpTimeouts timeouts;
    HttpSessionCalls sessionCalls = HttpSessionCalls::System();
    // When set, a transfer fails at its next chunk once the flag is true.
    const std::atomic<bool>* cancel = nullptr;
    // > 0: the connections the session may hold to one server at once
    // (WINHTTP_OPTION_MAX_CONNS_PER_SERVER and its HTTP/1.0 twin), set when
    // the session opens. Older WinHTTP allows two per server by default and
    // later versions no limit, so clients that transfer in parallel say how
    // many they mean. 0: the system's default.
    unsigned long connectionsPerServer = 0;

private:
    // Sends the request and writes the body to the file `open` gives for the
    // offset the server continues at (null: it could not be opened).
    bool Receive(const std::string& url, const std::function<HANDLE(int64_t startOffset)>& open,
                 const ProgressCallback& progress, const DownloadOptions& options);

    std::unique_ptr<HttpSession> session_;
};

}  // namespace Orvane
