#pragma once

#include <windows.h>

#include <string>

namespace Orvane {

// The service's launcher, found beside the program under this fixed name.
inline constexpr wchar_t kLauncherFileName[] = L"Kaimor登录器.exe";

// The directory of a module path: the text before its last '\', or "." when
// there is none; a drive root keeps its '\' ("D:" alone is the drive's current
// directory). A '/' does not separate here.
std::wstring LauncherDirectoryOf(const std::wstring& modulePath);

// The command line the launcher is started with: its path in quotes, so a path
// with spaces stays one argument (Windows takes an absent command line as the
// unquoted path).
std::wstring LauncherCommandLine(const std::wstring& launcherPath);

std::wstring LauncherMissingText(const std::wstring& launcherPath);
std::wstring LaunchFailedText(DWORD errorCode, const std::wstring& launcherPath);

}  // namespace Orvane
