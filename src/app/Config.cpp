#include "app/Config.h"

#include <windows.h>

#include "app/Paths.h"
#include "app/ServiceEndpoints.h"
#include "app/Text.h"

namespace Orvane {

namespace {

constexpr DWORD kValueBufferLength = 1024;

std::string ReadText(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                     const std::wstring& iniPath)
{
    wchar_t buffer[kValueBufferLength] = {};
    const DWORD length = GetPrivateProfileStringW(section, key, defaultValue, buffer,
                                                  kValueBufferLength, iniPath.c_str());
    return WideToUtf8(std::wstring(buffer, length));
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
    const std::wstring directory = GetProgramDirectory();
    return directory.empty() ? std::wstring(L"config.ini") : directory + L"\\config.ini";
}

bool Config::Load()
{
    return LoadFrom(GetConfigPath());
}

bool Config::LoadFrom(const std::wstring& iniPath)
{
    const std::wstring defaultPortal = Utf8ToWide(ServiceEndpoints::DefaultPortalUrl);

    portalUrl = ReadText(L"Server", L"PortalUrl", defaultPortal.c_str(), iniPath);
    if (!portalUrl.empty() && portalUrl.back() != '/') {
        portalUrl += '/';
    }
    fileListName = ReadText(L"Server", L"FileListName", L"filelist.json", iniPath);
    executableName = ReadText(L"Game", L"ExecutableName", L"wow.exe", iniPath);
    launcherName = ReadText(L"Launcher", L"LauncherName", L"Kaimor登录器.exe", iniPath);
    net8FileName = ReadText(L"Download", L"Net8FileName",
                            L".NET 8.0（登录器打不开，安装此组件）.exe", iniPath);
    retryCount = static_cast<int>(
        GetPrivateProfileIntW(L"Download", L"RetryCount", 3, iniPath.c_str()));
    return true;
}

}  // namespace Orvane
