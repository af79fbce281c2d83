#include "flow/LaunchRules.h"

namespace Orvane {

std::wstring LauncherDirectoryOf(const std::wstring& modulePath)
{
    const size_t separator = modulePath.rfind(L'\\');
    if (separator == std::wstring::npos) {
        return L".";
    }
    const bool driveRoot = separator == 2 && modulePath[1] == L':';
    return modulePath.substr(0, driveRoot ? separator + 1 : separator);
}

std::wstring LauncherCommandLine(const std::wstring& launcherPath)
{
    return L"\"" + launcherPath + L"\"";
}

std::wstring LauncherMissingText(const std::wstring& launcherPath)
{
    return L"未找到登录器:\n" + launcherPath + L"\n\n请确认 Kaimor登录器.exe 与本程序在同一目录";
}

std::wstring LaunchFailedText(DWORD errorCode, const std::wstring& launcherPath)
{
    return L"启动登录器失败, 错误代码: " + std::to_wstring(errorCode) + L"\n路径: " + launcherPath;
}

}  // namespace Orvane
