#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

#include "flow/Phase.h"

namespace Orvane {
namespace {

constexpr Phase kPhases[] = {
    Phase::Welcome,         Phase::Detecting, Phase::DiagnosisFailed, Phase::Blocked,
    Phase::Checking,        Phase::CheckFailed, Phase::UpdateAvailable, Phase::Updating,
    Phase::UpdateFailed,    Phase::UpToDate,  Phase::Updated,         Phase::Launched,
};
constexpr FlowEvent kEvents[] = {
    FlowEvent::DiagnosisStarted,  FlowEvent::DiagnosisNotStarted, FlowEvent::DiagnosisPassed,
    FlowEvent::DiagnosisBlocked,  FlowEvent::CheckStarted,        FlowEvent::CheckFoundUpdates,
    FlowEvent::CheckUpToDate,     FlowEvent::CheckFailed,         FlowEvent::UpdateStarted,
    FlowEvent::UpdateSucceeded,   FlowEvent::UpdateFailed,        FlowEvent::LauncherStarted,
};

// Every allowed transition; any pair not listed must be refused.
const std::map<std::pair<Phase, FlowEvent>, Phase>& AllowedTransitions()
{
    using P = Phase;
    using E = FlowEvent;
    static const std::map<std::pair<Phase, FlowEvent>, Phase> table = {
        // A new diagnosis whenever no run is active.
        {{P::Welcome, E::DiagnosisStarted}, P::Detecting},
        {{P::DiagnosisFailed, E::DiagnosisStarted}, P::Detecting},
        {{P::Blocked, E::DiagnosisStarted}, P::Detecting},
        {{P::CheckFailed, E::DiagnosisStarted}, P::Detecting},
        {{P::UpdateAvailable, E::DiagnosisStarted}, P::Detecting},
        {{P::UpdateFailed, E::DiagnosisStarted}, P::Detecting},
        {{P::UpToDate, E::DiagnosisStarted}, P::Detecting},
        {{P::Updated, E::DiagnosisStarted}, P::Detecting},
        // Verdicts of a live run, or of the saved results at start.
        {{P::Detecting, E::DiagnosisNotStarted}, P::DiagnosisFailed},
        {{P::Detecting, E::DiagnosisPassed}, P::Checking},
        {{P::Welcome, E::DiagnosisPassed}, P::Checking},
        {{P::Detecting, E::DiagnosisBlocked}, P::Blocked},
        {{P::Welcome, E::DiagnosisBlocked}, P::Blocked},
        // The check and its retries.
        {{P::Checking, E::CheckFoundUpdates}, P::UpdateAvailable},
        {{P::Checking, E::CheckUpToDate}, P::UpToDate},
        {{P::Checking, E::CheckFailed}, P::CheckFailed},
        {{P::CheckFailed, E::CheckStarted}, P::Checking},
        {{P::UpdateFailed, E::CheckStarted}, P::Checking},
        // The download.
        {{P::UpdateAvailable, E::UpdateStarted}, P::Updating},
        {{P::Updating, E::UpdateSucceeded}, P::Updated},
        {{P::Updating, E::UpdateFailed}, P::UpdateFailed},
        // The launch (a blocked diagnosis may launch; the launch checks the game server).
        {{P::Blocked, E::LauncherStarted}, P::Launched},
        {{P::UpToDate, E::LauncherStarted}, P::Launched},
        {{P::Updated, E::LauncherStarted}, P::Launched},
    };
    return table;
}

TEST(PhaseTest, EveryPhaseAndEventFollowsTheTable)
{
    for (const Phase phase : kPhases) {
        for (const FlowEvent event : kEvents) {
            SCOPED_TRACE(testing::Message() << "phase " << static_cast<int>(phase) << ", event "
                                            << static_cast<int>(event));
            const auto allowed = AllowedTransitions().find({phase, event});
            const std::optional<Phase> next = Next(phase, event);
            if (allowed == AllowedTransitions().end()) {
                EXPECT_FALSE(next.has_value());
            } else {
                ASSERT_TRUE(next.has_value());
                EXPECT_EQ(*next, allowed->second);
            }
        }
    }
}

TEST(PhaseTest, NoRunStartsWhileAnotherIsActive)
{
    const FlowEvent starts[] = {FlowEvent::DiagnosisStarted, FlowEvent::CheckStarted,
                                FlowEvent::UpdateStarted, FlowEvent::LauncherStarted};
    for (const Phase phase : {Phase::Detecting, Phase::Checking, Phase::Updating}) {
        EXPECT_TRUE(RunActive(phase));
        EXPECT_FALSE(StartButtonLook(phase).enabled) << static_cast<int>(phase);
        EXPECT_FALSE(GameButtonLook(phase).enabled) << static_cast<int>(phase);
        for (const FlowEvent event : starts) {
            EXPECT_FALSE(Next(phase, event).has_value())
                << static_cast<int>(phase) << " " << static_cast<int>(event);
        }
    }
}

TEST(PhaseTest, ButtonsShowWhatThePhaseOffers)
{
    struct Case {
        Phase phase;
        const wchar_t* startText;
        bool startEnabled;
        const wchar_t* gameText;
        bool gameEnabled;
        ButtonTone gameTone;
        GameAction action;
    };
    const ButtonTone A = ButtonTone::Accent;
    const Case cases[] = {
        {Phase::Welcome, L"开始检测", true, L"开始游戏", false, A, GameAction::None},
        {Phase::Detecting, L"检测中...", false, L"开始游戏", false, A, GameAction::None},
        {Phase::DiagnosisFailed, L"重新检测", true, L"开始游戏", false, A, GameAction::None},
        {Phase::Blocked, L"重新检测", true, L"开始游戏", true, A, GameAction::Launch},
        // The left button keeps its caption while greyed out.
        {Phase::Checking, L"重新检测", false, L"检查中...", false, A, GameAction::None},
        {Phase::CheckFailed, L"重新检测", true, L"重新检查", true, A, GameAction::CheckAgain},
        {Phase::UpdateAvailable, L"重新检测", true, L"更新游戏", true, ButtonTone::Success,
         GameAction::Update},
        {Phase::Updating, L"重新检测", false, L"更新中...", false, A, GameAction::None},
        {Phase::UpdateFailed, L"重新检测", true, L"重新检查", true, A, GameAction::CheckAgain},
        {Phase::UpToDate, L"重新检测", true, L"开始游戏", true, A, GameAction::Launch},
        {Phase::Updated, L"重新检测", true, L"开始游戏", true, A, GameAction::Launch},
        {Phase::Launched, L"重新检测", false, L"开始游戏", false, A, GameAction::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.phase));
        const ButtonLook start = StartButtonLook(c.phase);
        const ButtonLook game = GameButtonLook(c.phase);
        EXPECT_EQ(start.text, c.startText);
        EXPECT_EQ(start.enabled, c.startEnabled);
        EXPECT_EQ(start.tone, ButtonTone::Accent);
        EXPECT_EQ(game.text, c.gameText);
        EXPECT_EQ(game.enabled, c.gameEnabled);
        EXPECT_EQ(game.tone, c.gameTone);
        EXPECT_EQ(GameButtonAction(c.phase), c.action);
    }
}

}  // namespace
}  // namespace Orvane
