#include "base/Config.h"

#include "base/Ini.h"
#include "base/Paths.h"
#include "base/ServiceEndpoints.h"
#include "base/Text.h"

namespace Orvane {

namespace {

std::string ReadText(const IniFile& ini, const wchar_t* section, const wchar_t* key,
                     const wchar_t* defaultValue)
{
    return WideToUtf8(ini.Text(section, key, defaultValue));
}

// A relay URL names a folder: exactly one '/' is added when it lacks one.
std::string AsFolderUrl(std::string url)
{
    if (!url.empty() && url.back() != '/') {
        url += '/';
    }
    return url;
}

}  // namespace

Config::Config() : portalUrl(ServiceEndpoints::DefaultPortalUrl) {}

Config& Config::Instance()
{
    static Config instance;
    return instance;
}

std::wstring GetConfigPath()
{
    return FileBesideProgram(kConfigFileName);
}

bool Config::Load()
{
    return LoadFrom(GetConfigPath());
}

bool Config::LoadFrom(const std::wstring& iniPath)
{
    const std::wstring defaultPortal = Utf8ToWide(ServiceEndpoints::DefaultPortalUrl);
    const IniFile ini(iniPath);

    portalUrl = AsFolderUrl(ReadText(ini, L"Server", L"PortalUrl", defaultPortal.c_str()));
    fallbackPortalUrls.clear();
    for (int number = 2;; ++number) {
        const std::wstring key = L"PortalUrl" + std::to_wstring(number);
        const std::string url = ReadText(ini, L"Server", key.c_str(), L"");
        if (url.empty()) {
            break;
        }
        fallbackPortalUrls.push_back(AsFolderUrl(url));
    }
    fileListName = ReadText(ini, L"Server", L"FileListName", L"filelist.json");
    executableName = ReadText(ini, L"Game", L"ExecutableName", L"wow.exe");
    launcherName = ReadText(ini, L"Launcher", L"LauncherName", L"Kaimor登录器.exe");
    net8FileName = ReadText(ini, L"Download", L"Net8FileName",
                            L".NET 8.0（登录器打不开，安装此组件）.exe");
    retryCount = ini.Int(L"Download", L"RetryCount", 3);
    return true;
}

}  // namespace Orvane
