// The real window in this process: mouse messages at the painted rectangles,
// scripted detection runs and update-controller reports. Needs a display.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "base/Config.h"
#include "diagnostics/SystemState.h"
#include "ui/MainWindow.h"
#include "ui/Palette.h"
#include "ui/WindowMessages.h"
#include "update/UpdateController.h"

namespace Orvane {
namespace {

struct ShownMessage {
    std::wstring text;
    std::wstring caption;
    UINT style;
};

// Handles this thread's messages until the condition holds or time runs out.
template <typename Condition>
bool PumpUntil(Condition done, DWORD timeoutMs = 15000)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void PumpPending()
{
    PumpUntil([] { return true; });
}

POINT CentreOf(const RECT& rect)
{
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

std::wstring IniText(const std::wstring& path, const wchar_t* section, const wchar_t* key)
{
    wchar_t buffer[256] = {};
    GetPrivateProfileStringW(section, key, L"", buffer, 256, path.c_str());
    return buffer;
}

// What a scripted detection run reports: SystemState fields and wParams.
struct ScriptedRun {
    bool isWin7 = false;
    bool win10 = true;
    bool is64Bit = true;
    WPARAM dotNet = 1;
    bool gameDir = true;
    bool complete = false;
    bool apiReachable = true;
    bool gameReachable = true;
};

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
        if (window && window->hwnd != nullptr) {
            DestroyWindow(window->hwnd);
        }
        controller.WaitForRuns(20000);
        PumpPending();
        window.reset();
        UnregisterClassW(L"OrvaneMainWindow", GetModuleHandleW(nullptr));
    }

    void CreateWindowUnderTest()
    {
        window = std::make_unique<MainWindow>(state, controller);
        window->openUrl = [this](const std::wstring& url) { openedUrls.push_back(url); };
        window->showMessage = [this](const std::wstring& text, const std::wstring& caption,
                                     UINT style) { shown.push_back({text, caption, style}); };
        window->detectionRun = [this](HWND target, SystemState& record) {
            ++detectionRuns;
            RunScript(target, record);
        };
        ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr)));
        PumpPending();
        ASSERT_FALSE(IsRectEmpty(&window->startButton.rect)) << "the first paint stores the rects";
    }

    void RunScript(HWND target, SystemState& record) const
    {
        record.OSName = L"Windows 7 旗舰版";
        record.IsWin7 = script.isWin7;
        record.IsWin10OrLater = script.win10;
        record.Is64Bit = script.is64Bit;
        record.HasNet8 = script.dotNet == 1;
        record.HasDotNet = script.dotNet != 0;
        record.DotNetVersion = script.dotNet == 0 ? L"" : L"NET 8.0.11";
        record.GameDir = dir.Path();
        record.HasGameDir = script.gameDir;
        record.HasWowExe = script.gameDir;
        record.HasDataDir = script.gameDir;
        record.HasCompleteClient = script.complete;
        record.ApiReachable = script.apiReachable;
        record.ApiLatencyMs = 3;
        record.GameReachable = script.gameReachable;
        record.GameLatencyMs = 0;
        PostMessageW(target, WM_DETECT_OS, script.win10 ? 1 : 2, 0);
        PostMessageW(target, WM_DETECT_ARCH, script.is64Bit ? 1 : 2, 0);
        PostMessageW(target, WM_DETECT_DOTNET, script.dotNet, 0);
        PostMessageW(target, WM_DETECT_GAMEDIR, script.gameDir ? 1 : 0, 0);
        PostMessageW(target, WM_DETECT_INTEGRITY, script.complete ? 1 : 0, 0);
        PostMessageW(target, WM_DETECT_LOGIN_SERVER, script.apiReachable ? 1 : 2, 0);
        PostMessageW(target, WM_DETECT_GAME_SERVER, script.gameReachable ? 1 : 0, 0);
        PostMessageW(target, WM_DETECT_DONE, 0, 0);
    }

    LRESULT Send(UINT message, POINT point)
    {
        return SendMessageW(window->hwnd, message, 0, MAKELPARAM(point.x, point.y));
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
        Click(CentreOf(window->startButton.rect));
        ASSERT_TRUE(PumpUntil([this] { return !window->detecting; }));
    }

    Fixture::TempDir dir;
    Config config;
    SystemState state{dir / L"setup.ini"};
    UpdateController controller{config, state};
    std::unique_ptr<MainWindow> window;
    ScriptedRun script;
    std::atomic<int> detectionRuns{0};
    std::vector<std::wstring> openedUrls;
    std::vector<ShownMessage> shown;
};

TEST_F(MainWindowTest, OpensCentredAtItsFixedSizeWithTheWelcomeState)
{
    CreateWindowUnderTest();
    RECT outer{};
    GetWindowRect(window->hwnd, &outer);
    EXPECT_EQ(outer.right - outer.left, 780);
    EXPECT_EQ(outer.bottom - outer.top, 600);
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - 780) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - 600) / 2);
    EXPECT_TRUE(IsWindowVisible(window->hwnd));

    EXPECT_EQ(window->statusText, L"欢迎使用, 请点击 开始检测");
    EXPECT_EQ(window->startButton.text, L"开始检测");
    EXPECT_TRUE(window->startButton.enabled);
    EXPECT_EQ(window->gameButton.text, L"开始游戏");
    EXPECT_FALSE(window->gameButton.enabled);
    for (const CheckRow& row : window->rows) {
        EXPECT_EQ(row.status, RowStatus::NotChecked);
        EXPECT_TRUE(row.result.empty());
        EXPECT_FALSE(row.recommended.empty());
    }

    RECT client{};
    GetClientRect(window->hwnd, &client);
    const RECT expected = StartButtonRect(client.right, client.bottom);
    EXPECT_TRUE(EqualRect(&window->startButton.rect, &expected));
}

TEST_F(MainWindowTest, CannotBeMadeSmallerThanItsDefaultSize)
{
    CreateWindowUnderTest();
    MINMAXINFO info{};
    SendMessageW(window->hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 780);
    EXPECT_EQ(info.ptMinTrackSize.y, 600);

    // Enlarging moves the buttons with the bottom edge.
    SetWindowPos(window->hwnd, nullptr, 0, 0, 1000, 800, SWP_NOMOVE | SWP_NOZORDER);
    UpdateWindow(window->hwnd);
    RECT client{};
    GetClientRect(window->hwnd, &client);
    EXPECT_EQ(window->gameButton.rect.bottom, client.bottom - 38);
    EXPECT_EQ(window->gameButton.rect.right, (client.right - 376) / 2 + 376);
}

TEST_F(MainWindowTest, ButtonActionsNeedAPressAndReleaseOverTheSameButton)
{
    CreateWindowUnderTest();
    const POINT start = CentreOf(window->startButton.rect);
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
         {{WM_LBUTTONDOWN, CentreOf(window->gameButton.rect)},
          {WM_LBUTTONUP, CentreOf(window->gameButton.rect)}}},
    };
    for (const Gesture& gesture : ignored) {
        SCOPED_TRACE(gesture.name);
        for (const auto& [message, point] : gesture.messages) {
            Send(message, point);
        }
        PumpPending();
        EXPECT_EQ(detectionRuns.load(), 0);
        EXPECT_FALSE(window->detecting);
        EXPECT_TRUE(shown.empty());
        EXPECT_EQ(window->gameButton.state, ButtonState::Normal);
    }

    Send(WM_LBUTTONDOWN, start);
    EXPECT_EQ(window->startButton.state, ButtonState::Pressed);
    Send(WM_LBUTTONUP, start);
    EXPECT_EQ(window->startButton.state, ButtonState::Normal);
    EXPECT_TRUE(window->detecting);
    EXPECT_EQ(window->startButton.text, L"检测中...");
    EXPECT_FALSE(window->startButton.enabled);
    EXPECT_EQ(window->statusText, L"正在检测系统环境...");
    ASSERT_TRUE(PumpUntil([this] { return !window->detecting; }));
    EXPECT_EQ(detectionRuns.load(), 1);
}

TEST_F(MainWindowTest, HoverFollowsTheMouseAndLeaveResetsIt)
{
    CreateWindowUnderTest();
    const POINT start = CentreOf(window->startButton.rect);
    Send(WM_MOUSEMOVE, start);
    EXPECT_EQ(window->startButton.state, ButtonState::Hover);
    EXPECT_TRUE(window->trackingMouse);
    Send(WM_MOUSEMOVE, CentreOf(window->gameButton.rect));  // disabled: no hover
    EXPECT_EQ(window->startButton.state, ButtonState::Normal);
    EXPECT_EQ(window->gameButton.state, ButtonState::Normal);

    Send(WM_MOUSEMOVE, CentreOf(window->links[1].rect));
    EXPECT_FALSE(window->links[0].hovered);
    EXPECT_TRUE(window->links[1].hovered);
    Send(WM_MOUSELEAVE, {});
    EXPECT_FALSE(window->links[1].hovered);
    EXPECT_FALSE(window->trackingMouse);
}

TEST_F(MainWindowTest, LinksOpenOnReleaseAlone)
{
    CreateWindowUnderTest();
    ASSERT_FALSE(IsRectEmpty(&window->links[0].rect));
    Send(WM_LBUTTONDOWN, {5, 5});
    Send(WM_LBUTTONUP, CentreOf(window->links[0].rect));
    Send(WM_LBUTTONUP, CentreOf(window->links[1].rect));
    Send(WM_LBUTTONUP, {5, 5});
    ASSERT_EQ(openedUrls.size(), 2u);
    EXPECT_EQ(openedUrls[0], window->links[0].url);
    EXPECT_EQ(openedUrls[1], window->links[1].url);
    EXPECT_NE(openedUrls[0], openedUrls[1]);
}

TEST_F(MainWindowTest, UnknownPrivateMessagesChangeNothing)
{
    CreateWindowUnderTest();
    // 2027 lies between the update messages but is not one of them.
    EXPECT_EQ(SendMessageW(window->hwnd, WM_USER + 1003, 55, MAKELPARAM(1, 2)), 0);
    EXPECT_EQ(window->progress, 0);
    EXPECT_TRUE(window->counterText.empty());
    EXPECT_EQ(window->statusText, L"欢迎使用, 请点击 开始检测");
    // The neighbouring known id does change the state.
    SendMessageW(window->hwnd, WM_UPDATE_PROGRESS, 55, MAKELPARAM(1, 2));
    EXPECT_EQ(window->progress, 55);
}

struct VerdictCase {
    const char* name;
    ScriptedRun run;
    bool blocked;
};

TEST_F(MainWindowTest, DetectionVerdictBlocksOrSavesAndChecksForUpdates)
{
    ScriptedRun passing;
    ScriptedRun noDotNet;
    noDotNet.dotNet = 0;
    ScriptedRun gameUnreachable;
    gameUnreachable.gameReachable = false;
    ScriptedRun outsideGame;
    outsideGame.gameDir = false;
    ScriptedRun softFailures;  // older .NET, no login server, incomplete client, 32-bit
    softFailures.dotNet = 2;
    softFailures.apiReachable = false;
    softFailures.is64Bit = false;
    softFailures.win10 = false;
    const VerdictCase cases[] = {
        {"passing", passing, false},
        {"no .NET", noDotNet, true},
        {"game server unreachable", gameUnreachable, true},
        {"outside a game directory", outsideGame, true},
        {"only warnings", softFailures, false},
    };
    CreateWindowUnderTest();
    for (const VerdictCase& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(state.IniPath().c_str());
        shown.clear();
        script = c.run;
        RunDetection();
        EXPECT_EQ(window->blocked, c.blocked);
        EXPECT_EQ(window->startButton.text, L"重新检测");
        if (c.blocked) {
            EXPECT_EQ(window->statusText, L"请将当前检测程序放置在魔兽世界客户端目录下");
            EXPECT_FALSE(Fixture::Exists(state.IniPath()));
            EXPECT_EQ(window->gameButton.text, L"开始游戏");
            EXPECT_TRUE(window->gameButton.enabled);
            continue;
        }
        EXPECT_EQ(IniText(state.IniPath(), L"Launcher", L"SetupComplete"), L"1");
        EXPECT_TRUE(window->checking || window->checkFailed);
        // The offline portal fails the check: the box, then "check again".
        ASSERT_TRUE(PumpUntil([this] { return window->checkFailed; }));
        ASSERT_TRUE(controller.WaitForRuns(20000));
        EXPECT_EQ(window->statusText, L"检查更新失败");
        EXPECT_EQ(window->gameButton.text, L"重新检查");
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].caption, L"错误");
        EXPECT_EQ(shown[0].text, controller.message);
        EXPECT_EQ(shown[0].style, static_cast<UINT>(MB_ICONERROR));
    }
}

TEST_F(MainWindowTest, LiveRowsShowEachStepsResult)
{
    CreateWindowUnderTest();
    script.dotNet = 2;
    script.apiReachable = false;
    RunDetection();
    EXPECT_EQ(window->rows[0].result, L"Windows 7 旗舰版");
    EXPECT_EQ(window->rows[2].status, RowStatus::Warning);
    EXPECT_EQ(window->rows[2].advice, L"建议升级到.NET 8.0");
    EXPECT_EQ(window->rows[4].result, L"非完整客户端");
    EXPECT_EQ(window->rows[5].result, L"无法连通");
    EXPECT_EQ(window->rows[6].result, L"可连通");
    EXPECT_EQ(window->rows[6].status, RowStatus::Ok);
    ASSERT_TRUE(controller.WaitForRuns(20000));
}

TEST_F(MainWindowTest, WindowsSevenPassRecordsTheNativeLauncher)
{
    state.LauncherType = L"NET8_LAUNCHER";
    state.LauncherPath = L"C:\\somewhere\\launcher.exe";
    CreateWindowUnderTest();
    script.isWin7 = true;
    RunDetection();
    EXPECT_EQ(IniText(state.IniPath(), L"Launcher", L"LauncherType"), L"WIN32_NATIVE");
    EXPECT_EQ(IniText(state.IniPath(), L"Launcher", L"LauncherPath"), L"");
    ASSERT_TRUE(controller.WaitForRuns(20000));
}

TEST_F(MainWindowTest, StartGameChecksTheGameServerThenTheLauncher)
{
    CreateWindowUnderTest();
    script.gameReachable = false;
    RunDetection();
    Click(CentreOf(window->gameButton.rect));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, L"网络异常");
    EXPECT_EQ(shown[0].text, L"无法连接游戏服务器\n\n请检查网络后重新检测, 再开始游戏");

    script.gameReachable = true;
    script.dotNet = 0;  // blocked again, but the game server is reachable now
    RunDetection();
    Click(CentreOf(window->gameButton.rect));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].caption, L"错误");
    // The test program has no launcher beside it.
    EXPECT_EQ(shown[1].text.rfind(L"未找到登录器:\n", 0), 0u) << testing::PrintToString(shown[1].text);
    EXPECT_NE(shown[1].text.find(L"\\Kaimor登录器.exe\n\n"), std::wstring::npos);
    EXPECT_NE(GetWindowLongPtrW(window->hwnd, GWLP_USERDATA), 0) << "the window stays open";
}

TEST_F(MainWindowTest, SavedResultsAreRestoredAndStartTheCheckWithoutProbing)
{
    state.OSName = L"Windows 10 专业版";
    state.IsWin10OrLater = true;
    state.Is64Bit = true;
    state.HasDotNet = true;
    state.HasNet8 = true;
    state.DotNetVersion = L"NET 8.0.11";
    state.GameDir = dir.Path();
    state.HasGameDir = true;
    state.HasWowExe = true;
    state.HasDataDir = true;
    state.GameReachable = true;
    state.GameLatencyMs = 20;
    state.SetupComplete = true;
    state.Save();
    state = SystemState(dir / L"setup.ini");

    CreateWindowUnderTest();
    EXPECT_TRUE(window->hasDetected);
    EXPECT_EQ(window->rows[0].result, L"Windows 10 专业版");
    EXPECT_EQ(window->rows[6].result, L"可连通 (20ms)");
    EXPECT_EQ(window->startButton.text, L"重新检测");
    ASSERT_TRUE(PumpUntil([this] { return window->checkFailed; }));
    EXPECT_EQ(detectionRuns.load(), 0);
    EXPECT_EQ(shown.size(), 1u);
}

TEST_F(MainWindowTest, UpdateReportsDriveTheStatusLineAndButtons)
{
    CreateWindowUnderTest();
    RunDetection();
    ASSERT_TRUE(PumpUntil([this] { return window->checkFailed; }));
    ASSERT_TRUE(controller.WaitForRuns(20000));
    shown.clear();

    controller.filesToUpdate.resize(3);
    SendMessageW(window->hwnd, WM_UPDATE_STATE, static_cast<WPARAM>(UpdateController::State::UpdateAvailable), 0);
    EXPECT_EQ(window->statusText, L"发现 3 个文件需要更新");
    EXPECT_EQ(window->gameButton.text, L"更新游戏");
    EXPECT_EQ(window->gameButton.color, Palette::Success);

    window->updating = true;
    window->UpdateButtons();
    EXPECT_EQ(window->gameButton.text, L"更新中...");
    SendMessageW(window->hwnd, WM_UPDATE_PROGRESS, 40, MAKELPARAM(2, 0));  // no file count: dropped
    EXPECT_EQ(window->progress, 0);
    SendMessageW(window->hwnd, WM_UPDATE_PROGRESS, 40, MAKELPARAM(2, 3));
    SendMessageW(window->hwnd, WM_UPDATE_SPEED, 1572864, 0);
    EXPECT_EQ(window->progress, 40);
    EXPECT_EQ(window->counterText, L"下载进度: 2/3");
    EXPECT_EQ(window->speedText, L"1.5 MB/s");

    // A successful run reports UpToDate before completing: the texts clear
    // but the status line keeps the download until the completion.
    SendMessageW(window->hwnd, WM_UPDATE_STATE, static_cast<WPARAM>(UpdateController::State::UpToDate), 0);
    EXPECT_TRUE(window->counterText.empty());
    EXPECT_EQ(window->gameButton.text, L"更新中...");
    SendMessageW(window->hwnd, WM_UPDATE_COMPLETE, 0, 0);
    EXPECT_EQ(window->statusText, L"更新失败");
    EXPECT_EQ(window->gameButton.text, L"重新检查");
    EXPECT_TRUE(window->gameButton.enabled);
    EXPECT_EQ(window->progress, 0);
}

TEST_F(MainWindowTest, SuccessfulUpdateLaunchesOneSecondLater)
{
    CreateWindowUnderTest();
    window->hasDetected = true;
    window->updating = true;
    state.GameReachable = false;  // the launch then stops at the network box
    SendMessageW(window->hwnd, WM_UPDATE_COMPLETE, 1, 0);
    EXPECT_EQ(window->statusText, L"更新完成!");
    EXPECT_EQ(window->progress, 100);
    EXPECT_EQ(window->gameButton.text, L"开始游戏");

    const ULONGLONG completed = GetTickCount64();
    ASSERT_TRUE(PumpUntil([this] { return !shown.empty(); }, 5000));
    const ULONGLONG waited = GetTickCount64() - completed;
    EXPECT_GE(waited, 950u);
    EXPECT_LT(waited, 3000u);
    EXPECT_EQ(shown[0].caption, L"网络异常");
}

TEST_F(MainWindowTest, ABurstOfProgressReportsCannotLoseTheCompletion)
{
    CreateWindowUnderTest();
    window->hasDetected = true;
    window->updating = true;
    window->UpdateButtons();
    state.GameReachable = false;
    window->SetupUpdateCallbacks();

    // Reports for every 8 KB chunk of a 2.4 GB transfer, as fast as a
    // thread can make them, then the completion.
    constexpr int kReports = 300000;
    std::thread reporter([this] {
        const int64_t total = int64_t{kReports} * 8192;
        for (int i = 1; i <= kReports; ++i) {
            controller.onProgress(1 + i * 3 / kReports, 3, int64_t{i} * 8192, total, 5.0e7);
        }
        controller.onComplete(true);
    });
    reporter.join();

    int progressMessages = 0;
    MSG message;
    const ULONGLONG deadline = GetTickCount64() + 15000;
    while (window->statusText != L"更新完成!" && GetTickCount64() < deadline) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            progressMessages += message.message == WM_UPDATE_PROGRESS ? 1 : 0;
            DispatchMessageW(&message);
        }
        Sleep(1);
    }
    EXPECT_EQ(window->statusText, L"更新完成!");
    EXPECT_EQ(window->progress, 100);
    // Percent and file changes plus one report per 100 ms: far below the
    // 10,000 messages a thread's queue can hold.
    EXPECT_GT(progressMessages, 100);
    EXPECT_LT(progressMessages, 2000);
}

}  // namespace
}  // namespace Orvane
