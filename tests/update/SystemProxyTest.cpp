#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <string>
#include <vector>

#include "PortalServer.h"
#include "base/Handles.h"
#include "update/HttpClient.h"
#include "update/SystemProxy.h"

namespace Orvane {
namespace {

constexpr unsigned long kNoProxy = WINHTTP_ACCESS_TYPE_NO_PROXY;
constexpr unsigned long kNamed = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
constexpr unsigned long kAutomatic = WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY;
constexpr unsigned long kDefault = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
constexpr unsigned long kDetectBoth = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
const AutoProxyQuery kDetect{WINHTTP_AUTOPROXY_AUTO_DETECT, kDetectBoth, L""};
const AutoProxyQuery kScript{WINHTTP_AUTOPROXY_CONFIG_URL, 0, L"http://wpad.corp/proxy.pac"};

TEST(SystemProxyTest, WindowsVersionsWithTheAutomaticAccessType)
{
    struct Case {
        std::uint32_t major, minor;
        bool automatic;
    };
    const Case cases[] = {
        {5, 1, false},  {6, 0, false}, {6, 1, false},  // XP, Vista, 7
        {6, 2, false},                                 // 8
        {6, 3, true},   {10, 0, true},                 // 8.1, 10 and 11
        {7, 0, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HasAutomaticProxy(c.major, c.minor), c.automatic) << c.major << "." << c.minor;
    }
}

TEST(SystemProxyTest, PlansWhatABrowserWouldDoWithTheSettings)
{
    InternetProxySettings direct;
    InternetProxySettings fixed;
    fixed.proxy = L"10.1.1.1:8080";
    fixed.bypass = L"<local>;*.corp";
    InternetProxySettings perScheme;
    perScheme.proxy = L"http=10.1.1.1:8080;https=10.1.1.2:8443";
    InternetProxySettings script;
    script.autoConfigUrl = kScript.configUrl;
    InternetProxySettings detect;
    detect.autoDetect = true;
    InternetProxySettings everything = fixed;
    everything.autoDetect = true;
    everything.autoConfigUrl = kScript.configUrl;

    struct Case {
        const char* name;
        bool automatic;
        const InternetProxySettings* settings;
        std::vector<AutoProxyQuery> queries;
        ProxyRoute route;
    };
    const Case cases[] = {
        {"Windows 8.1 and later follow the system, whatever the user set", true, &everything, {}, {kAutomatic, L"", L""}},
        {"unreadable settings keep WinHTTP's own default", false, nullptr, {}, {kDefault, L"", L""}},
        {"nothing set", false, &direct, {}, {kNoProxy, L"", L""}},
        {"a static proxy with its bypass list", false, &fixed, {}, {kNamed, fixed.proxy, fixed.bypass}},
        {"a proxy per scheme", false, &perScheme, {}, {kNamed, perScheme.proxy, L""}},
        {"a script, direct when it cannot be had", false, &script, {kScript}, {kNoProxy, L"", L""}},
        {"auto-detection, direct when nothing is found", false, &detect, {kDetect}, {kNoProxy, L"", L""}},
        {"detection before the script, the static proxy last", false, &everything, {kDetect, kScript},
         {kNamed, fixed.proxy, fixed.bypass}},
    };
    for (const Case& c : cases) {
        const ProxyPlan plan = PlanProxy(c.automatic, c.settings);
        EXPECT_EQ(plan.queries, c.queries) << c.name;
        EXPECT_EQ(plan.route, c.route) << c.name << ": " << DescribeRoute(plan.route);
    }
}

TEST(SystemProxyTest, TakesTheScriptsAnswerOrTheFallbackWhenNoneCame)
{
    ProxyPlan toDirect;
    toDirect.queries = {kScript};
    toDirect.route = {kNoProxy, L"", L""};
    ProxyPlan toStatic;
    toStatic.queries = {kDetect};
    toStatic.route = {kNamed, L"10.1.1.1:8080", L"<local>"};

    const ProxyLookup named{kNamed, L"10.9.9.9:3128", L""};
    const ProxyLookup direct{kNoProxy, L"", L""};
    const ProxyLookup namedWithoutProxy{kNamed, L"", L""};
    struct Case {
        const char* name;
        const ProxyPlan& plan;
        const ProxyLookup* found;
        ProxyRoute route;
    };
    const Case cases[] = {
        {"the script names a proxy", toStatic, &named, {kNamed, L"10.9.9.9:3128", L""}},
        {"the script says DIRECT", toStatic, &direct, {kNoProxy, L"", L""}},
        {"an answer without a proxy goes direct", toStatic, &namedWithoutProxy, {kNoProxy, L"", L""}},
        {"no answer: the static proxy", toStatic, nullptr, toStatic.route},
        {"no answer and no static proxy: direct", toDirect, nullptr, {kNoProxy, L"", L""}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RouteForLookup(c.plan, c.found), c.route) << c.name;
    }
}

TEST(SystemProxyTest, RequestsOfOneOriginShareTheirRoute)
{
    struct Case {
        const char* url;
        const wchar_t* origin;
    };
    const Case cases[] = {
        {"http://update.example/files/a.dat", L"http://update.example:80"},
        {"http://update.example/url.txt", L"http://update.example:80"},
        {"https://update.example/files/a.dat", L"https://update.example:443"},
        {"http://update.example:8080/", L"http://update.example:8080"},
        {"update.example/x", L"http://update.example:80"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OriginOf(c.url), c.origin) << c.url;
    }
}

// The current user's Internet settings as Internet Options saves them: the
// values of "Internet Settings" and the binary DefaultConnectionSettings of
// its Connections key (which is what WinHTTP reads), in a scratch key that
// stands in for HKEY_CURRENT_USER in this process only. Each test case runs in
// a process of its own, so nothing else sees them.
class UserInternetSettings {
public:
    struct Options {
        bool autoDetect = false;
        std::string autoConfigUrl;
        std::string proxy;
        std::string bypass;
    };

    UserInternetSettings()
    {
        scratchName_ = L"Software\\OrvaneProxyTest\\" + std::to_wstring(GetCurrentProcessId());
        RegistryKey scratch;
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, scratchName_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            return;
        }
        scratch.Reset(key);
        overridden_ = RegOverridePredefKey(HKEY_CURRENT_USER, scratch.Get()) == ERROR_SUCCESS;
    }
    ~UserInternetSettings()
    {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegDeleteTreeW(HKEY_CURRENT_USER, scratchName_.c_str());
    }
    UserInternetSettings(const UserInternetSettings&) = delete;
    UserInternetSettings& operator=(const UserInternetSettings&) = delete;

    bool Ready() const { return overridden_; }

    bool Save(const Options& options)
    {
        // What the dialog's check boxes set in the blob's flags.
        constexpr DWORD kDirect = 0x1;
        constexpr DWORD kUseProxy = 0x2;
        constexpr DWORD kUseScript = 0x4;
        constexpr DWORD kDetect = 0x8;
        const DWORD flags = kDirect | (options.proxy.empty() ? 0 : kUseProxy) |
                            (options.autoConfigUrl.empty() ? 0 : kUseScript) | (options.autoDetect ? kDetect : 0);
        std::string blob;
        AppendDword(blob, 0x46);  // the format's version
        AppendDword(blob, ++changes_);
        AppendDword(blob, flags);
        for (const std::string* text : {&options.proxy, &options.bypass, &options.autoConfigUrl}) {
            AppendDword(blob, static_cast<DWORD>(text->size()));
            blob += *text;
        }
        blob.append(32, '\0');  // what detection last found

        const wchar_t* settingsPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
        const std::wstring connectionsPath = std::wstring(settingsPath) + L"\\Connections";
        const std::wstring proxyServer(options.proxy.begin(), options.proxy.end());
        const std::wstring proxyOverride(options.bypass.begin(), options.bypass.end());
        const std::wstring scriptUrl(options.autoConfigUrl.begin(), options.autoConfigUrl.end());
        const DWORD enabled = options.proxy.empty() ? 0 : 1;
        bool saved = SetValue(connectionsPath, L"DefaultConnectionSettings", REG_BINARY, blob.data(), blob.size()) &&
                     SetValue(settingsPath, L"ProxyEnable", REG_DWORD, &enabled, sizeof enabled) &&
                     SetText(settingsPath, L"ProxyServer", proxyServer) &&
                     SetText(settingsPath, L"ProxyOverride", proxyOverride);
        if (!scriptUrl.empty()) {
            saved = saved && SetText(settingsPath, L"AutoConfigURL", scriptUrl);
        }
        return saved;
    }

private:
    static void AppendDword(std::string& blob, DWORD value)
    {
        blob.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    static bool SetValue(const std::wstring& path, const wchar_t* name, DWORD type, const void* data, size_t size)
    {
        return RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, type, data, static_cast<DWORD>(size)) ==
               ERROR_SUCCESS;
    }
    static bool SetText(const std::wstring& path, const wchar_t* name, const std::wstring& text)
    {
        return SetValue(path, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    }

    std::wstring scratchName_;
    bool overridden_ = false;
    DWORD changes_ = 0;
};

TEST(SystemProxyTest, ReadsTheSettingsInternetOptionsSaved)
{
    struct Case {
        const char* name;
        UserInternetSettings::Options saved;
        InternetProxySettings expected;
    };
    const Case cases[] = {
        {"direct", {}, {}},
        {"a proxy with a bypass list",
         {false, "", "10.1.1.1:8080", "<local>;*.corp"},
         {false, L"", L"10.1.1.1:8080", L"<local>;*.corp"}},
        {"a script", {false, "http://wpad.corp/proxy.pac", "", ""}, {false, L"http://wpad.corp/proxy.pac", L"", L""}},
        {"detection", {true, "", "", ""}, {true, L"", L"", L""}},
        {"all of them",
         {true, "http://wpad.corp/proxy.pac", "http=10.1.1.1:8080", "<local>"},
         {true, L"http://wpad.corp/proxy.pac", L"http=10.1.1.1:8080", L"<local>"}},
    };
    UserInternetSettings user;
    ASSERT_TRUE(user.Ready());
    for (const Case& c : cases) {
        ASSERT_TRUE(user.Save(c.saved)) << c.name;
        InternetProxySettings read;
        read.proxy = L"stale";
        ASSERT_TRUE(ReadInternetProxySettings(read)) << c.name;
        EXPECT_EQ(read.autoDetect, c.expected.autoDetect) << c.name;
        EXPECT_EQ(read.autoConfigUrl, c.expected.autoConfigUrl) << c.name;
        EXPECT_EQ(read.proxy, c.expected.proxy) << c.name;
        EXPECT_EQ(read.bypass, c.expected.bypass) << c.name;
    }
}

// Two servers on loopback: the portal, and a proxy that holds the same files.
// Which of them a request reached shows the way it went. (Wine sends a proxy
// the path alone when the proxy's address equals the server's, whatever the
// ports; Windows sends the whole URL. The proxy answers both.)
class ProxiedRequestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(portal.Started()) << portal.Error();
        ASSERT_TRUE(proxy.Started()) << proxy.Error();
        ASSERT_TRUE(user.Ready());
        portal.Route("files/a.dat", "from the portal");
        proxy.Route("files/a.dat", "through the proxy");
        proxyAddress = "127.0.0.1:" + std::to_string(proxy.Port());
    }

    // A script as a network administrator writes one: this portal through the
    // proxy, everything else direct.
    std::string Script(const std::string& portalHostPort) const
    {
        return "function FindProxyForURL(url, host) {\n"
               "  if (isPlainHostName(host)) return \"DIRECT\";\n"
               "  if (shExpMatch(url, \"http://" +
               portalHostPort + "/*\")) return \"PROXY " + proxyAddress +
               "; DIRECT\";\n"
               "  return \"DIRECT\";\n"
               "}\n";
    }

    Fixture::PortalServer portal;
    Fixture::PortalServer proxy;
    UserInternetSettings user;
    std::string proxyAddress;
};

TEST_F(ProxiedRequestTest, RequestsGoTheWayTheUsersSettingsSay)
{
    const std::string url = portal.Url("files/a.dat");
    const std::string portalHostPort = "127.0.0.1:" + std::to_string(portal.Port());
    portal.Route("proxy.pac", Script(portalHostPort));
    portal.Route("other.pac", Script("elsewhere.example"));
    const std::string script = portal.Url("proxy.pac");
    const std::string missingScript = portal.Url("missing.pac");

    struct Case {
        const char* name;
        UserInternetSettings::Options settings;
        bool viaProxy;
        int lookups;  // of the script, for two requests to one origin
    };
    const Case cases[] = {
        {"direct", {}, false, 0},
        {"the static proxy", {false, "", proxyAddress, ""}, true, 0},
        {"the static proxy with the portal in its bypass list", {false, "", proxyAddress, "<local>;127.0.0.1"}, false, 0},
        {"the proxy a script names, asked once per origin", {false, script, "", ""}, true, 1},
        {"direct where the script says so", {false, portal.Url("other.pac"), proxyAddress, ""}, false, 1},
        {"a script that cannot be had: the static proxy", {false, missingScript, proxyAddress, ""}, true, 1},
        {"a script that cannot be had and no static proxy: direct", {false, missingScript, "", ""}, false, 1},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(user.Save(c.settings)) << c.name;
        const int portalBefore = portal.RequestCount("files/a.dat");
        const int proxyBefore = proxy.RequestCount("files/a.dat");
        HttpClient client;
        int lookups = 0;
        const HttpSessionCalls system = HttpSessionCalls::System();
        client.sessionCalls.lookUpProxy = [&](void* session, const std::wstring& asked,
                                              const std::vector<AutoProxyQuery>& queries, ProxyLookup& found,
                                              unsigned long& error) {
            ++lookups;
            return system.lookUpProxy(session, asked, queries, found, error);
        };
        std::string body;
        for (int request = 0; request < 2; ++request) {
            ASSERT_TRUE(client.Get(url, body, 1024)) << c.name << ": " << client.lastError;
            EXPECT_EQ(body, c.viaProxy ? "through the proxy" : "from the portal") << c.name;
        }
        EXPECT_EQ(proxy.RequestCount("files/a.dat") - proxyBefore, c.viaProxy ? 2 : 0) << c.name;
        EXPECT_EQ(portal.RequestCount("files/a.dat") - portalBefore, c.viaProxy ? 0 : 2) << c.name;
        EXPECT_EQ(lookups, c.lookups) << c.name;
    }
}

// Windows 8.1 and later get the automatic access type; a system that refuses
// it is treated as Windows 7. The version and the refusal come through the
// seam; the settings are the user's, and the request must get through.
TEST_F(ProxiedRequestTest, TheAutomaticAccessTypeWhereTheSystemHasItAndTheSettingsOtherwise)
{
    ASSERT_TRUE(user.Save({false, "", proxyAddress, ""}));
    struct Case {
        const char* name;
        bool hasAutomatic;
        bool refusesAutomatic;
        std::vector<unsigned long> opened;
    };
    const Case cases[] = {
        {"Windows 7", false, false, {kNamed}},
        {"Windows 10", true, false, {kAutomatic}},
        {"a system that claims the access type and refuses it", true, true, {kAutomatic, kNamed}},
    };
    for (const Case& c : cases) {
        HttpClient client;
        const HttpSessionCalls system = HttpSessionCalls::System();
        std::vector<unsigned long> opened;
        client.sessionCalls.hasAutomaticProxy = [&c] { return c.hasAutomatic; };
        client.sessionCalls.open = [&](const ProxyRoute& route) -> void* {
            opened.push_back(route.accessType);
            if (route.accessType == kAutomatic && c.refusesAutomatic) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
            return system.open(route);
        };
        std::string body;
        ASSERT_TRUE(client.Get(portal.Url("files/a.dat"), body, 1024)) << c.name << ": " << client.lastError;
        EXPECT_EQ(opened, c.opened) << c.name;
        if (opened.back() == kNamed) {
            EXPECT_EQ(body, "through the proxy") << c.name;
        }
        // The session stays for the next request.
        ASSERT_TRUE(client.Get(portal.Url("files/a.dat"), body, 1024)) << c.name << ": " << client.lastError;
        EXPECT_EQ(opened, c.opened) << c.name;
    }
}

}  // namespace
}  // namespace Orvane
