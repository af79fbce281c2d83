// The real window in this process: mouse messages at the painted rectangles
// turn into the flow's presses. The flow itself is tested without a window
// (tests/flow). Needs a display.

#include <gtest/gtest.h>

#include <oleacc.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "AccessibleChild.h"
#include "TestSupport.h"
#include "base/Config.h"
#include "diagnostics/SystemState.h"
#include "flow/Messages.h"
#include "ui/MainWindow.h"
#include "ui/Palette.h"
#include "update/UpdateController.h"

namespace Orvane {
namespace {

struct ShownMessage {
    std::wstring text;
    std::wstring caption;
    UINT style;
};

using Fixture::PumpPendingMessages;

// Handles this thread's messages until the condition holds or time runs out.
bool PumpUntil(const std::function<bool()>& done, unsigned timeoutMs = 15000)
{
    return Fixture::PumpMessagesUntil(done, timeoutMs);
}


POINT CentreOf(const RECT& rect)
{
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// The accessibility events this thread's windows raise: (event, object, child).
std::vector<std::tuple<DWORD, LONG, LONG>> g_events;

void CALLBACK RecordEvent(HWINEVENTHOOK, DWORD event, HWND, LONG object, LONG child, DWORD, DWORD)
{
    g_events.emplace_back(event, object, child);
}

bool Raised(DWORD event, LONG child)
{
    for (const auto& [e, object, c] : g_events) {
        if (e == event && object == OBJID_CLIENT && c == child) {
            return true;
        }
    }
    return false;
}

// The accessible children's ids (see MainWindow::AccessibleItems).
constexpr LONG kStatusChild = 8;
constexpr LONG kStartChild = 9;
constexpr LONG kGameChild = 10;
constexpr LONG kFirstLinkChild = 11;



class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t display[256];
        if (GetEnvironmentVariableW(L"DISPLAY", display, 256) == 0) {
            GTEST_SKIP() << "no X display for the window (scripts/test.sh provides one)";
        }
        // A closed loopback port: every update check fails at once, offline.
        config.portalUrl = "http://127.0.0.1:1/";
        config.retryCount = 1;
        controller.timeouts = HttpTimeouts{2000, 2000, 2000, 2000};
        Fixture::WriteBytes(dir / L"wow.exe", "client");
    }

    void TearDown() override
    {
        if (window && window->Handle() != nullptr) {
            DestroyWindow(window->Handle());
        }
        controller.WaitForRuns(20000);
        PumpPendingMessages();
        window.reset();
        UnregisterClassW(L"OrvaneMainWindow", GetModuleHandleW(nullptr));
    }

    void CreateWindowUnderTest()
    {
        window = std::make_unique<MainWindow>(state, controller);
        window->openUrl = [this](const std::wstring& url) { openedUrls.push_back(url); };
        window->showMessage = [this](const std::wstring& text, const std::wstring& caption,
                                     UINT style) { shown.push_back({text, caption, style}); };
        if (colours) {
            window->currentColours = colours;
        }
        // Probes that find a blocked machine at once: no network, no update check.
        window->Work().diagnosisRun = [this](DiagnosisSink& sink) {
            ++detectionRuns;
            DiagnosisProbes probes;
            probes.local = [](EnvironmentInfo&) {};
            probes.integrity = [](const std::wstring&) { return IntegrityResult{}; };
            probes.connect = [](const std::string&) { return ConnectionTestResult{}; };
            RunDiagnosis(probes, sink);
        };
        ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr)));
        PumpPendingMessages();
        ASSERT_FALSE(IsRectEmpty(&window->StartButton().rect)) << "the first paint stores the rects";
    }

    bool Detecting() const { return window->Work().CurrentPhase() == Phase::Detecting; }

    LRESULT Send(UINT message, POINT point)
    {
        return SendMessageW(window->Handle(), message, 0, MAKELPARAM(point.x, point.y));
    }
    // A key press as the keyboard delivers it; `repeat` as when held down.
    void Key(WPARAM key, bool shift = false, bool repeat = false)
    {
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(keys);
        SendMessageW(window->Handle(), WM_KEYDOWN, key, repeat ? LPARAM{1} << 30 : 1);
        keys[VK_SHIFT] = 0;
        SetKeyboardState(keys);
    }
    COLORREF PixelAt(int x, int y)
    {
        UpdateWindow(window->Handle());
        const HDC dc = GetDC(window->Handle());
        const COLORREF colour = GetPixel(dc, x, y);
        ReleaseDC(window->Handle(), dc);
        return colour;
    }
    // Beside a control's left edge, where its focus ring is drawn.
    COLORREF BesideLeftEdge(const RECT& rect)
    {
        return PixelAt(rect.left - 2, (rect.top + rect.bottom) / 2);
    }
    void Click(POINT point)
    {
        Send(WM_MOUSEMOVE, point);
        Send(WM_LBUTTONDOWN, point);
        Send(WM_LBUTTONUP, point);
    }

    // Clicks the left button and waits for the scripted run's verdict.
    void RunDetection()
    {
        Click(CentreOf(window->StartButton().rect));
        ASSERT_TRUE(PumpUntil([this] { return !Detecting(); }));
    }

    Fixture::TempDir dir;
    Config config;
    SystemState state{dir / L"setup.ini"};
    UpdateController controller{config, state};
    std::unique_ptr<MainWindow> window;
    std::atomic<int> detectionRuns{0};
    std::vector<std::wstring> openedUrls;
    std::vector<ShownMessage> shown;
    // The system's colour scheme, when a test sets it.
    std::function<ColourScheme()> colours;
};

TEST_F(MainWindowTest, OpensCentredInTheWorkAreaAtItsDesignedSizeWithTheWelcomeState)
{
    CreateWindowUnderTest();
    RECT outer{};
    GetWindowRect(window->Handle(), &outer);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(window->Handle(), MONITOR_DEFAULTTONEAREST), &monitor));
    const RECT& work = monitor.rcWork;
    EXPECT_EQ(outer.right - outer.left, 780);
    EXPECT_EQ(outer.bottom - outer.top, 600);
    EXPECT_EQ(outer.left, work.left + (work.right - work.left - 780) / 2);
    EXPECT_EQ(outer.top, work.top + (work.bottom - work.top - 600) / 2);
    EXPECT_TRUE(IsWindowVisible(window->Handle()));

    EXPECT_EQ(window->StartButton().look.text, L"开始检测");
    EXPECT_TRUE(window->StartButton().look.enabled);
    EXPECT_EQ(window->GameButton().look.text, L"开始游戏");
    EXPECT_FALSE(window->GameButton().look.enabled);
    for (const CheckRow& row : window->Work().Shown().rows) {
        EXPECT_EQ(row.status, RowStatus::NotChecked);
        EXPECT_TRUE(row.result.empty());
        EXPECT_FALSE(row.recommended.empty());
    }

    RECT client{};
    GetClientRect(window->Handle(), &client);
    const RECT expected = StartButtonRect(client.right, client.bottom, kDesignDpi);
    EXPECT_TRUE(EqualRect(&window->StartButton().rect, &expected));
}

TEST_F(MainWindowTest, CanBeMadeSmallerOnlyDownToTheClientAreaEverythingNeeds)
{
    CreateWindowUnderTest();
    RECT outer{};
    RECT client{};
    GetWindowRect(window->Handle(), &outer);
    GetClientRect(window->Handle(), &client);
    const int frameWidth = (outer.right - outer.left) - client.right;
    const int frameHeight = (outer.bottom - outer.top) - client.bottom;
    MINMAXINFO info{};
    SendMessageW(window->Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, kMinimumClientWidth + frameWidth);
    EXPECT_EQ(info.ptMinTrackSize.y, kMinimumClientHeight + frameHeight);

    // Asked for less, the window stops at the minimum, with the buttons below
    // the progress band and above the links, all inside the client area.
    SetWindowPos(window->Handle(), nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
    UpdateWindow(window->Handle());
    GetClientRect(window->Handle(), &client);
    EXPECT_EQ(client.right, kMinimumClientWidth);
    EXPECT_EQ(client.bottom, kMinimumClientHeight);
    EXPECT_GE(window->StartButton().rect.top, ProgressBand(kDesignDpi).bottom);
    EXPECT_LT(window->GameButton().rect.bottom, window->Links()[1].rect.top);
    EXPECT_LE(window->Links()[1].rect.bottom, client.bottom);
    EXPECT_EQ(PixelAt(window->StartButton().rect.left + 8, window->StartButton().rect.top + 20),
              Palette::Accent);

    // Enlarging moves the buttons with the bottom edge.
    SetWindowPos(window->Handle(), nullptr, 0, 0, 1000, 800, SWP_NOMOVE | SWP_NOZORDER);
    UpdateWindow(window->Handle());
    GetClientRect(window->Handle(), &client);
    EXPECT_EQ(window->GameButton().rect.bottom, client.bottom - 38);
    EXPECT_EQ(window->GameButton().rect.right, (client.right - 376) / 2 + 376);
}

// System colours unlike anything in the palette, so that no pixel can match
// by accident.
DWORD WINAPI HighContrastColour(int index)
{
    switch (index) {
    case COLOR_WINDOW:
        return RGB(250, 248, 230);
    case COLOR_WINDOWTEXT:
        return RGB(12, 24, 36);
    case COLOR_BTNFACE:
        return RGB(200, 222, 180);
    case COLOR_BTNTEXT:
        return RGB(96, 0, 8);
    case COLOR_GRAYTEXT:
        return RGB(128, 64, 192);
    case COLOR_HIGHLIGHT:
        return RGB(0, 120, 60);
    case COLOR_HIGHLIGHTTEXT:
        return RGB(255, 250, 0);
    case COLOR_HOTLIGHT:
        return RGB(0, 0, 230);
    default:
        return RGB(1, 2, 3);
    }
}

TEST_F(MainWindowTest, InHighContrastDrawsWithTheSystemsColoursAndFollowsTheSetting)
{
    bool highContrast = true;
    colours = [&highContrast] { return ColourScheme::For(highContrast, HighContrastColour); };
    CreateWindowUnderTest();
    RECT client{};
    GetClientRect(window->Handle(), &client);
    const RECT& start = window->StartButton().rect;
    const RECT& game = window->GameButton().rect;
    const int middle = (start.top + start.bottom) / 2;
    const TableColumns columns = ComputeTableColumns(client.right, kDesignDpi);
    const RECT status = StatusRect(client.right, kDesignDpi);
    const POINT dot{columns.x3 + columns.c4 / 2, TableRowRect(client.right, 0, kDesignDpi).bottom - 15};
    struct Point {
        const char* name;
        POINT at;
        int system;
        COLORREF palette;
    };
    const Point points[] = {
        {"background", {6, 6}, COLOR_WINDOW, Palette::Background},
        {"table panel", {20, 200}, COLOR_WINDOW, Palette::Panel},
        {"second row", {columns.x1 + columns.c2 / 2, 126 + 30 + 15}, COLOR_WINDOW, Palette::AlternateRow},
        {"column separator", {columns.x1, 126 + 15}, COLOR_WINDOWTEXT, Palette::Border},
        {"status panel outline", {client.right / 2, status.top}, COLOR_WINDOWTEXT, Palette::Border},
        {"not-checked dot", dot, COLOR_GRAYTEXT, Palette::Neutral},
        {"start button face", {start.left + 8, middle}, COLOR_BTNFACE, Palette::Accent},
        {"start button edge", {start.left, middle}, COLOR_BTNTEXT, Palette::Accent},
        {"disabled button face", {game.left + 8, middle}, COLOR_BTNFACE, Palette::Panel},
        {"disabled button edge", {game.left, middle}, COLOR_GRAYTEXT, Palette::Panel},
    };
    const auto check = [&](bool on) {
        for (const Point& p : points) {
            EXPECT_EQ(PixelAt(p.at.x, p.at.y), on ? HighContrastColour(p.system) : p.palette)
                << p.name << (on ? " in high contrast" : " with the palette");
        }
    };
    const auto countInk = [this](const RECT& box, COLORREF ink) {
        UpdateWindow(window->Handle());
        const HDC dc = GetDC(window->Handle());
        int count = 0;
        for (int y = box.top + 2; y < box.bottom - 2; ++y) {
            for (int x = box.left + 10; x < box.right - 10; ++x) {
                count += GetPixel(dc, x, y) == ink ? 1 : 0;
            }
        }
        ReleaseDC(window->Handle(), dc);
        return count;
    };
    check(true);
    // Captions in the button text colours, greyed on the disabled button.
    EXPECT_GT(countInk(start, HighContrastColour(COLOR_BTNTEXT)), 20);
    EXPECT_GT(countInk(game, HighContrastColour(COLOR_GRAYTEXT)), 20);
    EXPECT_GT(countInk(window->Links()[0].rect, HighContrastColour(COLOR_HOTLIGHT)), 5);

    // Turned off, as Windows announces it: the palette again.
    highContrast = false;
    SendMessageW(window->Handle(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    check(false);
    // On again; a change of system colours is heard as well.
    highContrast = true;
    SendMessageW(window->Handle(), WM_SYSCOLORCHANGE, 0, 0);
    check(true);
}

TEST_F(MainWindowTest, ButtonActionsNeedAPressAndReleaseOverTheSameButton)
{
    CreateWindowUnderTest();
    const POINT start = CentreOf(window->StartButton().rect);
    const POINT moved{start.x + 1, start.y};
    const POINT outside{5, 5};

    struct Gesture {
        const char* name;
        std::vector<std::pair<UINT, POINT>> messages;
    };
    const Gesture ignored[] = {
        {"press, move one pixel, release", {{WM_LBUTTONDOWN, start}, {WM_MOUSEMOVE, moved},
                                            {WM_LBUTTONUP, moved}}},
        {"press, leave, return, release", {{WM_LBUTTONDOWN, start}, {WM_MOUSELEAVE, {}},
                                           {WM_MOUSEMOVE, start}, {WM_LBUTTONUP, start}}},
        {"press, release outside", {{WM_LBUTTONDOWN, start}, {WM_LBUTTONUP, outside}}},
        {"release without a press", {{WM_LBUTTONUP, start}}},
        {"press and release on the disabled button",
         {{WM_LBUTTONDOWN, CentreOf(window->GameButton().rect)},
          {WM_LBUTTONUP, CentreOf(window->GameButton().rect)}}},
    };
    for (const Gesture& gesture : ignored) {
        SCOPED_TRACE(gesture.name);
        for (const auto& [message, point] : gesture.messages) {
            Send(message, point);
        }
        PumpPendingMessages();
        EXPECT_EQ(detectionRuns.load(), 0);
        EXPECT_FALSE(Detecting());
        EXPECT_TRUE(shown.empty());
        EXPECT_EQ(window->GameButton().state, ButtonState::Normal);
    }

    Send(WM_LBUTTONDOWN, start);
    EXPECT_EQ(window->StartButton().state, ButtonState::Pressed);
    Send(WM_LBUTTONUP, start);
    EXPECT_EQ(window->StartButton().state, ButtonState::Normal);
    EXPECT_TRUE(Detecting());
    EXPECT_EQ(window->StartButton().look.text, L"检测中...");
    EXPECT_FALSE(window->StartButton().look.enabled);
    EXPECT_EQ(window->Work().Shown().status, L"正在检测系统环境...");
    ASSERT_TRUE(PumpUntil([this] { return !Detecting(); }));
    EXPECT_EQ(detectionRuns.load(), 1);
}

TEST_F(MainWindowTest, HoverFollowsTheMouseAndLeaveResetsIt)
{
    CreateWindowUnderTest();
    const POINT start = CentreOf(window->StartButton().rect);
    Send(WM_MOUSEMOVE, start);
    EXPECT_EQ(window->StartButton().state, ButtonState::Hover);
    EXPECT_TRUE(window->TrackingMouse());
    Send(WM_MOUSEMOVE, CentreOf(window->GameButton().rect));  // disabled: no hover
    EXPECT_EQ(window->StartButton().state, ButtonState::Normal);
    EXPECT_EQ(window->GameButton().state, ButtonState::Normal);

    Send(WM_MOUSEMOVE, CentreOf(window->Links()[1].rect));
    EXPECT_FALSE(window->Links()[0].hovered);
    EXPECT_TRUE(window->Links()[1].hovered);
    Send(WM_MOUSELEAVE, {});
    EXPECT_FALSE(window->Links()[1].hovered);
    EXPECT_FALSE(window->TrackingMouse());
}

TEST_F(MainWindowTest, LinksOpenOnReleaseAlone)
{
    CreateWindowUnderTest();
    ASSERT_FALSE(IsRectEmpty(&window->Links()[0].rect));
    Send(WM_LBUTTONDOWN, {5, 5});
    Send(WM_LBUTTONUP, CentreOf(window->Links()[0].rect));
    Send(WM_LBUTTONUP, CentreOf(window->Links()[1].rect));
    Send(WM_LBUTTONUP, {5, 5});
    ASSERT_EQ(openedUrls.size(), 2u);
    EXPECT_EQ(openedUrls[0], window->Links()[0].url);
    EXPECT_EQ(openedUrls[1], window->Links()[1].url);
    EXPECT_NE(openedUrls[0], openedUrls[1]);
}

TEST_F(MainWindowTest, PrivateMessagesOutsideARunChangeNothing)
{
    CreateWindowUnderTest();
    // 2027 lies between the update messages but is not one of them; the
    // neighbouring progress message belongs to no download here.
    for (UINT message : {UINT{WM_USER + 1003}, WM_UPDATE_PROGRESS, WM_UPDATE_COMPLETE}) {
        EXPECT_EQ(SendMessageW(window->Handle(), message, 55, MAKELPARAM(1, 2)), 0);
        EXPECT_EQ(window->Work().Shown().progress, 0);
        EXPECT_TRUE(window->Work().Shown().counterText.empty());
        EXPECT_EQ(window->Work().Shown().status, L"欢迎使用, 请点击 开始检测");
        EXPECT_EQ(window->Work().CurrentPhase(), Phase::Welcome);
    }
}

TEST_F(MainWindowTest, TheLeftButtonIsGreyedAndInertWhileItsRunIsActive)
{
    CreateWindowUnderTest();
    const POINT start = CentreOf(window->StartButton().rect);
    Click(start);
    ASSERT_TRUE(Detecting());
    EXPECT_FALSE(window->StartButton().look.enabled);
    UpdateWindow(window->Handle());
    {
        // Painted greyed out.
        const HDC dc = GetDC(window->Handle());
        EXPECT_EQ(GetPixel(dc, window->StartButton().rect.left + 8, start.y), Palette::Panel);
        ReleaseDC(window->Handle(), dc);
    }
    Click(start);
    Click(CentreOf(window->GameButton().rect));
    ASSERT_TRUE(PumpUntil([this] { return !Detecting(); }));
    EXPECT_EQ(detectionRuns.load(), 1);
    EXPECT_EQ(window->Work().CurrentPhase(), Phase::Blocked);
    EXPECT_TRUE(window->StartButton().look.enabled);
    EXPECT_EQ(window->StartButton().look.text, L"重新检测");
}

TEST_F(MainWindowTest, ADpiChangeMovesTheWindowToTheSuggestedRectangleAndScalesEverything)
{
    CreateWindowUnderTest();
    ASSERT_EQ(window->Dpi(), WindowDpi(window->Handle()));
    RECT suggested{40, 30, 40 + 1170, 30 + 900};  // 150 %: what Windows suggests on another monitor
    SendMessageW(window->Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                 reinterpret_cast<LPARAM>(&suggested));
    UpdateWindow(window->Handle());

    RECT outer{};
    GetWindowRect(window->Handle(), &outer);
    EXPECT_TRUE(EqualRect(&outer, &suggested));
    EXPECT_EQ(window->Dpi(), 144u);
    RECT client{};
    GetClientRect(window->Handle(), &client);
    MINMAXINFO info{};
    SendMessageW(window->Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, Scaled(kMinimumClientWidth, 144) + (1170 - client.right));
    EXPECT_EQ(info.ptMinTrackSize.y, Scaled(kMinimumClientHeight, 144) + (900 - client.bottom));

    const RECT start = StartButtonRect(client.right, client.bottom, 144);
    EXPECT_TRUE(EqualRect(&window->StartButton().rect, &start));
    EXPECT_EQ(window->StartButton().rect.right - window->StartButton().rect.left, 270);
    // The fonts are made again at the new size: the caption's glyphs grow by half.
    LOGFONTW font{};
    ASSERT_NE(GetObjectW(window->Typefaces().button.Get(), sizeof(font), &font), 0);
    EXPECT_EQ(font.lfHeight, -21);
    // Painted at the new scale: the first row's status dot, radius 14 now.
    const TableColumns columns = ComputeTableColumns(client.right, 144);
    const int cx = columns.x3 + columns.c4 / 2;
    const int cy = TableRowRect(client.right, 0, 144).bottom - Scaled(15, 144);
    EXPECT_EQ(PixelAt(cx - 12, cy), Palette::Neutral);
    EXPECT_EQ(PixelAt(cx - 16, cy), Palette::Panel);
}

TEST_F(MainWindowTest, TabWalksTheEnabledButtonsAndLinksAndEnterOrSpaceActivates)
{
    CreateWindowUnderTest();
    SetFocus(window->Handle());
    ASSERT_EQ(GetFocus(), window->Handle());
    // The primary action has the focus; its mark waits for the keyboard, so
    // nothing changes for the mouse.
    EXPECT_EQ(window->Focus(), FocusStop::StartButton);
    BOOL cues = FALSE;
    SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &cues, 0);
    EXPECT_EQ(window->FocusMarkShown(), cues != FALSE);
    if (!cues) {
        EXPECT_EQ(BesideLeftEdge(window->StartButton().rect), Palette::Background);
    }

    struct Step {
        WPARAM key;
        bool shift;
        FocusStop focus;
    };
    // The game button is disabled before a diagnosis: Tab passes it over.
    const Step walk[] = {
        {VK_TAB, false, FocusStop::FirstLink},  {VK_TAB, false, FocusStop::SecondLink},
        {VK_TAB, false, FocusStop::StartButton}, {VK_TAB, true, FocusStop::SecondLink},
        {VK_TAB, true, FocusStop::FirstLink},   {VK_TAB, true, FocusStop::StartButton},
        {VK_TAB, true, FocusStop::SecondLink},
    };
    for (const Step& step : walk) {
        Key(step.key, step.shift);
        EXPECT_EQ(window->Focus(), step.focus);
        EXPECT_TRUE(window->FocusMarkShown());
    }
    const RECT& second = window->Links()[1].rect;
    EXPECT_EQ(BesideLeftEdge(second), Palette::Focus);
    EXPECT_EQ(BesideLeftEdge(window->StartButton().rect), Palette::Background);

    Key(VK_RETURN);
    Key(VK_RETURN, false, true);  // held down: no second page
    ASSERT_EQ(openedUrls.size(), 1u);
    EXPECT_EQ(openedUrls[0], window->Links()[1].url);
    EXPECT_EQ(detectionRuns.load(), 0);

    Key(VK_TAB);
    ASSERT_EQ(window->Focus(), FocusStop::StartButton);
    EXPECT_EQ(BesideLeftEdge(window->StartButton().rect), Palette::Focus);
    Key(VK_SPACE);
    ASSERT_TRUE(Detecting());
    // Both buttons are disabled during the run: no mark on either, and Enter does nothing.
    EXPECT_EQ(window->Focus(), FocusStop::None);
    EXPECT_EQ(BesideLeftEdge(window->StartButton().rect), Palette::Background);
    EXPECT_EQ(BesideLeftEdge(window->GameButton().rect), Palette::Background);
    Key(VK_RETURN);
    ASSERT_TRUE(PumpUntil([this] { return !Detecting(); }));
    EXPECT_EQ(detectionRuns.load(), 1);
    EXPECT_EQ(openedUrls.size(), 1u);
    // Enabled again, the left button takes the focus back.
    EXPECT_EQ(window->Focus(), FocusStop::StartButton);
    EXPECT_EQ(BesideLeftEdge(window->StartButton().rect), Palette::Focus);

    // Keys the window does not use reach the system (Alt+F4, the system menu).
    SendMessageW(window->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpPendingMessages();
    EXPECT_FALSE(IsWindow(window->Handle()));
}

TEST_F(MainWindowTest, ScreenReadersFindTheButtonsLinksStatusAndRows)
{
    CreateWindowUnderTest();
    SetFocus(window->Handle());
    g_events.clear();
    const HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_NAMECHANGE, nullptr,
                                               RecordEvent, GetCurrentProcessId(), 0,
                                               WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);

    void* object = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(window->Handle(), static_cast<DWORD>(OBJID_CLIENT),
                                         __uuidof(IAccessible), &object),
              S_OK);
    ComReference<IAccessible> client(static_cast<IAccessible*>(object));
    IAccessible* const accessible = client.Get();
    long count = 0;
    ASSERT_EQ(accessible->get_accChildCount(&count), S_OK);
    ASSERT_EQ(count, 12);

    struct Expected {
        LONG child;
        LONG role;
        std::wstring name;
        LONG state;
    };
    const std::wstring welcome = window->Work().Shown().status;
    const Expected before[] = {
        {1, ROLE_SYSTEM_STATICTEXT, RowSpokenText(window->Work().Shown().rows[0]), STATE_SYSTEM_READONLY},
        {kStatusChild, ROLE_SYSTEM_STATICTEXT, welcome, STATE_SYSTEM_READONLY},
        {kStartChild, ROLE_SYSTEM_PUSHBUTTON, L"开始检测", STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED},
        {kGameChild, ROLE_SYSTEM_PUSHBUTTON, L"开始游戏", STATE_SYSTEM_UNAVAILABLE},
        {kFirstLinkChild, ROLE_SYSTEM_LINK, window->Links()[0].caption,
         STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_LINKED},
        {12, ROLE_SYSTEM_LINK, window->Links()[1].caption, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_LINKED},
    };
    auto expect = [accessible](const Expected& e) {
        SCOPED_TRACE(e.child);
        BSTR name = nullptr;
        ASSERT_EQ(accessible->get_accName(AccessibleChild(e.child), &name), S_OK);
        EXPECT_EQ(std::wstring(name, SysStringLen(name)), e.name);
        SysFreeString(name);
        VARIANT role;
        VariantInit(&role);
        ASSERT_EQ(accessible->get_accRole(AccessibleChild(e.child), &role), S_OK);
        EXPECT_EQ(role.lVal, e.role);
        VARIANT state;
        VariantInit(&state);
        ASSERT_EQ(accessible->get_accState(AccessibleChild(e.child), &state), S_OK);
        EXPECT_EQ(state.lVal, e.state);
    };
    for (const Expected& e : before) {
        expect(e);
    }
    EXPECT_EQ(RowSpokenText(window->Work().Shown().rows[0]).find(window->Work().Shown().rows[0].name), 0u);
    EXPECT_NE(RowSpokenText(window->Work().Shown().rows[0]).find(L"未检测"), std::wstring::npos);
    // Where a screen reader's pointer finds the start button.
    long left = 0, top = 0, width = 0, height = 0;
    ASSERT_EQ(accessible->accLocation(&left, &top, &width, &height, AccessibleChild(kStartChild)), S_OK);
    VARIANT hit;
    VariantInit(&hit);
    ASSERT_EQ(accessible->accHitTest(left + width / 2, top + height / 2, &hit), S_OK);
    EXPECT_EQ(hit.lVal, kStartChild);
    EXPECT_EQ(width, window->StartButton().rect.right - window->StartButton().rect.left);
    VARIANT focus;
    VariantInit(&focus);
    ASSERT_EQ(accessible->get_accFocus(&focus), S_OK);
    EXPECT_EQ(focus.lVal, kStartChild);

    // The disabled button has nothing to do; the start button's action clicks it.
    EXPECT_EQ(accessible->accDoDefaultAction(AccessibleChild(kGameChild)), DISP_E_MEMBERNOTFOUND);
    ASSERT_EQ(accessible->accDoDefaultAction(AccessibleChild(kStartChild)), S_OK);
    ASSERT_TRUE(PumpUntil([this] { return detectionRuns.load() == 1 && !Detecting(); }));
    PumpPendingMessages();

    // After the (blocked) diagnosis: new names, and the events that say so.
    const std::wstring verdict = window->Work().Shown().status;
    ASSERT_NE(verdict, welcome);
    expect({kStatusChild, ROLE_SYSTEM_STATICTEXT, verdict, STATE_SYSTEM_READONLY});
    expect({kStartChild, ROLE_SYSTEM_PUSHBUTTON, L"重新检测", STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED});
    expect({1, ROLE_SYSTEM_STATICTEXT, RowSpokenText(window->Work().Shown().rows[0]), STATE_SYSTEM_READONLY});
    EXPECT_TRUE(Raised(EVENT_OBJECT_NAMECHANGE, kStatusChild));
    EXPECT_TRUE(Raised(EVENT_OBJECT_NAMECHANGE, kStartChild));
    EXPECT_TRUE(Raised(EVENT_OBJECT_NAMECHANGE, 1));
    // The run took the focus from the disabled button and gave it back.
    EXPECT_TRUE(Raised(EVENT_OBJECT_FOCUS, kStartChild));
    // A blocked diagnosis offers "开始游戏" (the launch refuses by itself): Tab reaches it.
    expect({kGameChild, ROLE_SYSTEM_PUSHBUTTON, L"开始游戏", STATE_SYSTEM_FOCUSABLE});
    EXPECT_TRUE(Raised(EVENT_OBJECT_STATECHANGE, kGameChild));
    g_events.clear();
    Key(VK_TAB);
    PumpPendingMessages();
    EXPECT_TRUE(Raised(EVENT_OBJECT_FOCUS, kGameChild));
    Key(VK_TAB);
    PumpPendingMessages();
    EXPECT_TRUE(Raised(EVENT_OBJECT_FOCUS, kFirstLinkChild));
    UnhookWinEvent(hook);

    // A client may keep the object after the window is gone: it answers, disconnected.
    DestroyWindow(window->Handle());
    PumpPendingMessages();
    EXPECT_EQ(accessible->get_accChildCount(&count), RPC_E_DISCONNECTED);
}

}  // namespace
}  // namespace Orvane

namespace Orvane {
namespace {

class CountingButton : public TaskbarButton {
public:
    explicit CountingButton(std::vector<std::string>& calls) : calls_(calls) {}
    void SetMark(TaskbarMark mark) override { calls_.push_back(mark == TaskbarMark::Error ? "error" : "other"); }
    void SetPercent(int percent) override { calls_.push_back(std::to_string(percent) + "%"); }

private:
    std::vector<std::string>& calls_;
};

// A saved diagnosis starts the check as the window opens; it fails at once
// against the closed port. The button appears when Explorer says so.
TEST_F(MainWindowTest, TheTaskbarButtonShowsTheFailedCheckAndTheSessionsEndFindsNothingToStop)
{
    state.GameDir = dir.Path();
    state.HasGameDir = state.HasWowExe = state.HasDataDir = state.HasDotNet = state.HasNet8 = true;
    state.GameReachable = true;
    state.SetupComplete = true;
    ASSERT_TRUE(state.Save());
    ASSERT_TRUE(state.Load());
    CreateWindowUnderTest();
    ASSERT_TRUE(PumpUntil([this] { return window->Work().CurrentPhase() == Phase::CheckFailed; }));

    std::vector<std::string> calls;
    std::vector<HWND> asked;
    window->createTaskbarButton = [&](HWND handle) {
        asked.push_back(handle);
        return std::make_unique<CountingButton>(calls);
    };
    const UINT created = RegisterWindowMessageW(L"TaskbarButtonCreated");
    EXPECT_EQ(SendMessageW(window->Handle(), created, 0, 0), 0);
    EXPECT_EQ(asked, std::vector<HWND>{window->Handle()});
    EXPECT_EQ(calls, (std::vector<std::string>{"error", "100%"}));

    // Nothing runs: no reason to show, nothing to cancel.
    std::vector<std::string> sessionCalls;
    window->sessionEndCalls.createReason = [&sessionCalls](const wchar_t*) {
        sessionCalls.push_back("reason");
        return true;
    };
    window->sessionEndCalls.destroyReason = [&sessionCalls] {
        sessionCalls.push_back("destroy");
        return true;
    };
    window->sessionEndCalls.cancelRuns = [&sessionCalls] { sessionCalls.push_back("cancel"); };
    window->sessionEndCalls.closeWindow = [&sessionCalls] { sessionCalls.push_back("close"); };
    EXPECT_EQ(SendMessageW(window->Handle(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    EXPECT_EQ(SendMessageW(window->Handle(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF), 0);
    EXPECT_TRUE(sessionCalls.empty());
    EXPECT_TRUE(IsWindow(window->Handle()));
}

}  // namespace
}  // namespace Orvane
