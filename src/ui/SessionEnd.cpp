#include "ui/SessionEnd.h"

namespace Orvane {

SessionEndCalls SessionEndCalls::ForWindow(HWND window)
{
    using CreateReason = BOOL(WINAPI*)(HWND, LPCWSTR);
    using DestroyReason = BOOL(WINAPI*)(HWND);
    SessionEndCalls calls;
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) {
        return calls;
    }
    const auto create =
        reinterpret_cast<CreateReason>(reinterpret_cast<void*>(GetProcAddress(user32, "ShutdownBlockReasonCreate")));
    const auto destroy =
        reinterpret_cast<DestroyReason>(reinterpret_cast<void*>(GetProcAddress(user32, "ShutdownBlockReasonDestroy")));
    if (create != nullptr && destroy != nullptr) {
        calls.createReason = [create, window](const wchar_t* reason) { return create(window, reason) != FALSE; };
        calls.destroyReason = [destroy, window] { return destroy(window) != FALSE; };
    }
    return calls;
}

LRESULT SessionEnd::Query(bool writingFiles, const SessionEndCalls& calls)
{
    if (writingFiles && !reasonRegistered_ && calls.createReason) {
        reasonRegistered_ = calls.createReason(kSessionEndReason);
    }
    return TRUE;
}

void SessionEnd::End(bool sessionEnding, bool runActive, const SessionEndCalls& calls)
{
    if (sessionEnding && runActive) {
        if (calls.cancelRuns) {
            calls.cancelRuns();
        }
        if (calls.waitForRuns) {
            calls.waitForRuns(kSessionEndWaitMs);
        }
        if (calls.closeWindow) {
            calls.closeWindow();
        }
    }
    if (reasonRegistered_ && calls.destroyReason) {
        calls.destroyReason();
    }
    reasonRegistered_ = false;
}

}  // namespace Orvane
