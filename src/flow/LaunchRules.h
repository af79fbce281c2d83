#pragma once

#include <windows.h>

#include <functional>
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

// ERROR_ELEVATION_REQUIRED: CreateProcessW's answer for a program whose
// manifest asks for administrator rights (MinGW's headers lack the name).
inline constexpr DWORD kElevationRequired = 740;

// The status line when the player refused the launcher's administrator prompt.
inline constexpr wchar_t kLauncherNeedsAdministratorText[] =
    L"登录器需要管理员权限, 请在提示时选择“是”";

// What ShellExecuteExW is given to start a launcher whose manifest asks for
// administrator rights: Windows then shows its consent prompt, owned by the
// program's window so it comes up in front rather than flashing in the taskbar.
struct ShellStart {
    std::wstring verb;
    std::wstring file;
    std::wstring directory;
    HWND owner = nullptr;
    ULONG mask = 0;
    int show = SW_SHOWNORMAL;
};
ShellStart ElevatedLauncherStart(const std::wstring& launcherPath, const std::wstring& directory,
                                 HWND owner);

// The two ways a launcher can be started; each gives the system's error code
// when it fails.
struct LauncherStarters {
    std::function<bool(const std::wstring& path, const std::wstring& directory, DWORD& error)>
        process;
    std::function<bool(const ShellStart& request, DWORD& error)> shell;
};

enum class LaunchOutcome {
    Started,
    // The consent prompt was refused: the player can try again.
    ElevationRefused,
    Failed,
};
struct LaunchResult {
    LaunchOutcome outcome = LaunchOutcome::Failed;
    DWORD error = 0;
};

// Starts the launcher as a process; one that CreateProcessW cannot start
// because its manifest asks for elevation (ERROR_ELEVATION_REQUIRED) goes
// through the shell, which asks the player.
LaunchResult StartLauncher(const std::wstring& launcherPath, const std::wstring& directory,
                           HWND owner, const LauncherStarters& starters);

}  // namespace Orvane
