#include "flow/LaunchRules.h"

#include <shellapi.h>

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

ShellStart ElevatedLauncherStart(const std::wstring& launcherPath, const std::wstring& directory,
                                 HWND owner)
{
    ShellStart request;
    request.verb = L"open";
    request.file = launcherPath;
    request.directory = directory;
    request.owner = owner;
    // NOASYNC: the program quits right after a successful start, so the shell
    // must finish before the call returns; FLAG_NO_UI: failures are reported
    // by the program, not by a second box from the shell.
    request.mask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    request.show = SW_SHOWNORMAL;
    return request;
}

LaunchResult StartLauncher(const std::wstring& launcherPath, const std::wstring& directory,
                           HWND owner, const LauncherStarters& starters)
{
    DWORD error = 0;
    if (starters.process(launcherPath, directory, error)) {
        return {LaunchOutcome::Started, 0};
    }
    if (error != kElevationRequired || !starters.shell) {
        return {LaunchOutcome::Failed, error};
    }
    error = 0;
    if (starters.shell(ElevatedLauncherStart(launcherPath, directory, owner), error)) {
        return {LaunchOutcome::Started, 0};
    }
    return {error == ERROR_CANCELLED ? LaunchOutcome::ElevationRefused : LaunchOutcome::Failed, error};
}

}  // namespace Orvane
