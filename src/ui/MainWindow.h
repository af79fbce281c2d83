#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "ui/DetectionRows.h"
#include "ui/GdiHandles.h"
#include "ui/Layout.h"
#include "ui/ProgressThrottle.h"

namespace Orvane {

class SystemState;
class UpdateController;

struct Button {
    RECT rect{};
    std::wstring text;
    ButtonState state = ButtonState::Normal;
    bool enabled = false;
    COLORREF color = 0;
};

struct FooterLink {
    RECT rect{};
    std::wstring url;
    bool hovered = false;
    std::wstring caption;
};

// The program's only window: custom-drawn, no child controls. Every member is
// read and written on the UI thread; worker threads (the detection probes and
// the update controller's runs) report only by posting the private messages of
// WindowMessages.h.
class MainWindow {
public:
    // A window working on the process-wide diagnosis record and update controller.
    MainWindow();
    // A window working on the given record and controller, which must outlive it.
    MainWindow(SystemState& systemState, UpdateController& controller);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Registers the class, creates and shows the window, and restores a saved
    // diagnosis (which starts an update check). False when the class or the
    // window cannot be created.
    bool Create(HINSTANCE instance);

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Draws the whole client area into the given context.
    void Paint(HDC dc, const RECT& client);

    // Recomputes both buttons' captions, enabled flags and colours from the
    // activity flags.
    void UpdateButtons();
    // Clears the table and starts the probes on a worker thread.
    void BeginDetection();
    // The probes, in display order; runs on a worker thread and only posts.
    static void RunDetection(HWND window, SystemState& systemState);
    void RestoreResults();
    // The verdict after a diagnosis: blocked, or passed and checking for updates.
    void EvaluateResults();
    void StartUpdateCheck();
    void SetupUpdateCallbacks();
    void StartDownload();
    // Starts the service's launcher beside the program and ends the message loop.
    void LaunchGame();

    // Opens a footer link; replaceable so tests need no browser.
    std::function<void(const std::wstring& url)> openUrl;
    // The probes run by a detection; replaceable so tests can script results.
    std::function<void(HWND window, SystemState& systemState)> detectionRun;
    // Shows a message box owned by the window; replaceable so tests need no user.
    std::function<void(const std::wstring& text, const std::wstring& caption, UINT style)>
        showMessage;

    HWND hwnd = nullptr;
    HINSTANCE hInstance = nullptr;
    FontHandle titleFont;
    FontHandle textFont;
    FontHandle smallFont;
    FontHandle buttonFont;
    FontHandle descriptionFont;
    FontHandle headerFont;
    Button startButton;
    Button gameButton;
    bool hasDetected = false;
    bool updateAvailable = false;
    bool updating = false;
    bool checking = false;
    bool checkFailed = false;
    bool detecting = false;
    bool blocked = false;
    int progress = 0;
    std::wstring speedText;
    std::wstring counterText;
    std::wstring title;
    std::wstring description;
    std::wstring statusText;
    CheckRows rows;
    std::array<FooterLink, 2> links;
    bool trackingMouse = false;

    // The enabled or disabled button under a client point, or null.
    Button* HitTestButton(int x, int y);

private:
    void OnPaint();
    void OnMouseMove(int x, int y);
    void OnLeftButtonDown(int x, int y);
    void OnLeftButtonUp(int x, int y);
    void OnMouseLeave();
    void OnDetectionStep(UINT message, WPARAM wParam);
    void OnDetectionDone();
    void OnUpdateState(WPARAM state);
    void OnUpdateProgress(WPARAM percent, LPARAM counts);
    void OnUpdateSpeed(WPARAM bytesPerSecond);
    void OnUpdateComplete(bool success);
    // The passing verdict's part shared by a live and a restored diagnosis.
    void PassVerdict();
    void BlockVerdict();
    void ResetTransferTexts();
    void Invalidate(const RECT* area = nullptr);
    void CreateFonts();

    void DrawHeader(HDC dc, int contentWidth);
    void DrawTable(HDC dc, int clientWidth);
    void DrawStatus(HDC dc, int contentWidth);
    void DrawProgress(HDC dc, int contentWidth);
    void DrawButton(HDC dc, const Button& button);
    void DrawFooter(HDC dc, int clientWidth, int clientHeight);

    SystemState& systemState_;
    UpdateController& controller_;
    std::shared_ptr<ProgressThrottle> progressThrottle_;
};

}  // namespace Orvane
