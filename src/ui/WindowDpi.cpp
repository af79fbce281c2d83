#include "ui/WindowDpi.h"

#include "base/SystemLibrary.h"
#include "ui/GdiHandles.h"
#include "ui/Layout.h"

namespace Orvane {

namespace {

// shcore.dll's MONITOR_DPI_TYPE: the DPI Windows scales the monitor to.
constexpr int kEffectiveDpi = 0;

template <typename Function>
Function Lookup(HMODULE module, const char* name)
{
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

UINT ScreenDpi()
{
    MemoryDc screen(CreateCompatibleDC(nullptr));
    const int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : 0;
}

}  // namespace

UINT ChooseWindowDpi(const DpiSources& sources, HWND window, HMONITOR monitor)
{
    if (window != nullptr && sources.forWindow) {
        const UINT dpi = sources.forWindow(window);
        if (dpi != 0) {
            return dpi;
        }
    }
    if (monitor != nullptr && sources.forMonitor) {
        const std::optional<UINT> dpi = sources.forMonitor(monitor);
        if (dpi && *dpi != 0) {
            return *dpi;
        }
    }
    const UINT dpi = sources.system ? sources.system() : 0;
    return dpi != 0 ? dpi : kDesignDpi;
}

const DpiSources& SystemDpiSources()
{
    static const DpiSources sources = [] {
        using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
        using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
        DpiSources found;
        const auto forWindow =
            Lookup<GetDpiForWindowFunction>(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
        if (forWindow != nullptr) {
            found.forWindow = forWindow;
        }
        // Not a KnownDLL: loaded from System32 by its full path, never from
        // the game folder. Kept for the life of the process.
        const auto forMonitor =
            Lookup<GetDpiForMonitorFunction>(LoadSystemLibrary("shcore.dll"), "GetDpiForMonitor");
        if (forMonitor != nullptr) {
            found.forMonitor = [forMonitor](HMONITOR monitor) -> std::optional<UINT> {
                UINT x = 0;
                UINT y = 0;
                if (FAILED(forMonitor(monitor, kEffectiveDpi, &x, &y))) {
                    return std::nullopt;
                }
                return y;
            };
        }
        found.system = ScreenDpi;
        return found;
    }();
    return sources;
}

UINT WindowDpi(HWND window)
{
    const HMONITOR monitor = window != nullptr
                                 ? MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST)
                                 : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    return ChooseWindowDpi(SystemDpiSources(), window, monitor);
}

}  // namespace Orvane
