#pragma once

#include <windows.h>

#include <functional>
#include <optional>

namespace Orvane {

// Where a window's DPI can come from, best first. Each is absent where the
// system lacks it.
struct DpiSources {
    // GetDpiForWindow (Windows 10 1607 and later); 0 when it cannot say.
    std::function<UINT(HWND window)> forWindow;
    // GetDpiForMonitor's effective DPI (shcore.dll, Windows 8.1 and later).
    std::function<std::optional<UINT>(HMONITOR monitor)> forMonitor;
    // The system DPI, which every window has before Windows 8.1.
    std::function<UINT()> system;
};

// The DPI of `window`, on `monitor`: the window's own where the system says
// it, else its monitor's, else the system DPI (96 when nothing answers).
UINT ChooseWindowDpi(const DpiSources& sources, HWND window, HMONITOR monitor);

// The sources this system has, looked up once.
const DpiSources& SystemDpiSources();

// The DPI the window is drawn at; for no window, the primary monitor's.
UINT WindowDpi(HWND window);

}  // namespace Orvane
