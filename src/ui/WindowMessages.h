#pragma once

#include <windows.h>

namespace Orvane {

// Private messages through which worker threads report to the window. Each is
// posted to the window and handled on the UI thread in posting order.
constexpr UINT WM_LAUNCH_GAME = WM_USER + 200;
constexpr UINT WM_UPDATE_STATE = WM_USER + 1001;     // wParam: UpdateController::State
constexpr UINT WM_UPDATE_PROGRESS = WM_USER + 1002;  // wParam: percent; lParam: index | count << 16
constexpr UINT WM_UPDATE_COMPLETE = WM_USER + 1004;  // wParam: 1 success, 0 failure
constexpr UINT WM_DETECT_OS = WM_USER + 1020;        // 1 Windows 10 or later, 2 older
constexpr UINT WM_DETECT_ARCH = WM_USER + 1021;      // 1 64-bit, 2 32-bit
constexpr UINT WM_DETECT_DOTNET = WM_USER + 1022;    // 1 .NET 8, 2 another .NET, 0 none
constexpr UINT WM_DETECT_GAMEDIR = WM_USER + 1023;   // 1 found, 0 not
constexpr UINT WM_DETECT_INTEGRITY = WM_USER + 1024; // 1 complete, 0 not
constexpr UINT WM_DETECT_DONE = WM_USER + 1025;
constexpr UINT WM_DETECT_LOGIN_SERVER = WM_USER + 1026;  // 1 reachable, 2 not
constexpr UINT WM_DETECT_GAME_SERVER = WM_USER + 1027;   // 1 reachable, 0 not
constexpr UINT WM_UPDATE_SPEED = WM_USER + 1030;         // wParam: bytes per second

}  // namespace Orvane
