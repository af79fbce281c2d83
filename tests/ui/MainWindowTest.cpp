// The real window in this process: mouse messages at the painted rectangles
// turn into the flow's presses. The flow itself is tested without a window
// (tests/flow). Needs a display.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

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
};

TEST_F(MainWindowTest, OpensCentredAtItsFixedSizeWithTheWelcomeState)
{
    CreateWindowUnderTest();
    RECT outer{};
    GetWindowRect(window->Handle(), &outer);
    EXPECT_EQ(outer.right - outer.left, 780);
    EXPECT_EQ(outer.bottom - outer.top, 600);
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - 780) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - 600) / 2);
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
    const RECT expected = StartButtonRect(client.right, client.bottom);
    EXPECT_TRUE(EqualRect(&window->StartButton().rect, &expected));
}

TEST_F(MainWindowTest, CannotBeMadeSmallerThanItsDefaultSize)
{
    CreateWindowUnderTest();
    MINMAXINFO info{};
    SendMessageW(window->Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 780);
    EXPECT_EQ(info.ptMinTrackSize.y, 600);

    // Enlarging moves the buttons with the bottom edge.
    SetWindowPos(window->Handle(), nullptr, 0, 0, 1000, 800, SWP_NOMOVE | SWP_NOZORDER);
    UpdateWindow(window->Handle());
    RECT client{};
    GetClientRect(window->Handle(), &client);
    EXPECT_EQ(window->GameButton().rect.bottom, client.bottom - 38);
    EXPECT_EQ(window->GameButton().rect.right, (client.right - 376) / 2 + 376);
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

}  // namespace
}  // namespace Orvane
