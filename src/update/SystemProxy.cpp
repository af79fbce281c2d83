#include "update/SystemProxy.h"

#include "base/Handles.h"
#include "base/Text.h"
#include "diagnostics/SystemProbe.h"
#include "update/HttpClient.h"

namespace Orvane {

namespace {

// WPAD's two ways of finding the script, as browsers use them.
constexpr DWORD kAutoDetectBoth = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;

// Takes ownership of a string WinHTTP allocated for the caller and copies it.
std::wstring TakeString(wchar_t* text)
{
    const GlobalMemory owned(text);
    return text == nullptr ? std::wstring() : std::wstring(text);
}

}  // namespace

bool ProxyRoute::operator==(const ProxyRoute& other) const
{
    return accessType == other.accessType && proxy == other.proxy && bypass == other.bypass;
}

bool AutoProxyQuery::operator==(const AutoProxyQuery& other) const
{
    return flags == other.flags && autoDetectFlags == other.autoDetectFlags && configUrl == other.configUrl;
}

bool HasAutomaticProxy(std::uint32_t major, std::uint32_t minor)
{
    return major > 6 || (major == 6 && minor >= 3);
}

ProxyPlan PlanProxy(bool automatic, const InternetProxySettings* settings)
{
    ProxyPlan plan;
    if (automatic) {
        plan.route.accessType = WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY;
        return plan;
    }
    if (settings == nullptr) {
        plan.route.accessType = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
        return plan;
    }
    // Browsers try detection before the configured script, and use the
    // static proxy only when neither gives an answer.
    if (settings->autoDetect) {
        plan.queries.push_back({WINHTTP_AUTOPROXY_AUTO_DETECT, kAutoDetectBoth, L""});
    }
    if (!settings->autoConfigUrl.empty()) {
        plan.queries.push_back({WINHTTP_AUTOPROXY_CONFIG_URL, 0, settings->autoConfigUrl});
    }
    if (settings->proxy.empty()) {
        plan.route.accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
    } else {
        plan.route = {WINHTTP_ACCESS_TYPE_NAMED_PROXY, settings->proxy, settings->bypass};
    }
    return plan;
}

ProxyRoute RouteForLookup(const ProxyPlan& plan, const ProxyLookup* found)
{
    if (found == nullptr) {
        return plan.route;
    }
    if (found->accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !found->proxy.empty()) {
        return {WINHTTP_ACCESS_TYPE_NAMED_PROXY, found->proxy, found->bypass};
    }
    return {WINHTTP_ACCESS_TYPE_NO_PROXY, L"", L""};
}

std::wstring OriginOf(const std::string& url)
{
    std::wstring host;
    std::wstring path;
    int port = 0;
    bool secure = false;
    SplitUrl(url, host, path, port, &secure);
    return (secure ? L"https://" : L"http://") + host + L":" + std::to_wstring(port);
}

std::string DescribeRoute(const ProxyRoute& route)
{
    switch (route.accessType) {
    case WINHTTP_ACCESS_TYPE_NO_PROXY:
        return "direct";
    case WINHTTP_ACCESS_TYPE_NAMED_PROXY:
        return "proxy " + WideToUtf8(route.proxy) +
               (route.bypass.empty() ? std::string() : " (bypass " + WideToUtf8(route.bypass) + ")");
    case WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY:
        return "the system's proxy settings";
    case WINHTTP_ACCESS_TYPE_DEFAULT_PROXY:
        return "WinHTTP's default proxy";
    default:
        return "access type " + std::to_string(route.accessType);
    }
}

std::string DescribePlan(const ProxyPlan& plan)
{
    if (plan.queries.empty()) {
        return DescribeRoute(plan.route);
    }
    std::string text;
    for (const AutoProxyQuery& query : plan.queries) {
        text += text.empty() ? "" : ", then ";
        text += query.flags == WINHTTP_AUTOPROXY_AUTO_DETECT ? std::string("auto-detected script")
                                                              : "script " + WideToUtf8(query.configUrl);
    }
    return text + "; when they give no answer: " + DescribeRoute(plan.route);
}

bool ReadInternetProxySettings(InternetProxySettings& settings)
{
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) {
        return false;
    }
    settings.autoDetect = config.fAutoDetect != FALSE;
    settings.autoConfigUrl = TakeString(config.lpszAutoConfigUrl);
    settings.proxy = TakeString(config.lpszProxy);
    settings.bypass = TakeString(config.lpszProxyBypass);
    return true;
}

bool SystemHasAutomaticProxy()
{
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    return ReadKernelVersion(major, minor, build) && HasAutomaticProxy(major, minor);
}

bool LookUpProxy(void* session, const std::wstring& url, const std::vector<AutoProxyQuery>& queries,
                 ProxyLookup& found, unsigned long& error)
{
    error = ERROR_WINHTTP_AUTODETECTION_FAILED;
    for (const AutoProxyQuery& query : queries) {
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        options.dwFlags = query.flags;
        options.dwAutoDetectFlags = query.autoDetectFlags;
        options.lpszAutoConfigUrl = query.configUrl.empty() ? nullptr : query.configUrl.c_str();
        // Credentials go to the script's server only when it asks for them;
        // a stopped auto-proxy service (Windows 7) is stood in for in-process.
        for (int attempt = 0; attempt < 3; ++attempt) {
            WINHTTP_PROXY_INFO info = {};
            if (WinHttpGetProxyForUrl(session, url.c_str(), &options, &info)) {
                found.accessType = info.dwAccessType;
                found.proxy = TakeString(info.lpszProxy);
                found.bypass = TakeString(info.lpszProxyBypass);
                return true;
            }
            error = GetLastError();
            if (error == ERROR_WINHTTP_LOGIN_FAILURE && !options.fAutoLogonIfChallenged) {
                options.fAutoLogonIfChallenged = TRUE;
            } else if (error == ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR &&
                       (options.dwFlags & WINHTTP_AUTOPROXY_RUN_INPROCESS) == 0) {
                options.dwFlags |= WINHTTP_AUTOPROXY_RUN_INPROCESS;
            } else {
                break;
            }
        }
    }
    return false;
}

}  // namespace Orvane
