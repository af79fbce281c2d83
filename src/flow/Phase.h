#pragma once

#include <optional>
#include <string>

namespace Orvane {

// Where the program stands. The phase alone decides what the two buttons
// offer and which runs may start, so no two runs ever overlap.
enum class Phase {
    Welcome,          // nothing diagnosed yet
    Detecting,        // the probes run
    DiagnosisFailed,  // the probes could not be started
    Blocked,          // a blocking check failed; nothing saved
    Checking,         // the update check runs
    CheckFailed,
    UpdateAvailable,
    Updating,         // the download runs
    UpdateFailed,
    UpToDate,
    Updated,          // the launcher starts one second later
    Launched,         // the launcher runs; the program is ending
};

enum class FlowEvent {
    DiagnosisStarted,
    DiagnosisNotStarted,  // no thread for the probes
    DiagnosisPassed,      // live or restored; the update check starts with it
    DiagnosisBlocked,     // live or restored
    CheckStarted,         // "check again"
    CheckFoundUpdates,
    CheckUpToDate,
    CheckFailed,          // also: no thread for the check
    UpdateStarted,
    UpdateSucceeded,
    UpdateFailed,         // also: no thread for the download
    LauncherStarted,
};

// The phase an event leads to, or nothing when the event is not allowed in
// that phase (it is then ignored).
std::optional<Phase> Next(Phase phase, FlowEvent event);

// True while a worker run (probes, check, download) is active.
bool RunActive(Phase phase);

// What pressing the right-hand button does in a phase.
enum class GameAction { None, Update, CheckAgain, Launch };
GameAction GameButtonAction(Phase phase);

// How an enabled button is filled; a disabled one is always drawn greyed.
enum class ButtonTone { Accent, Success };

struct ButtonLook {
    std::wstring text;
    bool enabled = false;
    ButtonTone tone = ButtonTone::Accent;
};
ButtonLook StartButtonLook(Phase phase);
ButtonLook GameButtonLook(Phase phase);

}  // namespace Orvane
