#include "flow/Flow.h"

#include <shellapi.h>

#include <utility>

#include "base/Handles.h"
#include "base/Logger.h"
#include "base/Paths.h"
#include "base/Thread.h"
#include "diagnostics/SystemState.h"
#include "flow/Progress.h"

namespace Orvane {

namespace {

constexpr UINT_PTR kLaunchTimer = 1;

constexpr wchar_t kBlockedText[] = L"请将当前检测程序放置在魔兽世界客户端目录下";
constexpr wchar_t kCheckFailedText[] = L"检查更新失败";
constexpr wchar_t kUpdateFailedText[] = L"更新失败";
constexpr wchar_t kErrorCaption[] = L"错误";
constexpr wchar_t kNoThreadText[] = L"系统无法创建新的线程, 请关闭其他程序后重试";

// The status line after a failed run: `failed`, and the reason when the
// report's text gives one on a line after the failure itself.
std::wstring FailureStatus(const wchar_t* failed, const std::wstring& reportText)
{
    const size_t lineBreak = reportText.find(L'\n');
    return lineBreak == std::wstring::npos ? std::wstring(failed)
                                           : failed + std::wstring(L": ") + reportText.substr(lineBreak + 1);
}

// Hands a diagnosis run's results to the UI thread.
class PostingSink : public DiagnosisSink {
public:
    explicit PostingSink(std::shared_ptr<MessageChannel> channel) : channel_(std::move(channel)) {}
    void StepDone(DiagnosisStep step, const DiagnosisRecord& soFar) override
    {
        channel_->PostDiagnosisStep(step, soFar);
    }
    void Finished(const DiagnosisRecord& record) override { channel_->PostDiagnosisDone(record); }

private:
    std::shared_ptr<MessageChannel> channel_;
};

}  // namespace

bool StartLauncherProcess(const std::wstring& path, const std::wstring& directory, DWORD& error)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::wstring commandLine = LauncherCommandLine(path);
    if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &process)) {
        error = GetLastError();
        return false;
    }
    const KernelHandle thread(process.hThread);
    const KernelHandle started(process.hProcess);
    return true;
}

bool StartThroughShell(const ShellStart& request, DWORD& error)
{
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = request.mask;
    info.hwnd = request.owner;
    info.lpVerb = request.verb.c_str();
    info.lpFile = request.file.c_str();
    info.lpDirectory = request.directory.c_str();
    info.nShow = request.show;
    if (!ShellExecuteExW(&info)) {
        error = GetLastError();
        return false;
    }
    return true;
}

Flow::Flow(SystemState& record, UpdateController& controller, FlowView& view)
    : diagnosisRun([](DiagnosisSink& sink) { RunDiagnosis(DiagnosisProbes::System(), sink); }),
      startThread(StartThread),
      startProcess(StartLauncherProcess),
      startShell(StartThroughShell),
      programDirectory(LauncherDirectoryOf(GetExecutablePath())),
      handOver{nullptr,
               [](DWORD& error) { return StartProgramAfterUpdate(GetExecutablePath(), error); },
               nullptr},
      record_(record),
      controller_(controller),
      view_(view)
{
}

Flow::~Flow()
{
    // Cancelled runs end at their next chunk or file, a diagnosis when its
    // probes are done: nothing they use may go before.
    Cancel();
    WaitForRuns(INFINITE);
    // The controller may outlive the flow; its reports must not reach a
    // channel nobody reads.
    controller_.onStateChanged = nullptr;
    controller_.onProgress = nullptr;
    controller_.onComplete = nullptr;
}

void Flow::Start(HWND window)
{
    window_ = window;
    channel_ = std::make_shared<MessageChannel>(window);
    MessageChannel::Connect(channel_, controller_);
    continueUpdate_ = startedByUpdate;
    if (record_.Load()) {
        screen_.rows = RestoredRows(record_);
        Verdict();
    }
    Repaint();
}

bool Flow::Apply(FlowEvent event)
{
    const std::optional<Phase> next = Next(phase_, event);
    if (!next) {
        return false;
    }
    phase_ = *next;
    return true;
}

void Flow::Repaint()
{
    view_.Repaint(FlowView::Area::Everything);
}

void Flow::ClearTransfer()
{
    screen_.progress = 0;
    screen_.counterText.clear();
    screen_.speedText.clear();
}

// ---- Diagnosis ---------------------------------------------------------------

void Flow::PressStart()
{
    if (!Apply(FlowEvent::DiagnosisStarted)) {
        return;
    }
    // A launch still waiting for its second belongs to the previous results.
    KillTimer(window_, kLaunchTimer);
    ClearTransfer();
    screen_.status = L"正在检测系统环境...";
    screen_.rows = InitialRows();
    Repaint();

    KernelHandle thread = startThread([run = diagnosisRun, channel = channel_] {
        PostingSink sink(channel);
        run(sink);
    });
    if (thread) {
        diagnoses_.Add(std::move(thread));
    } else {
        Logger::Instance().Write(LogLevel::Error, "Cannot create a thread for the diagnosis");
        Apply(FlowEvent::DiagnosisNotStarted);
        screen_.status = L"无法启动检测, 请重新检测";
        Repaint();
    }
}

void Flow::OnDiagnosisStep(const DiagnosisStepMessage& message)
{
    if (phase_ != Phase::Detecting) {
        return;
    }
    const DetectionStep step = DescribeStep(message.step, message.code, message.soFar);
    CheckRow& row = screen_.rows[step.row];
    row.result = step.result;
    row.status = step.status;
    row.advice = step.advice;
    screen_.status = step.statusText;
    Repaint();
}

void Flow::OnDiagnosisDone(const DiagnosisDoneMessage& message)
{
    if (phase_ != Phase::Detecting) {
        return;
    }
    // The probes' values replace the diagnosis; the setup decision stays.
    const DiagnosisRecord previous = record_;
    record_.Record() = message.record;
    record_.LauncherType = previous.LauncherType;
    record_.LauncherPath = previous.LauncherPath;
    record_.LastCheckDate = previous.LastCheckDate;
    record_.SetupComplete = previous.SetupComplete;
    if (!HasBlockingFailure(screen_.rows)) {
        // Saved before the update check starts, so the check never meets a
        // half-written setup.ini.
        if (record_.IsWin7) {
            record_.LauncherType = L"WIN32_NATIVE";
            record_.LauncherPath.clear();
        }
        record_.SetupComplete = true;
        if (!record_.Save()) {
            // The diagnosis stands for this run; only the next start cannot
            // skip it. Each refused write is logged with its error code.
            Logger::Instance().Write(LogLevel::Warning,
                                     "The diagnosis could not be saved; the next start diagnoses again");
        }
    }
    Verdict();
    Repaint();
}

// The verdict on the rows shown, live or restored: blocked, or the check starts.
void Flow::Verdict()
{
    if (HasBlockingFailure(screen_.rows)) {
        Apply(FlowEvent::DiagnosisBlocked);
        screen_.status = kBlockedText;
        return;
    }
    if (Apply(FlowEvent::DiagnosisPassed)) {
        screen_.status = L"检测通过, 正在检查更新...";
        StartCheck();
    }
}

// ---- Update ----------------------------------------------------------------------

void Flow::PressGame()
{
    switch (GameButtonAction(phase_)) {
    case GameAction::Update:
        StartDownload();
        break;
    case GameAction::CheckAgain:
        if (Apply(FlowEvent::CheckStarted)) {
            StartCheck();
        }
        break;
    case GameAction::Launch:
        Launch();
        break;
    case GameAction::None:
        break;
    }
}

// In the Checking phase.
void Flow::StartCheck()
{
    ClearTransfer();
    screen_.status = L"正在检查更新...";
    Repaint();
    if (controller_.CheckForUpdates() != UpdateController::RunStart::Started) {
        Fail(FlowEvent::CheckFailed, kCheckFailedText, std::wstring(L"无法启动更新检查: ") + kNoThreadText);
    }
}

void Flow::StartDownload()
{
    if (!Apply(FlowEvent::UpdateStarted)) {
        return;
    }
    ClearTransfer();
    screen_.status = L"正在下载更新文件...";
    Repaint();
    channel_->ResetProgress();
    if (controller_.StartUpdate() != UpdateController::RunStart::Started) {
        Fail(FlowEvent::UpdateFailed, kUpdateFailedText, std::wstring(L"无法启动下载: ") + kNoThreadText);
    }
}

// A run that could not start: its failure phase, status and box.
void Flow::Fail(FlowEvent event, const wchar_t* status, const std::wstring& reason)
{
    Apply(event);
    screen_.status = status;
    Repaint();
    view_.ShowMessage(reason, kErrorCaption, MB_ICONERROR);
}

void Flow::OnUpdateState(const UpdateController::Report& report)
{
    using State = UpdateController::State;
    if (!RunActive(phase_) || phase_ == Phase::Detecting) {
        return;  // a report of no run the flow is waiting for
    }
    switch (report.state) {
    case State::Connecting:
        screen_.status = L"正在连接服务器...";
        break;
    case State::Verifying:
        screen_.status = L"正在校验本地文件...";
        ClearTransfer();
        break;
    case State::UpdateAvailable:
        ClearTransfer();
        if (Apply(FlowEvent::CheckFoundUpdates)) {
            screen_.status = L"发现 " + std::to_wstring(report.fileCount) + L" 个文件需要更新";
            if (std::exchange(continueUpdate_, false)) {
                StartDownload();
                return;
            }
        }
        break;
    case State::UpToDate:
        // A download reports it before its completion, which decides.
        ClearTransfer();
        if (Apply(FlowEvent::CheckUpToDate)) {
            screen_.status = L"游戏已是最新版本";
            if (std::exchange(continueUpdate_, false)) {
                Repaint();
                Launch();  // the update finished with the program itself
                return;
            }
        }
        break;
    case State::ProgramReplaced:
        HandOver();
        return;
    case State::Error:
        continueUpdate_ = false;
        ClearTransfer();
        // A download's failure is shown by the completion that follows.
        lastFailure_ = report.text;
        if (Apply(FlowEvent::CheckFailed)) {
            screen_.status = FailureStatus(kCheckFailedText, lastFailure_);
        }
        Repaint();
        view_.ShowMessage(report.text, kErrorCaption, MB_ICONERROR);
        return;
    default:
        return;
    }
    Repaint();
}

void Flow::OnProgress(const ProgressMessage& message)
{
    if (message.fileCount == 0) {
        return;
    }
    // A check shows the share of listed bytes compared; files are counted
    // only while downloading.
    std::wstring counter;
    if (phase_ == Phase::Updating) {
        counter = FileCounterText(message.fileIndex, message.fileCount);
    } else if (phase_ != Phase::Checking) {
        return;
    }
    const bool changed = message.percent != screen_.progress || counter != screen_.counterText;
    screen_.progress = message.percent;
    screen_.counterText = counter;
    if (changed) {
        view_.Repaint(FlowView::Area::ProgressBand);
    }
}

void Flow::OnSpeed(const SpeedMessage& message)
{
    if (phase_ != Phase::Updating) {
        return;
    }
    screen_.speedText = SpeedText(message.bytesPerSecond);
    view_.Repaint(FlowView::Area::ProgressBand);
}

void Flow::OnCompletion(bool success)
{
    if (success) {
        if (!Apply(FlowEvent::UpdateSucceeded)) {
            return;
        }
        screen_.status = L"更新完成!";
        screen_.progress = 100;
        SetTimer(window_, kLaunchTimer, launchDelayMs, nullptr);
    } else {
        if (!Apply(FlowEvent::UpdateFailed)) {
            return;
        }
        screen_.status = FailureStatus(kUpdateFailedText, lastFailure_);
        lastFailure_.clear();
        ClearTransfer();
    }
    Repaint();
}

void Flow::HandOver()
{
    if (phase_ != Phase::Updating) {
        return;
    }
    DWORD error = 0;
    if (HandOverToNewProgram(handOver, error)) {
        // setup.ini holds the diagnosis already; the new program reads it.
        Logger::Instance().Write(LogLevel::Info, "The updated program runs; this one ends");
        screen_.status = L"程序已更新, 正在重新启动...";
        Repaint();
        view_.Quit();
        return;
    }
    Logger::Instance().Write(LogLevel::Error,
                             "Cannot start the updated program, error " + std::to_string(error));
    lastFailure_ = controller_.RestoreReplacedProgram();
    view_.ShowMessage(lastFailure_, kErrorCaption, MB_ICONERROR);
    OnCompletion(false);
}

// ---- Launch ------------------------------------------------------------------

void Flow::Launch()
{
    if (!Next(phase_, FlowEvent::LauncherStarted)) {
        return;
    }
    if (!record_.GameReachable) {
        view_.ShowMessage(L"无法连接游戏服务器\n\n请检查网络后重新检测, 再开始游戏", L"网络异常",
                          MB_ICONERROR);
        return;
    }
    const std::wstring& directory = programDirectory;
    const std::wstring launcherPath = JoinPath(directory, kLauncherFileName);
    const DWORD attributes = GetFileAttributesW(launcherPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        view_.ShowMessage(LauncherMissingText(launcherPath), kErrorCaption, MB_ICONERROR);
        return;
    }
    const LaunchResult result =
        StartLauncher(launcherPath, directory, window_, LauncherStarters{startProcess, startShell});
    if (result.outcome == LaunchOutcome::ElevationRefused) {
        // The player said no; the window stays for another try.
        Logger::Instance().Write(LogLevel::Warning, "The launcher's administrator prompt was refused");
        screen_.status = kLauncherNeedsAdministratorText;
        Repaint();
        return;
    }
    if (result.outcome == LaunchOutcome::Failed) {
        view_.ShowMessage(LaunchFailedText(result.error, launcherPath), kErrorCaption, MB_ICONERROR);
        return;
    }
    Apply(FlowEvent::LauncherStarted);
    KillTimer(window_, kLaunchTimer);
    view_.Quit();
}

// ---- Messages and shutdown -----------------------------------------------------------

bool Flow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER) {
        if (wParam != kLaunchTimer) {
            return false;
        }
        KillTimer(window_, kLaunchTimer);
        PostMessageW(window_, WM_LAUNCH_GAME, 0, 0);
        return true;
    }
    if (!channel_) {
        return false;
    }
    const std::optional<FlowMessage> decoded = channel_->Decode(message, wParam, lParam);
    if (!decoded) {
        return false;
    }
    if (const auto* step = std::get_if<DiagnosisStepMessage>(&*decoded)) {
        OnDiagnosisStep(*step);
    } else if (const auto* done = std::get_if<DiagnosisDoneMessage>(&*decoded)) {
        OnDiagnosisDone(*done);
    } else if (const auto* state = std::get_if<UpdateStateMessage>(&*decoded)) {
        OnUpdateState(state->report);
    } else if (const auto* progress = std::get_if<ProgressMessage>(&*decoded)) {
        OnProgress(*progress);
    } else if (const auto* speed = std::get_if<SpeedMessage>(&*decoded)) {
        OnSpeed(*speed);
    } else if (const auto* completion = std::get_if<CompletionMessage>(&*decoded)) {
        OnCompletion(completion->success);
    } else if (std::holds_alternative<LaunchMessage>(*decoded)) {
        // Only the launch a successful update scheduled.
        if (phase_ == Phase::Updated) {
            Launch();
        }
    }
    return true;
}

void Flow::Cancel()
{
    if (window_ != nullptr) {
        KillTimer(window_, kLaunchTimer);
    }
    controller_.Cancel();
}

bool Flow::WaitForRuns(unsigned timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    if (!diagnoses_.WaitAll(timeoutMs)) {
        return false;
    }
    const ULONGLONG now = GetTickCount64();
    return controller_.WaitForRuns(timeoutMs == INFINITE ? INFINITE
                                   : now >= deadline     ? 0
                                                         : static_cast<unsigned>(deadline - now));
}

}  // namespace Orvane
