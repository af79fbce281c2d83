// The flow without its window: scripted probes, a real update controller
// against a portal on 127.0.0.1, and a message-only window that hands the
// flow its messages as the main window does.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "PortalServer.h"
#include "TestSupport.h"
#include "base/Config.h"
#include "base/Text.h"
#include "base/Thread.h"
#include "diagnostics/FileDigest.h"
#include "diagnostics/SystemState.h"
#include "flow/Flow.h"
#include "update/TargetPath.h"

namespace Orvane {
namespace {

using Fixture::Serve;

struct ShownMessage {
    std::wstring text;
    std::wstring caption;
    UINT style;
};

class RecordingView : public FlowView {
public:
    void Repaint(Area area) override
    {
        ++repaints;
        if (onRepaint) {
            onRepaint(area);
        }
    }
    void ShowMessage(const std::wstring& text, const std::wstring& caption, UINT style) override
    {
        shown.push_back({text, caption, style});
    }
    void Quit() override { ++quits; }

    int repaints = 0;
    int quits = 0;
    std::vector<ShownMessage> shown;
    std::function<void(Area)> onRepaint;
};

using Fixture::PumpPendingMessages;

// Handles this thread's messages until the condition holds or time runs out.
bool PumpUntil(const std::function<bool()>& done, unsigned timeoutMs = 20000)
{
    return Fixture::PumpMessagesUntil(done, timeoutMs);
}

void PumpFor(unsigned milliseconds)
{
    PumpUntil([] { return false; }, milliseconds);
}

// A message-only window whose procedure passes everything to a handler.
class Host {
public:
    explicit Host(std::function<bool(UINT, WPARAM, LPARAM)> handler) : handler_(std::move(handler))
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &Host::Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"OrvaneFlowTestHost";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, L"OrvaneFlowTestHost", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Host() { DestroyWindow(window_); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    HWND Window() const { return window_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* host = reinterpret_cast<Host*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (host != nullptr && host->handler_ && host->handler_(message, wParam, lParam)) {
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    std::function<bool(UINT, WPARAM, LPARAM)> handler_;
    HWND window_ = nullptr;
};

// What the scripted probes find.
struct ScriptedRun {
    bool isWin7 = false;
    bool win10 = true;
    bool is64Bit = true;
    int dotNet = 1;  // 1 .NET 8, 2 another .NET, 0 none
    bool gameDir = true;
    bool complete = false;
    bool apiReachable = true;
    bool gameReachable = true;
};

std::wstring IniText(const std::wstring& path, const wchar_t* section, const wchar_t* key)
{
    wchar_t buffer[256] = {};
    GetPrivateProfileStringW(section, key, L"", buffer, 256, path.c_str());
    return buffer;
}

// What the window was asked to repaint, with what it would then show.
struct Repainted {
    FlowView::Area area;
    Phase phase;
    std::wstring status;
    int progress;
    std::wstring counter;
};

class FlowTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Started()) << server.Error();
        ASSERT_TRUE(Fixture::WriteBytes(dir / L"wow.exe", "client"));
        config.portalUrl = server.Url();
        config.fileListName = "filelist.json";
        config.retryCount = 1;
        controller.timeouts = HttpTimeouts{2000, 2000, 2000, 2000};
        server.Route("url.txt", server.Url("files/"));
        server.Route("files/filelist.json", "[]");
    }

    void TearDown() override
    {
        flow.reset();
        host.reset();
    }

    void StartFlow(bool startedByUpdate = false)
    {
        flow = std::make_unique<Flow>(state, controller, view);
        flow->startedByUpdate = startedByUpdate;
        host = std::make_unique<Host>(
            [this](UINT message, WPARAM wParam, LPARAM lParam) {
                return flow && flow->Handle(message, wParam, lParam);
            });
        flow->diagnosisRun = [this](DiagnosisSink& sink) {
            ++diagnosisRuns;
            RunDiagnosis(Probes(), sink);
        };
        flow->launchDelayMs = 1000;
        flow->Start(host->Window());
    }

    // A diagnosis saved by an earlier start: the game directory is the test's folder.
    void SaveDiagnosis()
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
        ASSERT_TRUE(state.Save());
        state = SystemState(dir / L"setup.ini");
    }

    DiagnosisProbes Probes() const
    {
        const ScriptedRun run = script;
        const std::wstring gameDir = dir.Path();
        DiagnosisProbes probes;
        probes.local = [run, gameDir](EnvironmentInfo& info) {
            info.OSName = L"Windows 7 旗舰版";
            info.IsWin7 = run.isWin7;
            info.IsWin10OrLater = run.win10;
            info.Is64Bit = run.is64Bit;
            info.HasNet8 = run.dotNet == 1;
            info.HasDotNet = run.dotNet != 0;
            info.DotNetVersion = run.dotNet == 0 ? L"" : L"NET 8.0.11";
            info.GameDir = gameDir;
            info.HasGameDir = run.gameDir;
            info.HasWowExe = run.gameDir;
            info.HasDataDir = run.gameDir;
        };
        probes.integrity = [run](const std::wstring&) {
            return IntegrityResult{run.complete, run.complete ? L"" : L"缺少文件"};
        };
        probes.connect = [run](const std::string& host) {
            const bool reachable = host == "api.kaimor.com" ? run.apiReachable : run.gameReachable;
            return ConnectionTestResult{reachable, host == "api.kaimor.com" ? 3 : 0};
        };
        return probes;
    }

    // Presses the left button and waits for the verdict.
    void Diagnose()
    {
        flow->PressStart();
        ASSERT_EQ(flow->CurrentPhase(), Phase::Detecting);
        ASSERT_TRUE(PumpUntil([this] { return flow->CurrentPhase() != Phase::Detecting; }));
    }

    // Every repaint the flow asks for, from now on, into `seen`.
    void RecordRepaints(std::vector<Repainted>& seen)
    {
        view.onRepaint = [this, &seen](FlowView::Area area) {
            const Screen& screen = flow->Shown();
            seen.push_back({area, flow->CurrentPhase(), screen.status, screen.progress, screen.counterText});
        };
    }

    void WaitForPhase(Phase phase, DWORD timeoutMs = 20000)
    {
        ASSERT_TRUE(PumpUntil([this, phase] { return flow->CurrentPhase() == phase; }, timeoutMs))
            << "phase " << static_cast<int>(flow->CurrentPhase()) << ", last box "
            << testing::PrintToString(view.shown.empty() ? std::wstring() : view.shown.back().text);
    }

    // Lists files on the portal with their digests; the game directory has none of them.
    void Offer(const std::vector<std::pair<std::string, std::string>>& files, Serve mode = Serve::Normal)
    {
        std::string list = "{\"files\":[";
        for (size_t i = 0; i < files.size(); ++i) {
            const auto& [path, content] = files[i];
            server.Route("files/" + path, content, 200, mode);
            const std::wstring scratch = dir / L"digest.tmp";
            Fixture::WriteBytes(scratch, content);
            list += (i ? "," : "") + std::string("{\"path\":\"") + path + "\",\"hash\":\"" +
                    ComputeFileMd5(scratch) + "\",\"size\":" + std::to_string(content.size()) + "}";
            DeleteFileW(scratch.c_str());
        }
        server.Route("files/filelist.json", list + "]}");
    }

    Fixture::PortalServer server;
    Fixture::TempDir dir;
    Config config;
    SystemState state{dir / L"setup.ini"};
    UpdateController controller{config, state};
    RecordingView view;
    std::unique_ptr<Flow> flow;
    std::unique_ptr<Host> host;
    ScriptedRun script;
    std::atomic<int> diagnosisRuns{0};
};

TEST_F(FlowTest, StartsInTheWelcomePhase)
{
    StartFlow();
    EXPECT_EQ(flow->CurrentPhase(), Phase::Welcome);
    EXPECT_EQ(flow->Shown().status, L"欢迎使用, 请点击 开始检测");
    for (const CheckRow& row : flow->Shown().rows) {
        EXPECT_EQ(row.status, RowStatus::NotChecked);
        EXPECT_TRUE(row.result.empty());
        EXPECT_FALSE(row.recommended.empty());
    }
    // Nothing to launch or update yet.
    flow->PressGame();
    EXPECT_EQ(flow->CurrentPhase(), Phase::Welcome);
    EXPECT_TRUE(view.shown.empty());
}

TEST_F(FlowTest, DetectionVerdictBlocksOrSavesAndChecksForUpdates)
{
    struct Case {
        const char* name;
        ScriptedRun run;
        bool blocked;
    };
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
    const Case cases[] = {
        {"passing", ScriptedRun{}, false},
        {"no .NET", noDotNet, true},
        {"game server unreachable", gameUnreachable, true},
        {"outside a game directory", outsideGame, true},
        {"only warnings", softFailures, false},
    };
    // The relay fails, so every check ends in its box.
    server.Route("url.txt", "", 404);
    StartFlow();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(state.IniPath().c_str());
        view.shown.clear();
        script = c.run;
        Diagnose();
        if (c.blocked) {
            EXPECT_EQ(flow->CurrentPhase(), Phase::Blocked);
            EXPECT_EQ(flow->Shown().status, L"请将当前检测程序放置在魔兽世界客户端目录下");
            EXPECT_FALSE(Fixture::Exists(state.IniPath()));
            EXPECT_TRUE(view.shown.empty());
            continue;
        }
        EXPECT_EQ(IniText(state.IniPath(), L"Launcher", L"SetupComplete"), L"1");
        EXPECT_EQ(flow->CurrentPhase(), Phase::Checking);
        WaitForPhase(Phase::CheckFailed);
        EXPECT_EQ(flow->Shown().status, L"检查更新失败");
        ASSERT_EQ(view.shown.size(), 1u);
        EXPECT_EQ(view.shown[0].caption, L"错误");
        EXPECT_EQ(view.shown[0].text, L"二次寻址失败: 无法连接跳板服务器");
        EXPECT_EQ(view.shown[0].style, static_cast<UINT>(MB_ICONERROR));
        ASSERT_TRUE(controller.WaitForRuns(20000));
    }
    EXPECT_EQ(diagnosisRuns.load(), 5);
}

TEST_F(FlowTest, LiveRowsShowEachStepsResult)
{
    StartFlow();
    script.dotNet = 2;
    script.apiReachable = false;
    Diagnose();
    const CheckRows& rows = flow->Shown().rows;
    EXPECT_EQ(rows[0].result, L"Windows 7 旗舰版");
    EXPECT_EQ(rows[2].status, RowStatus::Warning);
    EXPECT_EQ(rows[2].advice, L"建议升级到.NET 8.0");
    EXPECT_EQ(rows[4].result, L"非完整客户端");
    EXPECT_EQ(rows[5].result, L"无法连通");
    EXPECT_EQ(rows[6].result, L"可连通");
    EXPECT_EQ(rows[6].status, RowStatus::Ok);
    // The record the UI thread keeps holds the probes' values.
    EXPECT_EQ(state.DotNetVersion, L"NET 8.0.11");
    EXPECT_EQ(state.ApiLatencyMs, 3);
}

TEST_F(FlowTest, WindowsSevenPassRecordsTheNativeLauncher)
{
    state.LauncherType = L"NET8_LAUNCHER";
    state.LauncherPath = L"C:\\somewhere\\launcher.exe";
    StartFlow();
    script.isWin7 = true;
    Diagnose();
    EXPECT_EQ(IniText(state.IniPath(), L"Launcher", L"LauncherType"), L"WIN32_NATIVE");
    EXPECT_EQ(IniText(state.IniPath(), L"Launcher", L"LauncherPath"), L"");
}

TEST_F(FlowTest, StartGameChecksTheGameServerThenTheLauncher)
{
    StartFlow();
    script.gameReachable = false;
    Diagnose();
    ASSERT_EQ(flow->CurrentPhase(), Phase::Blocked);
    flow->PressGame();
    ASSERT_EQ(view.shown.size(), 1u);
    EXPECT_EQ(view.shown[0].caption, L"网络异常");
    EXPECT_EQ(view.shown[0].text, L"无法连接游戏服务器\n\n请检查网络后重新检测, 再开始游戏");

    script.gameReachable = true;
    script.dotNet = 0;  // blocked again, but the game server is reachable now
    Diagnose();
    flow->PressGame();
    ASSERT_EQ(view.shown.size(), 2u);
    EXPECT_EQ(view.shown[1].caption, L"错误");
    // The test program has no launcher beside it.
    EXPECT_EQ(view.shown[1].text.rfind(L"未找到登录器:\n", 0), 0u)
        << testing::PrintToString(view.shown[1].text);
    EXPECT_NE(view.shown[1].text.find(L"\\Kaimor登录器.exe\n\n"), std::wstring::npos);
    EXPECT_EQ(view.quits, 0);
    EXPECT_EQ(flow->CurrentPhase(), Phase::Blocked);
}

// A launcher whose manifest asks for administrator rights cannot be started
// with CreateProcessW (error 740); the shell then asks the player, and only a
// start ends the program.
TEST_F(FlowTest, StartGameAsksForElevationWhenTheLauncherNeedsIt)
{
    ASSERT_TRUE(Fixture::WriteBytes(dir / L"Kaimor登录器.exe", "MZ"));
    StartFlow();
    flow->programDirectory = dir.Path();
    Diagnose();
    WaitForPhase(Phase::UpToDate);
    const std::wstring launcher = dir / L"Kaimor登录器.exe";

    struct Case {
        const char* name;
        DWORD processError;  // 0: the process starts
        DWORD shellError;    // 0: the shell starts it
        bool quits;
        const wchar_t* status;  // nullptr: unchanged
        std::wstring box;       // empty: none
    };
    const Case cases[] = {
        {"prompt refused", kElevationRequired, ERROR_CANCELLED, false,
         L"登录器需要管理员权限, 请在提示时选择“是”", L""},
        {"no elevation needed, access denied", ERROR_ACCESS_DENIED, 0, false, nullptr,
         L"启动登录器失败, 错误代码: 5\n路径: " + launcher},
        {"shell fails otherwise", kElevationRequired, ERROR_FILE_NOT_FOUND, false, nullptr,
         L"启动登录器失败, 错误代码: 2\n路径: " + launcher},
        {"prompt accepted", kElevationRequired, 0, true, nullptr, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ShellStart> requests;
        flow->startProcess = [&c](const std::wstring&, const std::wstring&, DWORD& error) {
            error = c.processError;
            return c.processError == 0;
        };
        flow->startShell = [&](const ShellStart& request, DWORD& error) {
            requests.push_back(request);
            error = c.shellError;
            return c.shellError == 0;
        };
        const std::wstring statusBefore = flow->Shown().status;
        view.shown.clear();
        flow->PressGame();

        EXPECT_EQ(view.quits, c.quits ? 1 : 0);
        EXPECT_EQ(flow->CurrentPhase(), c.quits ? Phase::Launched : Phase::UpToDate);
        EXPECT_EQ(flow->Shown().status, c.status ? std::wstring(c.status) : statusBefore);
        if (c.box.empty()) {
            EXPECT_TRUE(view.shown.empty());
        } else {
            ASSERT_EQ(view.shown.size(), 1u);
            EXPECT_EQ(view.shown[0].text, c.box);
            EXPECT_EQ(view.shown[0].caption, L"错误");
        }
        ASSERT_EQ(requests.size(), c.processError == kElevationRequired ? 1u : 0u);
        if (!requests.empty()) {
            EXPECT_EQ(requests[0].verb, L"open");
            EXPECT_EQ(requests[0].file, launcher);
            EXPECT_EQ(requests[0].directory, dir.Path());
            EXPECT_EQ(requests[0].owner, host->Window());
        }
    }
}

TEST_F(FlowTest, SavedResultsAreRestoredAndStartTheCheckWithoutProbing)
{
    SaveDiagnosis();
    StartFlow();
    EXPECT_EQ(flow->Shown().rows[0].result, L"Windows 10 专业版");
    EXPECT_EQ(flow->Shown().rows[6].result, L"可连通 (20ms)");
    EXPECT_EQ(flow->CurrentPhase(), Phase::Checking);
    WaitForPhase(Phase::UpToDate);
    EXPECT_EQ(flow->Shown().status, L"游戏已是最新版本");
    EXPECT_EQ(diagnosisRuns.load(), 0);
    EXPECT_TRUE(view.shown.empty());
}

TEST_F(FlowTest, AnUpdateRunsToItsEndAndTheLauncherFollowsOneSecondLater)
{
    const std::string first(3000, 'a');
    const std::string second(5000, 'b');
    const std::string third(7000, 'c');
    Offer({{"a.bin", first}, {"sub/b.bin", second}, {"c.bin", third}});
    StartFlow();
    Diagnose();
    WaitForPhase(Phase::UpdateAvailable);
    EXPECT_EQ(flow->Shown().status, L"发现 3 个文件需要更新");

    flow->PressGame();
    EXPECT_EQ(flow->CurrentPhase(), Phase::Updating);
    EXPECT_EQ(flow->Shown().status, L"正在下载更新文件...");
    WaitForPhase(Phase::Updated);
    const ULONGLONG completed = GetTickCount64();
    EXPECT_EQ(flow->Shown().status, L"更新完成!");
    EXPECT_EQ(flow->Shown().progress, 100);
    EXPECT_EQ(Fixture::ReadBytes(dir / L"a.bin"), first);
    EXPECT_EQ(Fixture::ReadBytes(dir / L"sub\\b.bin"), second);
    EXPECT_EQ(Fixture::ReadBytes(dir / L"c.bin"), third);

    // The launch then finds no launcher beside the test program.
    ASSERT_TRUE(PumpUntil([this] { return !view.shown.empty(); }, 5000));
    const ULONGLONG waited = GetTickCount64() - completed;
    EXPECT_GE(waited, 950u);
    EXPECT_LT(waited, 3000u);
    EXPECT_EQ(view.shown[0].text.rfind(L"未找到登录器:\n", 0), 0u);
}

// An update that brings a new program: it alone is fetched, the mutex is let
// go before the new program starts, and this one ends without a launch; or,
// when the new one cannot start, the old one is back and the run failed.
TEST_F(FlowTest, AnUpdateOfTheProgramHandsOverToTheNewOneOrPutsTheOldOneBack)
{
    ASSERT_TRUE(Fixture::WriteBytes(dir / L"Kaimor登录器.exe", "MZ"));
    const std::wstring program = dir / L"Orvane.exe";
    controller.programPath = program;
    Offer({{"Orvane.exe", "MZ new program"}, {"a.bin", std::string(3000, 'a')}});
    SaveDiagnosis();
    const std::string savedSetup = Fixture::ReadBytes(state.IniPath());

    struct Case {
        const char* name;
        DWORD startError;  // 0: the new program starts
        std::vector<std::string> steps;
        std::string programAfter;
    };
    const Case cases[] = {
        {"the new program cannot start", ERROR_BAD_EXE_FORMAT, {"release", "start", "reacquire"}, "MZ old"},
        {"the new program starts", 0, {"release", "start"}, "MZ new program"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Fixture::WriteBytes(program, "MZ old"));
        flow.reset();
        view = RecordingView();
        StartFlow();
        flow->programDirectory = dir.Path();
        int launches = 0;
        flow->startProcess = [&launches](const std::wstring&, const std::wstring&, DWORD&) {
            ++launches;
            return true;
        };
        std::vector<std::string> steps;
        flow->handOver.releaseInstance = [&steps] { steps.push_back("release"); };
        flow->handOver.reacquireInstance = [&steps] { steps.push_back("reacquire"); };
        flow->handOver.startProgram = [&](DWORD& error) {
            steps.push_back("start");
            // The new program is in place, the old one aside, when it starts.
            EXPECT_EQ(Fixture::ReadBytes(program), "MZ new program");
            EXPECT_EQ(Fixture::ReadBytes(program + kAsideSuffix), "MZ old");
            error = c.startError;
            return c.startError == 0;
        };
        WaitForPhase(Phase::UpdateAvailable);
        flow->PressGame();
        ASSERT_TRUE(PumpUntil([&] { return view.quits > 0 || flow->CurrentPhase() == Phase::UpdateFailed; }));
        PumpFor(200);

        EXPECT_EQ(steps, c.steps);
        EXPECT_EQ(Fixture::ReadBytes(program), c.programAfter);
        EXPECT_FALSE(Fixture::Exists(dir / L"a.bin"));  // left to the new program
        EXPECT_EQ(launches, 0);
        EXPECT_EQ(Fixture::ReadBytes(state.IniPath()), savedSetup);
        if (c.startError == 0) {
            EXPECT_EQ(view.quits, 1);
            EXPECT_TRUE(view.shown.empty());
            EXPECT_TRUE(Fixture::Exists(program + kAsideSuffix));  // the new program removes it
        } else {
            EXPECT_EQ(view.quits, 0);
            EXPECT_EQ(flow->CurrentPhase(), Phase::UpdateFailed);
            ASSERT_EQ(view.shown.size(), 1u);
            EXPECT_EQ(view.shown[0].text, L"下载失败: Orvane.exe");
            EXPECT_EQ(view.shown[0].caption, L"错误");
            EXPECT_EQ(flow->Shown().status, L"更新失败");
            EXPECT_FALSE(Fixture::Exists(program + kAsideSuffix));
        }
    }
}

// The program an update started: the player asked for the update already, so
// it fetches what remains by itself and starts the launcher once: one second
// after the update, or at once when nothing remains.
TEST_F(FlowTest, AProgramStartedByItsUpdateFinishesTheUpdateAndStartsTheLauncherOnce)
{
    ASSERT_TRUE(Fixture::WriteBytes(dir / L"Kaimor登录器.exe", "MZ"));
    SaveDiagnosis();
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> remaining;
        unsigned launchDelayMs;  // long where the launch must not wait for it
    };
    const Case cases[] = {
        {"files remain", {{"a.bin", std::string(3000, 'a')}, {"sub/b.bin", std::string(5000, 'b')}}, 50},
        {"nothing remains", {}, 600000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Offer(c.remaining);
        flow.reset();
        view = RecordingView();
        StartFlow(true);
        flow->programDirectory = dir.Path();
        flow->launchDelayMs = c.launchDelayMs;
        std::vector<std::wstring> launched;
        flow->startProcess = [&launched](const std::wstring& path, const std::wstring&, DWORD&) {
            launched.push_back(path);
            return true;
        };
        ASSERT_TRUE(PumpUntil([&] { return !launched.empty(); }, 20000))
            << "phase " << static_cast<int>(flow->CurrentPhase());
        PumpFor(300);
        EXPECT_EQ(launched, std::vector<std::wstring>{dir / L"Kaimor登录器.exe"});
        EXPECT_EQ(flow->CurrentPhase(), Phase::Launched);
        EXPECT_EQ(view.quits, 1);
        EXPECT_TRUE(view.shown.empty());
        EXPECT_EQ(diagnosisRuns.load(), 0);
        for (const auto& [path, content] : c.remaining) {
            EXPECT_EQ(Fixture::ReadBytes(dir / Utf8ToWide(path)), content) << path;
        }
    }
}

// Only the first check answers the update the player asked for: a failed
// one leaves the choice to the player again.
TEST_F(FlowTest, AProgramStartedByItsUpdateWaitsForThePlayerAfterAFailedCheck)
{
    SaveDiagnosis();
    server.Route("files/filelist.json", "not a list");
    StartFlow(true);
    WaitForPhase(Phase::CheckFailed);
    ASSERT_EQ(view.shown.size(), 1u);
    Offer({{"a.bin", "new"}});
    flow->PressGame();  // "重新检查"
    WaitForPhase(Phase::UpdateAvailable);
    PumpFor(300);
    EXPECT_EQ(flow->CurrentPhase(), Phase::UpdateAvailable);
    EXPECT_FALSE(Fixture::Exists(dir / L"a.bin"));
}

TEST_F(FlowTest, ProgressReportsFillTheCounterAndSpeed)
{
    Offer({{"one.bin", std::string(40000, 'x')}, {"two.bin", std::string(40000, 'y')}}, Serve::Slow);
    StartFlow();
    Diagnose();
    WaitForPhase(Phase::UpdateAvailable);
    flow->PressGame();
    ASSERT_TRUE(PumpUntil([this] { return flow->Shown().counterText == L"下载进度: 2/2"; }));
    EXPECT_GT(flow->Shown().progress, 0);
    EXPECT_LT(flow->Shown().progress, 100);
    EXPECT_NE(flow->Shown().speedText.find(L"B/s"), std::wstring::npos);
    WaitForPhase(Phase::Updated, 30000);
    EXPECT_EQ(flow->Shown().progress, 100);
}

TEST_F(FlowTest, TheCheckSaysItComparesLocalFilesAndShowsTheShareCompared)
{
    const std::vector<std::pair<std::string, std::string>> files = {
        {"Data/base.MPQ", std::string(12 << 20, 'b')}, {"a.txt", "a"}, {"b.txt", "b"}};
    Offer(files);
    ASSERT_TRUE(CreateDirectoryW((dir / L"Data").c_str(), nullptr));
    for (const auto& [path, content] : files) {
        ASSERT_TRUE(Fixture::WriteBytes(dir / Utf8ToWide(path), content));
    }
    std::vector<Repainted> seen;
    RecordRepaints(seen);
    StartFlow();
    Diagnose();
    WaitForPhase(Phase::UpToDate);

    std::vector<std::wstring> statuses;
    std::vector<int> shares;
    for (const Repainted& r : seen) {
        if (r.area == FlowView::Area::Everything &&
            (statuses.empty() || statuses.back() != r.status)) {
            statuses.push_back(r.status);
        }
        if (r.area == FlowView::Area::ProgressBand && r.phase == Phase::Checking) {
            EXPECT_EQ(r.status, L"正在校验本地文件...");
            EXPECT_EQ(r.counter, L"");  // no file counter while comparing
            shares.push_back(r.progress);
        }
    }
    const std::vector<std::wstring> expected = {L"正在检查更新...", L"正在连接服务器...",
                                                L"正在校验本地文件...", L"游戏已是最新版本"};
    EXPECT_EQ(std::vector<std::wstring>(statuses.end() - std::min(statuses.size(), expected.size()),
                                        statuses.end()),
              expected);
    ASSERT_FALSE(shares.empty());
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
    EXPECT_GT(shares.front(), 0);
    EXPECT_EQ(shares.back(), 100);  // the last share arrives before the result
    EXPECT_EQ(flow->Shown().progress, 0);
}

TEST_F(FlowTest, DownloadProgressRepaintsOnlyTheProgressBand)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < 60; ++i) {
        files.push_back({"f" + std::to_string(i) + ".bin", std::string(20000, static_cast<char>('a' + i % 26))});
    }
    Offer(files);
    std::vector<Repainted> seen;
    RecordRepaints(seen);
    StartFlow();
    Diagnose();
    WaitForPhase(Phase::UpdateAvailable);
    seen.clear();
    flow->PressGame();
    WaitForPhase(Phase::Updated, 30000);

    int whole = 0;
    int band = 0;
    for (const Repainted& r : seen) {
        if (r.phase == Phase::Updating) {
            (r.area == FlowView::Area::Everything ? whole : band) += 1;
        }
    }
    // The download's start and its "up to date" report; every file's
    // progress only in the band.
    EXPECT_LE(whole, 2);
    EXPECT_GT(band, 0);
    EXPECT_EQ(flow->Shown().progress, 100);
}

TEST_F(FlowTest, NoSecondRunWhileOneIsActive)
{
    Offer({{"slow.bin", std::string(30000, 's')}}, Serve::Slow);
    server.Route("files/filelist.json", "", 404);
    StartFlow();
    Diagnose();
    WaitForPhase(Phase::CheckFailed);
    view.shown.clear();

    // During a check: neither button does anything.
    Offer({{"slow.bin", std::string(30000, 's')}}, Serve::Slow);
    flow->PressGame();  // check again
    ASSERT_EQ(flow->CurrentPhase(), Phase::Checking);
    EXPECT_FALSE(StartButtonLook(flow->CurrentPhase()).enabled);
    EXPECT_EQ(StartButtonLook(flow->CurrentPhase()).text, L"重新检测");
    flow->PressStart();
    flow->PressGame();
    EXPECT_EQ(flow->CurrentPhase(), Phase::Checking);
    WaitForPhase(Phase::UpdateAvailable);

    // During a download: the same.
    flow->PressGame();
    ASSERT_EQ(flow->CurrentPhase(), Phase::Updating);
    ASSERT_TRUE(PumpUntil([this] { return flow->Shown().progress > 0; }));
    flow->PressStart();
    flow->PressGame();
    EXPECT_EQ(flow->CurrentPhase(), Phase::Updating);
    WaitForPhase(Phase::Updated, 30000);
    EXPECT_EQ(diagnosisRuns.load(), 1);
    EXPECT_EQ(server.RequestCount("files/slow.bin"), 1);
    EXPECT_EQ(Fixture::ReadBytes(dir / L"slow.bin"), std::string(30000, 's'));
    EXPECT_TRUE(view.shown.empty());
}

TEST_F(FlowTest, ANewDiagnosisCancelsThePendingLaunch)
{
    Offer({{"a.bin", "new"}});
    StartFlow();
    Diagnose();
    WaitForPhase(Phase::UpdateAvailable);
    flow->PressGame();
    WaitForPhase(Phase::Updated);

    flow->PressStart();  // within the second before the launch
    EXPECT_EQ(flow->CurrentPhase(), Phase::Detecting);
    PumpFor(1600);
    // No launch attempt (it would have shown the missing-launcher box).
    EXPECT_TRUE(view.shown.empty());
    EXPECT_EQ(view.quits, 0);
    EXPECT_EQ(diagnosisRuns.load(), 2);
}

TEST_F(FlowTest, TheWaitForRunsCoversTheEndOfTheDiagnosisThread)
{
    StartFlow();
    // Set on the diagnosis thread, read once the wait says it has ended.
    std::shared_ptr<std::atomic<bool>> ended;
    flow->diagnosisRun = [this, &ended](DiagnosisSink& sink) {
        ended = Fixture::EndThisThreadSlowly(300);
        RunDiagnosis(Probes(), sink);
    };
    flow->PressStart();
    // No message is handled, so no check follows: only the diagnosis is waited for.
    ASSERT_TRUE(flow->WaitForRuns(20000));
    ASSERT_TRUE(ended) << "the diagnosis did not run";
    EXPECT_TRUE(ended->load()) << "the wait returned while the diagnosis thread was still ending";
}

TEST_F(FlowTest, ThreadsThatCannotBeCreatedEndInTheirOwnFailure)
{
    Offer({{"a.bin", "new"}});
    StartFlow();
    const auto noThread = [](std::function<void()>) { return KernelHandle(); };

    // The probes.
    flow->startThread = noThread;
    flow->PressStart();
    EXPECT_EQ(flow->CurrentPhase(), Phase::DiagnosisFailed);
    EXPECT_EQ(flow->Shown().status, L"无法启动检测, 请重新检测");
    EXPECT_TRUE(StartButtonLook(flow->CurrentPhase()).enabled);
    EXPECT_FALSE(GameButtonLook(flow->CurrentPhase()).enabled);
    flow->startThread = StartThread;

    // The check.
    const auto realStart = controller.startThread;
    controller.startThread = noThread;
    Diagnose();
    EXPECT_EQ(flow->CurrentPhase(), Phase::CheckFailed);
    EXPECT_EQ(flow->Shown().status, L"检查更新失败");
    ASSERT_EQ(view.shown.size(), 1u);
    EXPECT_EQ(view.shown[0].text, L"无法启动更新检查: 系统无法创建新的线程, 请关闭其他程序后重试");
    EXPECT_EQ(GameButtonLook(flow->CurrentPhase()).text, L"重新检查");
    PumpFor(100);  // the check's first report arrives late and changes nothing
    EXPECT_EQ(flow->Shown().status, L"检查更新失败");

    controller.startThread = realStart;
    flow->PressGame();
    WaitForPhase(Phase::UpdateAvailable);

    // The download.
    controller.startThread = noThread;
    flow->PressGame();
    EXPECT_EQ(flow->CurrentPhase(), Phase::UpdateFailed);
    EXPECT_EQ(flow->Shown().status, L"更新失败");
    ASSERT_EQ(view.shown.size(), 2u);
    EXPECT_EQ(view.shown[1].text, L"无法启动下载: 系统无法创建新的线程, 请关闭其他程序后重试");

    controller.startThread = realStart;
    flow->PressGame();  // check again, then update
    WaitForPhase(Phase::UpdateAvailable);
    flow->PressGame();
    WaitForPhase(Phase::Updated);
    EXPECT_EQ(Fixture::ReadBytes(dir / L"a.bin"), "new");
}

TEST_F(FlowTest, CancelStopsADownloadWithinTheBound)
{
    ASSERT_TRUE(Fixture::WriteBytes(dir / L"big.bin", "old"));
    Offer({{"big.bin", std::string(400000, 'n')}}, Serve::Slow);
    StartFlow();
    Diagnose();
    WaitForPhase(Phase::UpdateAvailable);
    flow->PressGame();
    ASSERT_TRUE(PumpUntil([this] { return flow->Shown().progress > 0 || !flow->Shown().counterText.empty(); }));

    const ULONGLONG closing = GetTickCount64();
    flow->Cancel();
    EXPECT_TRUE(flow->WaitForRuns(2000));
    EXPECT_LT(GetTickCount64() - closing, 2000u);
    EXPECT_EQ(Fixture::ReadBytes(dir / L"big.bin"), "old");
    // What arrived stays beside the target for the next run to continue.
    EXPECT_EQ(Fixture::FilesBelow(dir.Path()),
              (std::set<std::wstring>{L"big.bin", L"big.bin.orvpart", L"setup.ini", L"wow.exe"}));
}

// ---- The message channel -------------------------------------------------------------

TEST(MessageChannelTest, ValuesTravelWithTheirMessagesInOrder)
{
    std::vector<FlowMessage> received;
    std::shared_ptr<MessageChannel> channel;
    Host host([&](UINT message, WPARAM wParam, LPARAM lParam) {
        if (std::optional<FlowMessage> decoded = channel->Decode(message, wParam, lParam)) {
            received.push_back(*decoded);
            return true;
        }
        return false;
    });
    channel = std::make_shared<MessageChannel>(host.Window());

    std::thread worker([channel] {
        DiagnosisRecord first;
        first.OSName = L"first";
        first.IsWin10OrLater = true;
        DiagnosisRecord second = first;
        second.OSName = L"second";
        second.Is64Bit = false;
        channel->PostDiagnosisStep(DiagnosisStep::OperatingSystem, first);
        channel->PostDiagnosisStep(DiagnosisStep::Architecture, second);
        channel->PostDiagnosisDone(second);
        channel->PostUpdateReport({UpdateController::State::UpdateAvailable, L"需要更新 7 个文件", 7});
        channel->PostUpdateReport({UpdateController::State::Error, L"下载失败: a.bin", 0});
        channel->PostCompletion(false);
    });
    worker.join();
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 6; }, 5000));

    const auto& os = std::get<DiagnosisStepMessage>(received[0]);
    EXPECT_EQ(os.step, DiagnosisStep::OperatingSystem);
    EXPECT_EQ(os.code, 1);
    EXPECT_EQ(os.soFar.OSName, L"first");
    const auto& arch = std::get<DiagnosisStepMessage>(received[1]);
    EXPECT_EQ(arch.step, DiagnosisStep::Architecture);
    EXPECT_EQ(arch.code, 2);
    EXPECT_EQ(arch.soFar.OSName, L"second");
    EXPECT_EQ(std::get<DiagnosisDoneMessage>(received[2]).record.OSName, L"second");
    const auto& available = std::get<UpdateStateMessage>(received[3]).report;
    EXPECT_EQ(available.state, UpdateController::State::UpdateAvailable);
    EXPECT_EQ(available.fileCount, 7u);
    const auto& error = std::get<UpdateStateMessage>(received[4]).report;
    EXPECT_EQ(error.state, UpdateController::State::Error);
    EXPECT_EQ(error.text, L"下载失败: a.bin");
    EXPECT_FALSE(std::get<CompletionMessage>(received[5]).success);

    // Other messages are not the channel's.
    for (UINT message : {UINT{WM_USER + 1003}, UINT{WM_PAINT}, UINT{WM_TIMER}}) {
        EXPECT_FALSE(channel->Decode(message, 1, 0).has_value()) << message;
    }
}

TEST(MessageChannelTest, ABurstOfProgressReportsCannotLoseTheCompletion)
{
    int progressMessages = 0;
    bool completed = false;
    int lastPercent = -1;
    std::shared_ptr<MessageChannel> channel;
    Host host([&](UINT message, WPARAM wParam, LPARAM lParam) {
        const std::optional<FlowMessage> decoded = channel->Decode(message, wParam, lParam);
        if (!decoded) {
            return false;
        }
        if (const auto* progress = std::get_if<ProgressMessage>(&*decoded)) {
            ++progressMessages;
            lastPercent = progress->percent;
        } else if (const auto* completion = std::get_if<CompletionMessage>(&*decoded)) {
            completed = completion->success;
        }
        return true;
    });
    channel = std::make_shared<MessageChannel>(host.Window());

    // Reports for every 8 KB chunk of a 2.4 GB transfer over 3,000 files, as
    // fast as a thread can make them, then the completion.
    constexpr int kReports = 300000;
    const ULONGLONG started = GetTickCount64();
    std::thread reporter([channel] {
        const int64_t total = int64_t{kReports} * 8192;
        for (int i = 1; i <= kReports; ++i) {
            channel->PostProgress(1 + i / 100, 3000, int64_t{i} * 8192, total, 5.0e7);
        }
        channel->PostCompletion(true);
    });
    reporter.join();
    const ULONGLONG elapsed = GetTickCount64() - started;
    ASSERT_TRUE(PumpUntil([&] { return completed; }, 15000));
    // The last report, held back by the throttle, arrives before the completion.
    EXPECT_EQ(lastPercent, 100);
    // One report per 50 ms whatever the file changes, plus the first and the
    // flushed last.
    EXPECT_GE(progressMessages, 2);
    EXPECT_LE(static_cast<uint64_t>(progressMessages), elapsed / 50 + 2);
    EXPECT_EQ(channel->ProgressPosts(), static_cast<uint64_t>(progressMessages));
}

}  // namespace
}  // namespace Orvane
