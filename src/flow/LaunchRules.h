#pragma once

#include <windows.h>

#include <string>

namespace Orvane {

// The service's launcher, found beside the program under this fixed name.
inline constexpr wchar_t kLauncherFileName[] = L"Kaimor登录器.exe";

// The directory of a module path: the text before its last '\', or "." when
// there is none. A '/' does not separate here.
std::wstring LauncherDirectoryOf(const std::wstring& modulePath);

std::wstring LauncherMissingText(const std::wstring& launcherPath);
std::wstring LaunchFailedText(DWORD errorCode, const std::wstring& launcherPath);

}  // namespace Orvane
