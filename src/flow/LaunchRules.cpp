#include "flow/LaunchRules.h"

namespace Orvane {

std::wstring LauncherDirectoryOf(const std::wstring& modulePath)
{
    const size_t separator = modulePath.rfind(L'\\');
    return separator == std::wstring::npos ? L"." : modulePath.substr(0, separator);
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
