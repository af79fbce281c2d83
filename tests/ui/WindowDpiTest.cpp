// Where the window's DPI comes from on each Windows: 10 1607 and later ask the
// window, 8.1 its monitor, 7 has the system DPI alone.

#include <gtest/gtest.h>

#include <optional>

#include "base/Paths.h"
#include "ui/WindowDpi.h"

namespace Orvane {
namespace {

TEST(WindowDpiTest, TheWindowsOwnThenItsMonitorsThenTheSystemDpi)
{
    const HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x10));
    const HMONITOR monitor = reinterpret_cast<HMONITOR>(static_cast<INT_PTR>(0x20));
    constexpr UINT kAbsent = ~0u;  // the system lacks the function
    struct Case {
        const char* name;
        UINT forWindow;                   // kAbsent, or what it answers
        std::optional<UINT> forMonitor;   // nullopt: absent; 0: the call fails
        UINT system;
        HWND window;
        UINT want;
        bool monitorAsked;
    };
    const Case cases[] = {
        {"Windows 10: the window's", 144, 120, 96, window, 144, false},
        {"Windows 10, no window yet: the monitor's", 144, 120, 96, nullptr, 120, true},
        {"Windows 10, the window cannot say: the monitor's", 0, 120, 96, window, 120, true},
        {"Windows 8.1: the monitor's", kAbsent, 120, 96, window, 120, true},
        {"Windows 8.1, the monitor cannot say: the system's", kAbsent, 0, 144, window, 144, true},
        {"Windows 7: the system's", kAbsent, std::nullopt, 120, window, 120, false},
        {"nothing answers: the design's", kAbsent, std::nullopt, 0, window, 96, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool monitorAsked = false;
        DpiSources sources;
        if (c.forWindow != kAbsent) {
            sources.forWindow = [&c, window](HWND asked) {
                EXPECT_EQ(asked, window);
                return c.forWindow;
            };
        }
        if (c.forMonitor) {
            sources.forMonitor = [&c, &monitorAsked, monitor](HMONITOR asked) -> std::optional<UINT> {
                EXPECT_EQ(asked, monitor);
                monitorAsked = true;
                return *c.forMonitor == 0 ? std::nullopt : c.forMonitor;
            };
        }
        sources.system = [&c] { return c.system; };
        EXPECT_EQ(ChooseWindowDpi(sources, c.window, monitor), c.want);
        EXPECT_EQ(monitorAsked, c.monitorAsked);
    }
}

// Wine, like Windows 8.1 and later, has GetDpiForMonitor; shcore.dll is then
// the copy in System32.
TEST(WindowDpiTest, TheMonitorsDpiComesFromShcoreInSystem32)
{
    const DpiSources& sources = SystemDpiSources();
    ASSERT_TRUE(sources.forMonitor);
    const HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    const std::optional<UINT> dpi = sources.forMonitor(primary);
    ASSERT_TRUE(dpi.has_value());
    EXPECT_GE(*dpi, 96u);
    const HMODULE shcore = GetModuleHandleW(L"shcore.dll");
    ASSERT_NE(shcore, nullptr);
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(shcore, path, MAX_PATH), 0u);
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    EXPECT_EQ(CompareStringOrdinal(DirectoryOfPath(path).c_str(), -1, system, -1, TRUE), CSTR_EQUAL)
        << testing::PrintToString(std::wstring(path));
}

}  // namespace
}  // namespace Orvane
