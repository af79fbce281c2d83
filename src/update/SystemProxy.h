#pragma once

// The proxy a player's browser uses, followed by the HTTP client: which way
// each request goes, given the Windows version and the current user's
// Internet settings. The decisions are plain functions; the few system calls
// that feed them are at the end.

#include <cstdint>
#include <string>
#include <vector>

namespace Orvane {

// The current user's Internet settings ("Internet Options", "LAN settings"),
// as WinHttpGetIEProxyConfigForCurrentUser reports them.
struct InternetProxySettings {
    // "Automatically detect settings": a PAC script found by WPAD.
    bool autoDetect = false;
    // "Use automatic configuration script": the PAC script's URL.
    std::wstring autoConfigUrl;
    // "Use a proxy server": "host:port", or per scheme "http=host:port;https=host:port".
    std::wstring proxy;
    // The addresses that go direct: "<local>;*.example.com;10.*".
    std::wstring bypass;
};

// How one WinHTTP session goes out: the access type WinHttpOpen gets
// (WINHTTP_ACCESS_TYPE_*) and, for a named proxy, the proxy and its bypass list.
struct ProxyRoute {
    unsigned long accessType = 0;
    std::wstring proxy;
    std::wstring bypass;

    bool operator==(const ProxyRoute& other) const;
    bool operator!=(const ProxyRoute& other) const { return !(*this == other); }
};

// One WinHttpGetProxyForUrl question: WINHTTP_AUTOPROXY_* flags, the
// auto-detection kinds (WINHTTP_AUTO_DETECT_TYPE_*) and the script's URL.
struct AutoProxyQuery {
    unsigned long flags = 0;
    unsigned long autoDetectFlags = 0;
    std::wstring configUrl;

    bool operator==(const AutoProxyQuery& other) const;
};

// What a client does with the settings.
struct ProxyPlan {
    // Empty: every request takes `route`. Otherwise each origin's route is
    // asked of WinHttpGetProxyForUrl with these queries in turn, and `route`
    // is taken when none of them answers.
    std::vector<AutoProxyQuery> queries;
    ProxyRoute route;
};

// Windows 8.1 (6.3) and later let WinHTTP follow the system's proxy settings
// by itself (WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY).
bool HasAutomaticProxy(std::uint32_t major, std::uint32_t minor);

// The plan a browser would follow. With `automatic` the system decides each
// request. Otherwise the user's settings (null: unreadable, and WinHTTP's own
// default stays, what "netsh winhttp" set): a script or auto-detection first,
// the static proxy (or a direct connection) when that finds nothing; else the
// static proxy with its bypass list; else direct.
ProxyPlan PlanProxy(bool automatic, const InternetProxySettings* settings);

// WinHttpGetProxyForUrl's answer for one URL.
struct ProxyLookup {
    unsigned long accessType = 0;  // WINHTTP_ACCESS_TYPE_NAMED_PROXY or _NO_PROXY
    std::wstring proxy;
    std::wstring bypass;
};

// The route of a URL the plan looked up: the proxy the script named, direct
// when it said so, and the plan's fallback when no query answered (null).
ProxyRoute RouteForLookup(const ProxyPlan& plan, const ProxyLookup* found);

// "scheme://host:port" of a URL: requests with the same origin take the same
// route, so a script is asked once per origin, not once per file.
std::wstring OriginOf(const std::string& url);

// One line for the log: "direct", "proxy 10.0.0.1:8080 (bypass <local>)", ...
std::string DescribeRoute(const ProxyRoute& route);
std::string DescribePlan(const ProxyPlan& plan);

// --- the system's side ------------------------------------------------------

// The current user's settings; false when the system cannot tell.
bool ReadInternetProxySettings(InternetProxySettings& settings);

// Whether this system has the automatic access type, from the kernel's version.
bool SystemHasAutomaticProxy();

// Asks WinHttpGetProxyForUrl, through `session`, with each query in turn
// until one answers. False when none does; `error` then holds the last
// query's error code.
bool LookUpProxy(void* session, const std::wstring& url, const std::vector<AutoProxyQuery>& queries,
                 ProxyLookup& found, unsigned long& error);

}  // namespace Orvane
