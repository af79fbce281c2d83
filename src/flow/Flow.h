#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "base/Thread.h"
#include "diagnostics/DiagnosisRun.h"
#include "flow/DetectionRows.h"
#include "flow/LaunchRules.h"
#include "flow/Messages.h"
#include "flow/Phase.h"
#include "flow/SelfUpdate.h"
#include "update/UpdateController.h"

namespace Orvane {

class SystemState;

// What the flow needs of the window that shows it.
class FlowView {
public:
    enum class Area { Everything, ProgressBand };

    virtual ~FlowView() = default;
    virtual void Repaint(Area area) = 0;
    virtual void ShowMessage(const std::wstring& text, const std::wstring& caption, UINT style) = 0;
    // The launcher runs: end the program's message loop.
    virtual void Quit() = 0;
};

// What the window shows besides the phase's buttons.
struct Screen {
    CheckRows rows = InitialRows();
    std::wstring status = L"欢迎使用, 请点击 开始检测";
    int progress = 0;
    std::wstring counterText;
    std::wstring speedText;
};

// The program's flow: diagnose, check, update, launch. Owns the phase, the
// screen's contents and the runs; lives on the UI thread, which alone calls
// it and alone writes the setup record. Workers report through the message
// channel to the attached window, which hands every message to Handle.
class Flow {
public:
    Flow(SystemState& record, UpdateController& controller, FlowView& view);
    ~Flow();
    Flow(const Flow&) = delete;
    Flow& operator=(const Flow&) = delete;

    // The window the runs report to and the launch timer belongs to; its
    // procedure must pass messages to Handle. Then restores a saved diagnosis,
    // which starts the update check at once.
    void Start(HWND window);

    // The left button: a new diagnosis, unless a run is active.
    void PressStart();
    // The right button: update, check again or launch, as the phase offers.
    void PressGame();

    // Handles a private message or the launch timer. False for anything else.
    bool Handle(UINT message, WPARAM wParam, LPARAM lParam);

    // The window is closing: active runs stop at their next chunk or file.
    void Cancel();
    // Waits until the threads of all runs have ended, up to `timeoutMs`.
    // True when none is left.
    bool WaitForRuns(unsigned timeoutMs);

    Phase CurrentPhase() const { return phase_; }
    const Screen& Shown() const { return screen_; }

    // Replaceable so tests can script the probes, refuse threads and start no
    // process.
    std::function<void(DiagnosisSink& sink)> diagnosisRun;
    UpdateController::ThreadStarter startThread;
    std::function<bool(const std::wstring& path, const std::wstring& directory, DWORD& error)>
        startProcess;
    // Starts a launcher that asks for administrator rights (Windows' prompt).
    std::function<bool(const ShellStart& request, DWORD& error)> startShell;
    // Where the launcher is looked for: the program's own directory.
    std::wstring programDirectory;

    // How long a successful update waits before the launcher starts.
    unsigned launchDelayMs = 1000;

    // This program was started by its own update (set before Start): the
    // player asked for the update already, so the first check's result goes
    // on by itself: the remaining files are fetched, or the launcher starts.
    bool startedByUpdate = false;
    // How an update that replaced the program hands over to the new one: by
    // default it starts the program's file with kAfterUpdateFlag; the entry
    // adds the single-instance mutex.
    HandOverSteps handOver;

private:
    bool Apply(FlowEvent event);
    void OnDiagnosisStep(const DiagnosisStepMessage& message);
    void OnDiagnosisDone(const DiagnosisDoneMessage& message);
    void OnUpdateState(const UpdateController::Report& report);
    void OnProgress(const ProgressMessage& message);
    void OnSpeed(const SpeedMessage& message);
    void OnCompletion(bool success);
    void Verdict();
    void StartCheck();
    void StartDownload();
    void Fail(FlowEvent event, const wchar_t* status, const std::wstring& reason);
    void Launch();
    // The update replaced the program: the new one takes over, or the old one comes back.
    void HandOver();
    void ClearTransfer();
    void Repaint();

    SystemState& record_;
    UpdateController& controller_;
    FlowView& view_;
    HWND window_ = nullptr;
    std::shared_ptr<MessageChannel> channel_;
    // The diagnosis threads; each works on copies, and the flow waits for
    // them before it goes.
    OwnedThreads diagnoses_;
    Phase phase_ = Phase::Welcome;
    Screen screen_;
    std::wstring lastFailure_;  // the text of the last Error report
    // Started by an update and the first check has not answered yet.
    bool continueUpdate_ = false;
};

// Starts the launcher with its own directory as working directory. False with
// the system's error code when it cannot be started.
bool StartLauncherProcess(const std::wstring& path, const std::wstring& directory, DWORD& error);
// Hands the request to ShellExecuteExW. False with the system's error code
// (ERROR_CANCELLED when the player refused the prompt).
bool StartThroughShell(const ShellStart& request, DWORD& error);

}  // namespace Orvane
