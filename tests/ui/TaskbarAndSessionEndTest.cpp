// What the window asks of the taskbar button and of Windows at the end of a
// session, through their seams: the calls in order, per message or phase.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/SessionEnd.h"
#include "ui/TaskbarProgress.h"

namespace Orvane {
namespace {

using Calls = std::vector<std::string>;

class RecordingButton : public TaskbarButton {
public:
    explicit RecordingButton(Calls& calls) : calls_(calls) {}
    void SetMark(TaskbarMark mark) override
    {
        calls_.push_back(mark == TaskbarMark::Normal  ? "normal"
                         : mark == TaskbarMark::Error ? "error"
                                                      : "no progress");
    }
    void SetPercent(int percent) override { calls_.push_back(std::to_string(percent) + "%"); }

private:
    Calls& calls_;
};

TEST(TaskbarShownFor, ABarWhileACheckOrADownloadRunsAndRedAfterEitherFailed)
{
    struct Case {
        Phase phase;
        int percent;
        TaskbarMark mark;
        int shownPercent;
    };
    const Case cases[] = {
        {Phase::Welcome, 0, TaskbarMark::None, 0},       {Phase::Detecting, 0, TaskbarMark::None, 0},
        {Phase::Blocked, 0, TaskbarMark::None, 0},       {Phase::Checking, 37, TaskbarMark::Normal, 37},
        {Phase::Updating, 0, TaskbarMark::Normal, 0},    {Phase::Updating, 130, TaskbarMark::Normal, 100},
        {Phase::Updating, -4, TaskbarMark::Normal, 0},   {Phase::UpdateAvailable, 100, TaskbarMark::None, 0},
        {Phase::UpToDate, 0, TaskbarMark::None, 0},      {Phase::Updated, 100, TaskbarMark::None, 0},
        {Phase::CheckFailed, 0, TaskbarMark::Error, 100}, {Phase::UpdateFailed, 45, TaskbarMark::Error, 100},
        {Phase::DiagnosisFailed, 0, TaskbarMark::None, 0},
    };
    for (const Case& c : cases) {
        const TaskbarShown shown = TaskbarShownFor(c.phase, c.percent);
        EXPECT_EQ(shown.mark, c.mark) << static_cast<int>(c.phase) << " " << c.percent;
        EXPECT_EQ(shown.percent, c.shownPercent) << static_cast<int>(c.phase) << " " << c.percent;
    }
}

TEST(TaskbarProgress, TheButtonFollowsTheRunsAndFlashesWhenADownloadEndsInTheBackground)
{
    using Steps = std::vector<std::pair<Phase, int>>;
    const Steps checkFindsUpdates = {{Phase::Detecting, 0},  {Phase::Checking, 0},   {Phase::Checking, 40},
                                     {Phase::Checking, 40},  {Phase::Checking, 100}, {Phase::UpdateAvailable, 0}};
    const Steps updateSucceeds = {{Phase::UpdateAvailable, 0}, {Phase::Updating, 0}, {Phase::Updating, 55},
                                  {Phase::Updating, 100},      {Phase::Updated, 100}};
    const Steps updateFails = {{Phase::UpdateAvailable, 0}, {Phase::Updating, 30}, {Phase::Updating, 0},
                               {Phase::UpdateFailed, 0},    {Phase::UpdateFailed, 0}};
    const Steps checkFailsThenRunsAgain = {{Phase::Checking, 10}, {Phase::CheckFailed, 0}, {Phase::Checking, 0}};
    struct Case {
        const char* name;
        bool button;      // the system has ITaskbarList3
        bool foreground;  // the window is in front
        Steps steps;
        Calls calls;
    };
    const Case cases[] = {
        {"a check that finds updates", true, false, checkFindsUpdates,
         {"normal", "0%", "40%", "100%", "no progress"}},
        {"an update that succeeds in the background", true, false, updateSucceeds,
         {"normal", "0%", "55%", "100%", "no progress", "flash"}},
        {"an update that succeeds in front", true, true, updateSucceeds,
         {"normal", "0%", "55%", "100%", "no progress"}},
        {"an update that fails", true, true, updateFails, {"normal", "30%", "0%", "error", "100%"}},
        {"an update that fails in the background", true, false, updateFails,
         {"normal", "30%", "0%", "error", "100%", "flash"}},
        {"a failed check, then a new one", true, false, checkFailsThenRunsAgain,
         {"normal", "10%", "error", "100%", "normal", "0%"}},
        // Before Windows 7: no progress on the button; the flash is user32's own.
        {"no taskbar interface", false, false, updateSucceeds, {"flash"}},
        {"no taskbar interface, a failed check", false, false, checkFailsThenRunsAgain, {}},
    };
    for (const Case& c : cases) {
        Calls calls;
        TaskbarProgress taskbar;
        taskbar.flash = [&calls] { calls.push_back("flash"); };
        taskbar.inForeground = [&c] { return c.foreground; };
        taskbar.Attach(c.button ? std::make_unique<RecordingButton>(calls) : nullptr);
        for (const auto& [phase, percent] : c.steps) {
            taskbar.Show(phase, percent);
        }
        EXPECT_EQ(calls, c.calls) << c.name;
    }
}

// Explorer may announce the button after a run has started, and again after
// it restarts: the new button catches up with what the window shows.
TEST(TaskbarProgress, AButtonCreatedDuringARunShowsItAtOnce)
{
    Calls calls;
    TaskbarProgress taskbar;
    taskbar.Show(Phase::Updating, 20);
    taskbar.Attach(std::make_unique<RecordingButton>(calls));
    EXPECT_EQ(calls, (Calls{"normal", "20%"}));
    taskbar.Show(Phase::Updating, 25);
    taskbar.Attach(std::make_unique<RecordingButton>(calls));  // Explorer restarted
    EXPECT_EQ(calls, (Calls{"normal", "20%", "25%", "normal", "25%"}));
}

TEST(SessionEnd, TheReasonIsShownWhileFilesAreWrittenAndTheRunStopsWhenTheSessionEnds)
{
    struct Case {
        const char* name;
        bool writingFiles;    // a download runs
        bool runActive;       // any run
        bool sessionEnding;   // WM_ENDSESSION's wParam
        bool reasonCalls;     // the system has ShutdownBlockReasonCreate (Vista and later)
        bool reasonAccepted;  // ShutdownBlockReasonCreate succeeds
        Calls calls;
    };
    const std::string reason = "reason 正在更新游戏文件";
    const Case cases[] = {
        {"a download, the session ends", true, true, true, true, true,
         {reason, "cancel", "wait 1500", "close", "destroy reason"}},
        {"a download, the end called off", true, true, false, true, true, {reason, "destroy reason"}},
        {"a check, the session ends", false, true, true, true, true, {"cancel", "wait 1500", "close"}},
        {"nothing running", false, false, true, true, true, {}},
        {"a download on XP", true, true, true, false, true, {"cancel", "wait 1500", "close"}},
        // Asked again at the next query; never destroyed, as none was made.
        {"a reason refused", true, true, true, true, false, {reason, reason, "cancel", "wait 1500", "close"}},
    };
    for (const Case& c : cases) {
        Calls calls;
        SessionEndCalls system;
        if (c.reasonCalls) {
            system.createReason = [&calls, &c](const wchar_t* text) {
                calls.push_back(std::wstring(text) == kSessionEndReason ? "reason 正在更新游戏文件" : "other reason");
                return c.reasonAccepted;
            };
            system.destroyReason = [&calls] {
                calls.push_back("destroy reason");
                return true;
            };
        }
        system.cancelRuns = [&calls] { calls.push_back("cancel"); };
        system.closeWindow = [&calls] { calls.push_back("close"); };
        system.waitForRuns = [&calls](unsigned ms) {
            calls.push_back("wait " + std::to_string(ms));
            return true;
        };
        SessionEnd session;
        // Windows may ask more than once; the session ends regardless of the answer.
        EXPECT_EQ(session.Query(c.writingFiles, system), TRUE) << c.name;
        EXPECT_EQ(session.Query(c.writingFiles, system), TRUE) << c.name;
        session.End(c.sessionEnding, c.runActive, system);
        EXPECT_EQ(calls, c.calls) << c.name;
        // A later session's end starts afresh.
        calls.clear();
        session.End(true, false, system);
        EXPECT_EQ(calls, Calls{}) << c.name;
    }
}

TEST(SessionEnd, TheSystemCallsAreFoundWhereTheSystemHasThem)
{
    const SessionEndCalls calls = SessionEndCalls::ForWindow(nullptr);
    // Both or neither: a reason created must be destroyable.
    EXPECT_EQ(static_cast<bool>(calls.createReason), static_cast<bool>(calls.destroyReason));
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    ASSERT_NE(user32, nullptr);
    EXPECT_EQ(static_cast<bool>(calls.createReason),
              GetProcAddress(user32, "ShutdownBlockReasonCreate") != nullptr);
}

}  // namespace
}  // namespace Orvane
