#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "flow/Phase.h"

namespace Orvane {

// What the taskbar button shows: nothing, a bar, or a bar in the error colour
// (TBPF_NOPROGRESS, TBPF_NORMAL, TBPF_ERROR).
enum class TaskbarMark { None, Normal, Error };

struct TaskbarShown {
    TaskbarMark mark = TaskbarMark::None;
    int percent = 0;
    bool operator==(const TaskbarShown& other) const { return mark == other.mark && percent == other.percent; }
    bool operator!=(const TaskbarShown& other) const { return !(*this == other); }
};

// The button's state in `phase` with the window's bar at `percent`: a bar
// while a check or a download runs, full and red after either failed.
TaskbarShown TaskbarShownFor(Phase phase, int percent);

// The progress on the window's taskbar button (ITaskbarList3, Windows 7 and
// later); replaceable so tests see the calls.
class TaskbarButton {
public:
    virtual ~TaskbarButton() = default;
    virtual void SetMark(TaskbarMark mark) = 0;
    virtual void SetPercent(int percent) = 0;

    // The system's button for `window`; null where Windows has no
    // ITaskbarList3. COM must be initialised on the calling thread.
    static std::unique_ptr<TaskbarButton> ForWindow(HWND window);
};

// Lets Explorer's `message` through to `window` when the program runs as
// administrator: a process of higher integrity receives no registered
// message from Explorer otherwise (Windows 7 and later; nothing before).
void AllowMessageFromExplorer(HWND window, UINT message);

// Keeps the taskbar button in step with the window: told every phase and
// percentage shown, it calls the button only on a change, and flashes the
// button when a download ends while the window is in the background.
class TaskbarProgress {
public:
    // The button exists (the "TaskbarButtonCreated" message, again after
    // Explorer restarts): it shows the current state from now on. Null: none.
    void Attach(std::unique_ptr<TaskbarButton> button);
    void Show(Phase phase, int percent);

    // FlashWindowEx until the window comes to the front; and whether it is
    // there. Replaceable so tests need no window.
    std::function<void()> flash;
    std::function<bool()> inForeground;

    // The system's flash and foreground test for `window`.
    void UseWindow(HWND window);

private:
    void Send(const TaskbarShown& wanted);

    std::unique_ptr<TaskbarButton> button_;
    TaskbarShown shown_;
    Phase phase_ = Phase::Welcome;
    int percent_ = 0;
};

}  // namespace Orvane
