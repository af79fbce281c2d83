#include "ui/TaskbarProgress.h"

#include <shobjidl.h>

#include "base/Handles.h"

namespace Orvane {

namespace {

class SystemTaskbarButton : public TaskbarButton {
public:
    SystemTaskbarButton(HWND window, ITaskbarList3* list) : window_(window), list_(list) {}

    void SetMark(TaskbarMark mark) override
    {
        const TBPFLAG flag = mark == TaskbarMark::Normal  ? TBPF_NORMAL
                             : mark == TaskbarMark::Error ? TBPF_ERROR
                                                          : TBPF_NOPROGRESS;
        list_.Get()->SetProgressState(window_, flag);
    }
    void SetPercent(int percent) override
    {
        list_.Get()->SetProgressValue(window_, static_cast<ULONGLONG>(percent), 100);
    }

private:
    HWND window_;
    ComReference<ITaskbarList3> list_;
};

}  // namespace

TaskbarShown TaskbarShownFor(Phase phase, int percent)
{
    const int clamped = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    switch (phase) {
    case Phase::Checking:
    case Phase::Updating:
        return {TaskbarMark::Normal, clamped};
    case Phase::CheckFailed:
    case Phase::UpdateFailed:
        // Full, so the colour shows whatever share had been reached.
        return {TaskbarMark::Error, 100};
    default:
        return {TaskbarMark::None, 0};
    }
}

std::unique_ptr<TaskbarButton> TaskbarButton::ForWindow(HWND window)
{
    void* created = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ITaskbarList3),
                                &created)) ||
        created == nullptr) {
        return nullptr;
    }
    auto* list = static_cast<ITaskbarList3*>(created);
    if (FAILED(list->HrInit())) {
        list->Release();
        return nullptr;
    }
    return std::make_unique<SystemTaskbarButton>(window, list);
}

void AllowMessageFromExplorer(HWND window, UINT message)
{
    using ChangeFilter = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const auto change = user32 == nullptr ? nullptr
                                          : reinterpret_cast<ChangeFilter>(reinterpret_cast<void*>(
                                                GetProcAddress(user32, "ChangeWindowMessageFilterEx")));
    if (change != nullptr) {
        change(window, message, MSGFLT_ALLOW, nullptr);
    }
}

void TaskbarProgress::UseWindow(HWND window)
{
    flash = [window] {
        FLASHWINFO info{};
        info.cbSize = sizeof(info);
        info.hwnd = window;
        info.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
        FlashWindowEx(&info);
    };
    inForeground = [window] { return GetForegroundWindow() == window; };
}

void TaskbarProgress::Attach(std::unique_ptr<TaskbarButton> button)
{
    button_ = std::move(button);
    shown_ = TaskbarShown{};  // a new button shows nothing yet
    Send(TaskbarShownFor(phase_, percent_));
}

void TaskbarProgress::Show(Phase phase, int percent)
{
    const bool downloadEnded =
        phase_ == Phase::Updating && (phase == Phase::Updated || phase == Phase::UpdateFailed);
    phase_ = phase;
    percent_ = percent;
    Send(TaskbarShownFor(phase, percent));
    if (downloadEnded && flash && !(inForeground && inForeground())) {
        flash();
    }
}

void TaskbarProgress::Send(const TaskbarShown& wanted)
{
    if (!button_) {
        return;
    }
    if (wanted.mark != shown_.mark) {
        button_->SetMark(wanted.mark);
    }
    // A bar's value after its state: TBPF_NOPROGRESS has none.
    if (wanted.mark != TaskbarMark::None && wanted != shown_) {
        button_->SetPercent(wanted.percent);
    }
    shown_ = wanted;
}

}  // namespace Orvane
