#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

#include "diagnostics/DiagnosisRun.h"
#include "flow/Progress.h"
#include "update/UpdateController.h"

namespace Orvane {

// The window's private messages. Workers post them; the UI thread handles
// them in posting order.
constexpr UINT WM_LAUNCH_GAME = WM_USER + 200;
constexpr UINT WM_UPDATE_STATE = WM_USER + 1001;     // wParam: UpdateController::State
constexpr UINT WM_UPDATE_PROGRESS = WM_USER + 1002;  // wParam: percent; lParam: index | count << 16
constexpr UINT WM_UPDATE_COMPLETE = WM_USER + 1004;  // wParam: 1 success, 0 failure
constexpr UINT WM_DETECT_OS = WM_USER + 1020;        // wParam: StepCode of each step
constexpr UINT WM_DETECT_ARCH = WM_USER + 1021;
constexpr UINT WM_DETECT_DOTNET = WM_USER + 1022;
constexpr UINT WM_DETECT_GAMEDIR = WM_USER + 1023;
constexpr UINT WM_DETECT_INTEGRITY = WM_USER + 1024;
constexpr UINT WM_DETECT_DONE = WM_USER + 1025;
constexpr UINT WM_DETECT_LOGIN_SERVER = WM_USER + 1026;
constexpr UINT WM_DETECT_GAME_SERVER = WM_USER + 1027;
constexpr UINT WM_UPDATE_SPEED = WM_USER + 1030;  // wParam: bytes per second

// The messages as the UI thread receives them, with the values the worker
// handed over.
struct DiagnosisStepMessage {
    DiagnosisStep step = DiagnosisStep::OperatingSystem;
    int code = 0;
    DiagnosisRecord soFar;
};
struct DiagnosisDoneMessage {
    DiagnosisRecord record;
};
struct UpdateStateMessage {
    UpdateController::Report report;
};
struct ProgressMessage {
    int percent = 0;
    unsigned fileIndex = 0;
    unsigned fileCount = 0;
};
struct SpeedMessage {
    uint32_t bytesPerSecond = 0;
};
struct CompletionMessage {
    bool success = false;
};
struct LaunchMessage {};
using FlowMessage = std::variant<DiagnosisStepMessage, DiagnosisDoneMessage, UpdateStateMessage,
                                 ProgressMessage, SpeedMessage, CompletionMessage, LaunchMessage>;

// The one path from worker threads to the UI thread. A message carries only
// numbers; the values that go with it wait here, in posting order, until the
// UI thread decodes the message. Shared by the window's owner and its runs, so
// a run may outlive the window it reports to.
class MessageChannel {
public:
    explicit MessageChannel(HWND window) : window_(window) {}
    MessageChannel(const MessageChannel&) = delete;
    MessageChannel& operator=(const MessageChannel&) = delete;

    // Worker side. Everything but progress and speed must arrive: a full
    // queue is waited out for as long as the window exists.
    void PostDiagnosisStep(DiagnosisStep step, const DiagnosisRecord& soFar);
    void PostDiagnosisDone(const DiagnosisRecord& record);
    void PostUpdateReport(const UpdateController::Report& report);
    // Coalesced: at most one every 50 ms. The last one held back goes out
    // before the next state report or completion.
    void PostProgress(int fileIndex, int fileCount, int64_t downloaded, int64_t total,
                      double bytesPerSecond);
    void PostCompletion(bool success);
    // Progress messages posted so far (each with its speed message).
    uint64_t ProgressPosts() const { return progressPosts_.load(); }
    // Before a download starts, so its first report always passes.
    void ResetProgress()
    {
        std::lock_guard<std::mutex> lock(progressMutex_);
        throttle_.Reset();
    }

    // UI side: the message with its values, or nothing for another message.
    std::optional<FlowMessage> Decode(UINT message, WPARAM wParam, LPARAM lParam);

    // Sends the controller's reports through this channel.
    static void Connect(const std::shared_ptr<MessageChannel>& channel,
                        UpdateController& controller);

private:
    template <typename T>
    class Mailbox {
    public:
        void Put(T value)
        {
            std::lock_guard<std::mutex> lock(mutex_);
            values_.push_back(std::move(value));
        }
        // A value whose message could not be posted is withdrawn. Each mailbox
        // has one sender at a time, so the last value is its own.
        void Withdraw()
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!values_.empty()) {
                values_.pop_back();
            }
        }
        std::optional<T> Take()
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (values_.empty()) {
                return std::nullopt;
            }
            T value = std::move(values_.front());
            values_.pop_front();
            return value;
        }

    private:
        std::mutex mutex_;
        std::deque<T> values_;
    };

    struct ProgressValues {
        int fileIndex = 0;
        int fileCount = 0;
        int64_t downloaded = 0;
        int64_t total = 0;
        double bytesPerSecond = 0;
    };

    bool PostReliably(UINT message, WPARAM wParam, LPARAM lParam) const;
    void SendProgress(const ProgressValues& values);
    // Posts the report the throttle held back last, if any.
    void FlushProgress();

    const HWND window_;
    Mailbox<DiagnosisRecord> diagnoses_;
    Mailbox<UpdateController::Report> reports_;
    // A run's first report comes from the thread that starts it, the rest
    // from the run's own.
    std::mutex progressMutex_;
    ProgressThrottle throttle_;
    ProgressValues lastProgress_;
    std::atomic<uint64_t> progressPosts_{0};
};

// The message id of a diagnosis step.
UINT MessageOf(DiagnosisStep step);

}  // namespace Orvane
