#include "flow/Messages.h"

namespace Orvane {

namespace {

constexpr DiagnosisStep kSteps[] = {
    DiagnosisStep::OperatingSystem, DiagnosisStep::Architecture, DiagnosisStep::DotNet,
    DiagnosisStep::GameDirectory,   DiagnosisStep::Integrity,    DiagnosisStep::LoginServer,
    DiagnosisStep::GameServer,
};

// Low 32 bits of a rate truncated towards zero, as the speed message carries it.
WPARAM SpeedParameter(double bytesPerSecond)
{
    if (!(bytesPerSecond > 0.0) || bytesPerSecond >= 18446744073709551616.0) {
        return 0;
    }
    return static_cast<uint32_t>(static_cast<uint64_t>(bytesPerSecond));
}

}  // namespace

UINT MessageOf(DiagnosisStep step)
{
    switch (step) {
    case DiagnosisStep::OperatingSystem:
        return WM_DETECT_OS;
    case DiagnosisStep::Architecture:
        return WM_DETECT_ARCH;
    case DiagnosisStep::DotNet:
        return WM_DETECT_DOTNET;
    case DiagnosisStep::GameDirectory:
        return WM_DETECT_GAMEDIR;
    case DiagnosisStep::Integrity:
        return WM_DETECT_INTEGRITY;
    case DiagnosisStep::LoginServer:
        return WM_DETECT_LOGIN_SERVER;
    case DiagnosisStep::GameServer:
        return WM_DETECT_GAME_SERVER;
    }
    return 0;
}

bool MessageChannel::PostReliably(UINT message, WPARAM wParam, LPARAM lParam) const
{
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (PostMessageW(window_, message, wParam, lParam)) {
            return true;
        }
        if (!IsWindow(window_)) {
            return false;
        }
        Sleep(10);
    }
    return false;
}

void MessageChannel::PostDiagnosisStep(DiagnosisStep step, const DiagnosisRecord& soFar)
{
    diagnoses_.Put(soFar);
    if (!PostReliably(MessageOf(step), static_cast<WPARAM>(StepCode(step, soFar)), 0)) {
        diagnoses_.Withdraw();
    }
}

void MessageChannel::PostDiagnosisDone(const DiagnosisRecord& record)
{
    diagnoses_.Put(record);
    if (!PostReliably(WM_DETECT_DONE, 0, 0)) {
        diagnoses_.Withdraw();
    }
}

void MessageChannel::PostUpdateReport(const UpdateController::Report& report)
{
    FlushProgress();
    reports_.Put(report);
    if (!PostReliably(WM_UPDATE_STATE, static_cast<WPARAM>(report.state), 0)) {
        reports_.Withdraw();
    }
}

void MessageChannel::PostProgress(int fileIndex, int fileCount, int64_t downloaded, int64_t total,
                                  double bytesPerSecond)
{
    const ProgressValues values{fileIndex, fileCount, downloaded, total, bytesPerSecond};
    {
        std::lock_guard<std::mutex> lock(progressMutex_);
        lastProgress_ = values;
        if (!throttle_.ShouldPost(GetTickCount64())) {
            return;
        }
    }
    SendProgress(values);
}

void MessageChannel::FlushProgress()
{
    ProgressValues values;
    {
        std::lock_guard<std::mutex> lock(progressMutex_);
        if (!throttle_.TakePending()) {
            return;
        }
        values = lastProgress_;
    }
    SendProgress(values);
}

void MessageChannel::SendProgress(const ProgressValues& values)
{
    const int64_t percent = ProgressPercent(values.downloaded, values.total);
    const LPARAM counts =
        MAKELPARAM(static_cast<WORD>(values.fileIndex), static_cast<WORD>(values.fileCount));
    PostMessageW(window_, WM_UPDATE_PROGRESS, static_cast<uint32_t>(percent), counts);
    PostMessageW(window_, WM_UPDATE_SPEED, SpeedParameter(values.bytesPerSecond), 0);
    ++progressPosts_;
}

void MessageChannel::PostCompletion(bool success)
{
    FlushProgress();
    PostReliably(WM_UPDATE_COMPLETE, success ? 1 : 0, 0);
}

void MessageChannel::Connect(const std::shared_ptr<MessageChannel>& channel,
                             UpdateController& controller)
{
    controller.onStateChanged = [channel](const UpdateController::Report& report) {
        channel->PostUpdateReport(report);
    };
    controller.onProgress = [channel](int fileIndex, int fileCount, int64_t downloaded,
                                      int64_t total, double bytesPerSecond) {
        channel->PostProgress(fileIndex, fileCount, downloaded, total, bytesPerSecond);
    };
    controller.onComplete = [channel](bool success) { channel->PostCompletion(success); };
}

std::optional<FlowMessage> MessageChannel::Decode(UINT message, WPARAM wParam, LPARAM lParam)
{
    for (const DiagnosisStep step : kSteps) {
        if (message == MessageOf(step)) {
            DiagnosisStepMessage decoded{step, static_cast<int>(wParam), {}};
            if (std::optional<DiagnosisRecord> values = diagnoses_.Take()) {
                decoded.soFar = std::move(*values);
            }
            return decoded;
        }
    }
    switch (message) {
    case WM_DETECT_DONE: {
        DiagnosisDoneMessage decoded;
        if (std::optional<DiagnosisRecord> values = diagnoses_.Take()) {
            decoded.record = std::move(*values);
        }
        return decoded;
    }
    case WM_UPDATE_STATE: {
        UpdateStateMessage decoded;
        if (std::optional<UpdateController::Report> report = reports_.Take()) {
            decoded.report = std::move(*report);
        }
        // The number in the message is what counts; the text goes with it.
        decoded.report.state = static_cast<UpdateController::State>(wParam);
        return decoded;
    }
    case WM_UPDATE_PROGRESS:
        return ProgressMessage{static_cast<int>(wParam), LOWORD(lParam), HIWORD(lParam)};
    case WM_UPDATE_SPEED:
        return SpeedMessage{static_cast<uint32_t>(wParam)};
    case WM_UPDATE_COMPLETE:
        return CompletionMessage{wParam == 1};
    case WM_LAUNCH_GAME:
        return LaunchMessage{};
    default:
        return std::nullopt;
    }
}

}  // namespace Orvane
