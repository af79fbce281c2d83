#pragma once

#include <windows.h>

#include <functional>

namespace Orvane {

// Shown by Windows beside the program while the session ends during a download.
inline constexpr wchar_t kSessionEndReason[] = L"正在更新游戏文件";
// How long the end of the session waits for a run to stop. Windows allows a
// window about five seconds for WM_ENDSESSION before it ends the process.
inline constexpr unsigned kSessionEndWaitMs = 1500;

// What the window does when Windows logs off or shuts down; replaceable so
// tests see the calls made on each message.
struct SessionEndCalls {
    // ShutdownBlockReasonCreate and ShutdownBlockReasonDestroy for the
    // window; empty where the system lacks them (before Vista).
    std::function<bool(const wchar_t* reason)> createReason;
    std::function<bool()> destroyReason;
    // The flow's Cancel and WaitForRuns.
    std::function<void()> cancelRuns;
    std::function<bool(unsigned timeoutMs)> waitForRuns;
    // Posts WM_CLOSE: a cancelled run reports nothing, so the window would
    // show it running for as long as Windows lets the process live.
    std::function<void()> closeWindow;

    // The system's calls for `window`, looked up in user32 at run time.
    static SessionEndCalls ForWindow(HWND window);
};

// The answers to WM_QUERYENDSESSION and WM_ENDSESSION. Since Vista a program
// is asked, not obeyed: it lets the session end, gives Windows a reason to
// show while it finishes, and stops its work when the end comes. A cancelled
// download keeps its partial file, and the next start continues it.
class SessionEnd {
public:
    // WM_QUERYENDSESSION: TRUE always; with game files being written the
    // reason is registered first.
    LRESULT Query(bool writingFiles, const SessionEndCalls& calls);
    // WM_ENDSESSION: when the session ends, an active run is cancelled and
    // waited for (briefly), and the window closes; the reason goes either way.
    void End(bool sessionEnding, bool runActive, const SessionEndCalls& calls);

private:
    bool reasonRegistered_ = false;
};

}  // namespace Orvane
