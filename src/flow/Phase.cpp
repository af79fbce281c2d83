#include "flow/Phase.h"

namespace Orvane {

namespace {

// A new diagnosis may start whenever no run is active.
bool Idle(Phase phase)
{
    return !RunActive(phase) && phase != Phase::Launched;
}

}  // namespace

std::optional<Phase> Next(Phase phase, FlowEvent event)
{
    switch (event) {
    case FlowEvent::DiagnosisStarted:
        return Idle(phase) ? std::optional(Phase::Detecting) : std::nullopt;
    case FlowEvent::DiagnosisNotStarted:
        return phase == Phase::Detecting ? std::optional(Phase::DiagnosisFailed) : std::nullopt;
    case FlowEvent::DiagnosisPassed:
        // Welcome: a saved diagnosis restored at start.
        return phase == Phase::Detecting || phase == Phase::Welcome ? std::optional(Phase::Checking)
                                                                    : std::nullopt;
    case FlowEvent::DiagnosisBlocked:
        return phase == Phase::Detecting || phase == Phase::Welcome ? std::optional(Phase::Blocked)
                                                                    : std::nullopt;
    case FlowEvent::CheckStarted:
        return GameButtonAction(phase) == GameAction::CheckAgain ? std::optional(Phase::Checking)
                                                                  : std::nullopt;
    case FlowEvent::CheckFoundUpdates:
        return phase == Phase::Checking ? std::optional(Phase::UpdateAvailable) : std::nullopt;
    case FlowEvent::CheckUpToDate:
        return phase == Phase::Checking ? std::optional(Phase::UpToDate) : std::nullopt;
    case FlowEvent::CheckFailed:
        return phase == Phase::Checking ? std::optional(Phase::CheckFailed) : std::nullopt;
    case FlowEvent::UpdateStarted:
        return phase == Phase::UpdateAvailable ? std::optional(Phase::Updating) : std::nullopt;
    case FlowEvent::UpdateSucceeded:
        return phase == Phase::Updating ? std::optional(Phase::Updated) : std::nullopt;
    case FlowEvent::UpdateFailed:
        return phase == Phase::Updating ? std::optional(Phase::UpdateFailed) : std::nullopt;
    case FlowEvent::LauncherStarted:
        return GameButtonAction(phase) == GameAction::Launch ? std::optional(Phase::Launched)
                                                              : std::nullopt;
    }
    return std::nullopt;
}

bool RunActive(Phase phase)
{
    return phase == Phase::Detecting || phase == Phase::Checking || phase == Phase::Updating;
}

GameAction GameButtonAction(Phase phase)
{
    switch (phase) {
    case Phase::UpdateAvailable:
        return GameAction::Update;
    case Phase::CheckFailed:
    case Phase::UpdateFailed:
        return GameAction::CheckAgain;
    case Phase::Blocked:  // the launch itself refuses an unreachable game server
    case Phase::UpToDate:
    case Phase::Updated:
        return GameAction::Launch;
    default:
        return GameAction::None;
    }
}

ButtonLook StartButtonLook(Phase phase)
{
    switch (phase) {
    case Phase::Welcome:
        return {L"开始检测", true, ButtonTone::Accent};
    case Phase::Detecting:
        return {L"检测中...", false, ButtonTone::Accent};
    default:
        return {L"重新检测", Idle(phase), ButtonTone::Accent};
    }
}

ButtonLook GameButtonLook(Phase phase)
{
    switch (phase) {
    case Phase::Checking:
        return {L"检查中...", false, ButtonTone::Accent};
    case Phase::Updating:
        return {L"更新中...", false, ButtonTone::Accent};
    default:
        break;
    }
    switch (GameButtonAction(phase)) {
    case GameAction::Update:
        return {L"更新游戏", true, ButtonTone::Success};
    case GameAction::CheckAgain:
        return {L"重新检查", true, ButtonTone::Accent};
    case GameAction::Launch:
        return {L"开始游戏", true, ButtonTone::Accent};
    case GameAction::None:
        break;
    }
    return {L"开始游戏", false, ButtonTone::Accent};
}

}  // namespace Orvane
