#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flow/Flow.h"
#include "ui/Accessibility.h"
#include "ui/Painting.h"
#include "ui/SessionEnd.h"
#include "ui/TaskbarProgress.h"
#include "ui/WindowDpi.h"

namespace Orvane {

class SystemState;
class UpdateController;

// The program's only window: custom-drawn, no child controls. It paints what
// the flow holds at the window's DPI, turns mouse and keyboard input into the
// flow's button presses, describes itself to screen readers and hands the flow
// its private messages. Lives on the UI thread.
class MainWindow : private FlowView, private AccessibleSource {
public:
    // A window for the given record and controller, which must outlive it.
    MainWindow(SystemState& record, UpdateController& controller);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Registers the class, creates and shows the window, and starts the flow
    // (a saved diagnosis is restored and starts an update check). False when
    // the class or the window cannot be created.
    bool Create(HINSTANCE instance);

    HWND Handle() const { return hwnd_; }
    Flow& Work() { return flow_; }

    // What the mouse finds where, as last painted.
    const ButtonFace& StartButton() const { return start_; }
    const ButtonFace& GameButton() const { return game_; }
    const std::array<FooterLink, 2>& Links() const { return links_; }
    bool TrackingMouse() const { return trackingMouse_; }
    UINT Dpi() const { return dpi_; }
    const Fonts& Typefaces() const { return fonts_; }
    // Where the keyboard focus is, and whether its mark is drawn.
    FocusStop Focus() const { return focus_; }
    bool FocusMarkShown() const;

    // AccessibleSource: what a screen reader finds, as last painted.
    std::vector<AccessibleItem> AccessibleItems() const override;

    // False when oleacc.dll cannot be loaded from System32: the window then
    // leaves screen readers to the system's own description of it.
    bool accessibilityLibrary = true;

    // Opens a footer link; replaceable so tests need no browser.
    std::function<void(const std::wstring& url)> openUrl;
    // Shows a message box owned by the window; replaceable so tests need no user.
    std::function<void(const std::wstring& text, const std::wstring& caption, UINT style)>
        showMessage;
    // The colours for the system's settings (the palette, or the system's in
    // high contrast); replaceable so tests can turn high contrast on.
    std::function<ColourScheme()> currentColours;
    const ColourScheme& Colours() const { return colours_; }

    // The taskbar button's progress for the system's "TaskbarButtonCreated"
    // message; replaceable so tests see the calls.
    std::function<std::unique_ptr<TaskbarButton>(HWND window)> createTaskbarButton = TaskbarButton::ForWindow;
    TaskbarProgress& Taskbar() { return taskbar_; }
    // What the end of the session calls (set by Create; tests may replace them).
    SessionEndCalls sessionEndCalls;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // FlowView
    void Repaint(Area area) override;
    void ShowMessage(const std::wstring& text, const std::wstring& caption, UINT style) override;
    void Quit() override;

    // AccessibleSource
    void RequestDefaultAction(size_t index) override;

    void OnPaint();
    void PlaceControls(HDC dc, const RECT& client);
    ButtonFace* HitTestButton(int x, int y);
    void OnMouseMove(int x, int y);
    void OnLeftButtonDown(int x, int y);
    void OnLeftButtonUp(int x, int y);
    void OnMouseLeave();

    // Where the window belongs on its monitor now, at its DPI.
    WindowPlacement Placement() const;
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    void OnColoursChanged();
    bool OnKeyDown(WPARAM key, LPARAM flags);
    void MoveFocus(FocusStop stop);
    void Activate(FocusStop stop);
    // Raises the events for what changed since screen readers were last told.
    void Announce();
    LRESULT OnGetObject(WPARAM wParam, LPARAM lParam);

    ComApartment apartment_;
    HWND hwnd_ = nullptr;
    Fonts fonts_;
    ButtonFace start_;
    ButtonFace game_;
    std::array<FooterLink, 2> links_;
    bool trackingMouse_ = false;
    UINT dpi_ = kDesignDpi;
    // Caption and borders: the outer size less the client size, as last restored.
    SIZE frame_{};
    ColourScheme colours_;
    FocusStop focus_ = FocusStop::None;
    // Shown once the keyboard is used, as Windows shows focus cues.
    bool keyboardCues_ = false;
    // Created on a screen reader's first request; disconnected when the window goes.
    ComReference<WindowAccessible> accessible_;
    std::vector<AccessibleItem> announced_;
    // Registered by name; Explorer sends it when the button exists.
    UINT taskbarButtonCreated_ = 0;
    TaskbarProgress taskbar_;
    SessionEnd sessionEnd_;
    Flow flow_;
};

}  // namespace Orvane
