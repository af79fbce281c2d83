#include "ui/MainWindow.h"

#include <shellapi.h>

#include <cmath>
#include <system_error>
#include <thread>
#include <utility>

#include "base/Handles.h"
#include "base/Paths.h"
#include "base/ServiceEndpoints.h"
#include "base/Version.h"
#include "diagnostics/DotNetProbe.h"
#include "diagnostics/EnvironmentInfo.h"
#include "diagnostics/GameDirectory.h"
#include "diagnostics/NetworkProbe.h"
#include "diagnostics/SystemProbe.h"
#include "diagnostics/SystemState.h"
#include "resource.h"
#include "ui/LaunchRules.h"
#include "ui/Palette.h"
#include "ui/WindowMessages.h"
#include "update/UpdateController.h"

namespace Orvane {

namespace {

constexpr wchar_t kClassName[] = L"OrvaneMainWindow";
constexpr const wchar_t* kVersionText = kVersionCaption;
constexpr wchar_t kBlockedText[] = L"请将当前检测程序放置在魔兽世界客户端目录下";
constexpr UINT_PTR kLaunchDelayTimer = 1;
constexpr UINT kLaunchDelayMs = 1000;

using State = UpdateController::State;

// Starts work on a detached thread. False when the system cannot create one.
bool StartDetached(std::function<void()> work)
{
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

// State and completion messages must not be lost: a full queue is waited out
// for as long as the window exists.
void PostReliably(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (PostMessageW(window, message, wParam, lParam) || !IsWindow(window)) {
            return;
        }
        Sleep(10);
    }
}

// Low 32 bits of a rate truncated towards zero, as the speed message carries it.
WPARAM SpeedParameter(double bytesPerSecond)
{
    if (!(bytesPerSecond > 0.0) || bytesPerSecond >= 18446744073709551616.0) {
        return 0;
    }
    return static_cast<uint32_t>(static_cast<uint64_t>(bytesPerSecond));
}

HFONT MakeFont(int height, int weight)
{
    return CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Microsoft YaHei UI");
}

void FillRoundRect(HDC dc, int left, int top, int width, int height, int corner, COLORREF color)
{
    BrushHandle brush(CreateSolidBrush(color));
    PenHandle pen(CreatePen(PS_NULL, 0, 0));
    SelectedObject selectedBrush(dc, brush.Get());
    SelectedObject selectedPen(dc, pen.Get());
    RoundRect(dc, left, top, left + width, top + height, corner, corner);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF color)
{
    BrushHandle brush(CreateSolidBrush(color));
    FillRect(dc, &rect, brush.Get());
}

void DrawLine(HDC dc, int x1, int y1, int x2, int y2, COLORREF color)
{
    PenHandle pen(CreatePen(PS_SOLID, 1, color));
    SelectedObject selectedPen(dc, pen.Get());
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
}

void DrawSeparator(HDC dc, int x, int top, int bottom)
{
    DrawLine(dc, x, top, x, bottom, Palette::Border);
}

void DrawTextIn(HDC dc, const std::wstring& text, RECT rect, HFONT font, COLORREF color,
                UINT flags)
{
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    SelectedObject selectedFont(dc, font);
    DrawTextW(dc, text.c_str(), -1, &rect, flags);
}

void DrawStatusDot(HDC dc, int cx, int cy, RowStatus status)
{
    COLORREF fill = Palette::Neutral;
    switch (status) {
    case RowStatus::Ok:
        fill = Palette::Success;
        break;
    case RowStatus::Warning:
        fill = Palette::Warning;
        break;
    case RowStatus::Failed:
        fill = Palette::Danger;
        break;
    case RowStatus::NotChecked:
        break;
    }
    {
        BrushHandle brush(CreateSolidBrush(fill));
        PenHandle pen(CreatePen(PS_NULL, 0, 0));
        SelectedObject selectedBrush(dc, brush.Get());
        SelectedObject selectedPen(dc, pen.Get());
        Ellipse(dc, cx - 9, cy - 9, cx + 9, cy + 9);
    }
    PenHandle markPen(CreatePen(PS_SOLID, 2, Palette::White));
    SelectedObject selectedPen(dc, markPen.Get());
    if (status == RowStatus::Ok || status == RowStatus::Warning) {
        const POINT check[] = {{cx - 3, cy}, {cx, cy + 3}, {cx + 3, cy - 2}};
        Polyline(dc, check, 3);
    } else if (status == RowStatus::Failed) {
        MoveToEx(dc, cx - 3, cy - 3, nullptr);
        LineTo(dc, cx + 3, cy + 3);
        MoveToEx(dc, cx + 3, cy - 3, nullptr);
        LineTo(dc, cx - 3, cy + 3);
    }
}

int TextWidth(HDC dc, HFONT font, const std::wstring& text)
{
    SelectedObject selectedFont(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

void ApplyLook(Button& button, const ButtonLook& look)
{
    button.text = look.text;
    button.enabled = look.enabled;
    button.color = look.color;
}

}  // namespace

MainWindow::MainWindow() : MainWindow(SystemState::Instance(), UpdateController::Instance()) {}

MainWindow::MainWindow(SystemState& systemState, UpdateController& controller)
    : title(L"Kaimor游戏下载/诊断器"),
      description(L"本工具用于检测电脑环境, 提供诊断建议，优化游戏体验。和游戏下载更新服务，"
                  L"登录游戏请采用登录器。"),
      statusText(L"欢迎使用, 请点击 开始检测"),
      rows(InitialRows()),
      systemState_(systemState),
      controller_(controller),
      progressThrottle_(std::make_shared<ProgressThrottle>())
{
    startButton.text = L"开始检测";
    startButton.enabled = true;
    startButton.color = Palette::Accent;
    gameButton.text = L"开始游戏";
    gameButton.enabled = false;
    gameButton.color = Palette::Panel;
    links[0].url = ServiceEndpoints::CommunityUrl;
    links[0].caption = ServiceEndpoints::CommunityCaption;
    links[1].url = ServiceEndpoints::WebsiteUrl;
    links[1].caption = ServiceEndpoints::WebsiteCaption;

    detectionRun = &MainWindow::RunDetection;
    openUrl = [](const std::wstring& url) {
        ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    };
    showMessage = [this](const std::wstring& text, const std::wstring& caption, UINT style) {
        MessageBoxW(hwnd, text.c_str(), caption.c_str(), style);
    };
}

MainWindow::~MainWindow()
{
    // The window may outlive this object only in a failed start; its procedure
    // must not reach a destroyed object.
    if (hwnd != nullptr && IsWindow(hwnd)) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    }
}

bool MainWindow::Create(HINSTANCE instance)
{
    hInstance = instance;

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &MainWindow::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON,
                   GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    BrushHandle background(CreateSolidBrush(Palette::Background));
    windowClass.hbrBackground = background.Get();
    windowClass.lpszClassName = kClassName;
    if (RegisterClassExW(&windowClass) == 0) {
        return false;
    }
    // The class uses the brush for as long as the process runs.
    background.Release();

    const int x = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
    hwnd = CreateWindowExW(0, kClassName, title.c_str(), WS_OVERLAPPEDWINDOW, x, y, kWindowWidth,
                           kWindowHeight, nullptr, nullptr, instance, this);
    if (hwnd == nullptr) {
        return false;
    }

    CreateFonts();
    ApplyLook(startButton, {L"开始检测", true, Palette::Accent});
    ApplyLook(gameButton, {L"开始游戏", false, Palette::Panel});

    if (systemState_.Load()) {
        hasDetected = true;
        RestoreResults();
        EvaluateResults();
    } else {
        UpdateButtons();
    }

    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    return true;
}

void MainWindow::CreateFonts()
{
    titleFont.Reset(MakeFont(18, 600));
    textFont.Reset(MakeFont(13, 400));
    smallFont.Reset(MakeFont(11, 400));
    buttonFont.Reset(MakeFont(14, 400));
    descriptionFont.Reset(MakeFont(11, 400));
    headerFont.Reset(MakeFont(12, 600));
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* self = static_cast<MainWindow*>(create->lpCreateParams);
        self->hwnd = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        return 0;
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    const int x = LOWORD(lParam);
    const int y = HIWORD(lParam);
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = kWindowWidth;
        info->ptMinTrackSize.y = kWindowHeight;
        return 0;
    }
    case WM_SETCURSOR:
        // Keeps the hand over a link; elsewhere the class arrow applies.
        if (LOWORD(lParam) == HTCLIENT && (links[0].hovered || links[1].hovered)) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_MOUSEMOVE:
        OnMouseMove(x, y);
        return 0;
    case WM_LBUTTONDOWN:
        OnLeftButtonDown(x, y);
        return 0;
    case WM_LBUTTONUP:
        OnLeftButtonUp(x, y);
        return 0;
    case WM_MOUSELEAVE:
        OnMouseLeave();
        return 0;
    case WM_TIMER:
        if (wParam == kLaunchDelayTimer) {
            KillTimer(hwnd, kLaunchDelayTimer);
            PostMessageW(hwnd, WM_LAUNCH_GAME, 0, 0);
            return 0;
        }
        break;
    case WM_DETECT_OS:
    case WM_DETECT_ARCH:
    case WM_DETECT_DOTNET:
    case WM_DETECT_GAMEDIR:
    case WM_DETECT_INTEGRITY:
    case WM_DETECT_LOGIN_SERVER:
    case WM_DETECT_GAME_SERVER:
        OnDetectionStep(message, wParam);
        return 0;
    case WM_DETECT_DONE:
        OnDetectionDone();
        return 0;
    case WM_UPDATE_STATE:
        OnUpdateState(wParam);
        return 0;
    case WM_UPDATE_PROGRESS:
        OnUpdateProgress(wParam, lParam);
        return 0;
    case WM_UPDATE_SPEED:
        OnUpdateSpeed(wParam);
        return 0;
    case WM_UPDATE_COMPLETE:
        OnUpdateComplete(wParam == 1);
        return 0;
    case WM_LAUNCH_GAME:
        LaunchGame();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void MainWindow::Invalidate(const RECT* area)
{
    InvalidateRect(hwnd, area, FALSE);
}

// ---- Painting -------------------------------------------------------------

void MainWindow::OnPaint()
{
    PAINTSTRUCT paint{};
    const HDC windowDc = BeginPaint(hwnd, &paint);
    RECT client{};
    GetClientRect(hwnd, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    {
        MemoryDc memoryDc(CreateCompatibleDC(windowDc));
        BitmapHandle bitmap(CreateCompatibleBitmap(windowDc, width, height));
        if (memoryDc && bitmap) {
            SelectedObject selectedBitmap(memoryDc.Get(), bitmap.Get());
            Paint(memoryDc.Get(), client);
            BitBlt(windowDc, 0, 0, width, height, memoryDc.Get(), 0, 0, SRCCOPY);
        }
    }
    EndPaint(hwnd, &paint);
}

void MainWindow::Paint(HDC dc, const RECT& client)
{
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    const int contentWidth = width - 32;

    FillSolid(dc, client, Palette::Background);
    DrawHeader(dc, contentWidth);
    DrawTable(dc, width);
    DrawStatus(dc, contentWidth);
    if (updating || progress > 0) {
        DrawProgress(dc, contentWidth);
    }

    startButton.rect = StartButtonRect(width, height);
    gameButton.rect = GameButtonRect(width, height);
    DrawButton(dc, startButton);
    DrawButton(dc, gameButton);
    DrawFooter(dc, width, height);

    // Resize grip in the bottom-right corner.
    for (int k = 0; k < 3; ++k) {
        DrawLine(dc, width - 4 + 4 * k, height - 18 + 4 * k, width - 18 + 4 * k, height - 4 + 4 * k,
                 Palette::SecondaryText);
    }
}

void MainWindow::DrawHeader(HDC dc, int contentWidth)
{
    const UINT flags = DT_SINGLELINE | DT_VCENTER;
    DrawTextIn(dc, title, {16, 16, contentWidth - 44, 46}, titleFont.Get(), Palette::PrimaryText,
               flags);
    DrawTextIn(dc, kVersionText, {16, 21, contentWidth + 16, 41}, smallFont.Get(),
               Palette::SecondaryText, flags | DT_RIGHT);
    DrawTextIn(dc, description, {16, 48, contentWidth + 16, 73}, descriptionFont.Get(),
               Palette::SecondaryText, flags);
}

void MainWindow::DrawTable(HDC dc, int clientWidth)
{
    const int contentWidth = clientWidth - 32;
    const TableColumns col = ComputeTableColumns(clientWidth);
    const UINT flags = DT_SINGLELINE | DT_VCENTER;

    FillRoundRect(dc, 16, 88, contentWidth, 258, 8, Palette::Panel);
    FillSolid(dc, {26, 98, contentWidth + 6, 126}, Palette::HeaderRow);

    const HFONT header = headerFont.Get();
    DrawTextIn(dc, L"检测项", {31, 98, 21 + col.c1, 126}, header, Palette::SecondaryText, flags);
    DrawSeparator(dc, col.x1, 98, 126);
    DrawTextIn(dc, L"检测结果", {col.x1 + 5, 98, col.x1 + col.c2 - 5, 126}, header,
               Palette::SecondaryText, flags);
    DrawSeparator(dc, col.x2, 98, 126);
    DrawTextIn(dc, L"推荐配置", {col.x2 + 5, 98, col.x2 + col.c3 - 5, 126}, header,
               Palette::SecondaryText, flags);
    DrawSeparator(dc, col.x3, 98, 126);
    DrawTextIn(dc, L"状态", {col.x3 + 2, 98, col.x3 + col.c4 - 2, 126}, header,
               Palette::SecondaryText, flags | DT_CENTER);
    DrawSeparator(dc, col.x4, 98, 126);
    DrawTextIn(dc, L"建议", {col.x4 + 5, 98, col.x4 + col.c5 - 5, 126}, header,
               Palette::SecondaryText, flags);

    for (size_t i = 0; i < rows.size(); ++i) {
        const CheckRow& row = rows[i];
        const int top = 126 + 30 * static_cast<int>(i);
        const int bottom = top + 30;
        FillSolid(dc, {26, top, contentWidth + 6, bottom},
                  i % 2 == 0 ? Palette::Panel : Palette::AlternateRow);

        DrawTextIn(dc, row.name, {31, top, 21 + col.c1, bottom}, textFont.Get(),
                   Palette::SecondaryText, flags);
        DrawSeparator(dc, col.x1, top, bottom);
        DrawTextIn(dc, row.result, {col.x1 + 5, top, col.x1 + col.c2 - 5, bottom}, textFont.Get(),
                   Palette::PrimaryText, flags);
        DrawSeparator(dc, col.x2, top, bottom);
        DrawTextIn(dc, row.recommended, {col.x2 + 5, top, col.x2 + col.c3 - 5, bottom},
                   smallFont.Get(), Palette::SecondaryText, flags);
        DrawSeparator(dc, col.x3, top, bottom);
        DrawStatusDot(dc, col.x3 + col.c4 / 2, bottom - 15, row.status);
        DrawSeparator(dc, col.x4, top, bottom);

        const COLORREF adviceColor = row.status == RowStatus::Failed    ? Palette::Danger
                                     : row.status == RowStatus::Warning ? Palette::Warning
                                                                        : Palette::SecondaryText;
        DrawTextIn(dc, row.advice, {col.x4 + 5, top, col.x4 + col.c5 - 5, bottom},
                   smallFont.Get(), adviceColor, DT_END_ELLIPSIS | flags);
    }
}

void MainWindow::DrawStatus(HDC dc, int contentWidth)
{
    FillRoundRect(dc, 16, 356, contentWidth, 40, 8, Palette::Panel);
    {
        PenHandle pen(CreatePen(PS_SOLID, 1, Palette::Border));
        SelectedObject selectedBrush(dc, GetStockObject(NULL_BRUSH));
        SelectedObject selectedPen(dc, pen.Get());
        RoundRect(dc, 16, 356, contentWidth + 16, 396, 8, 8);
    }
    DrawTextIn(dc, statusText, {28, 364, contentWidth + 4, 388}, textFont.Get(),
               blocked ? Palette::Danger : Palette::PrimaryText,
               DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER);
}

void MainWindow::DrawProgress(HDC dc, int contentWidth)
{
    FillRoundRect(dc, 16, 406, contentWidth, 8, 4, Palette::Track);
    const int fill = contentWidth * progress / 100;
    if (progress > 0 && fill > 0) {
        FillRoundRect(dc, 16, 406, fill, 8, 4, Palette::Accent);
    }
    DrawTextIn(dc, ComposeProgressText(progress, counterText, speedText),
               {16, 417, contentWidth + 16, 435}, smallFont.Get(), Palette::SecondaryText,
               DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

void MainWindow::DrawButton(HDC dc, const Button& button)
{
    const RECT& r = button.rect;
    FillRoundRect(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 6,
                  ButtonFillColor(button.enabled, button.state, button.color));
    DrawTextIn(dc, button.text, r, buttonFont.Get(),
               button.enabled ? Palette::White : Palette::Neutral,
               DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

void MainWindow::DrawFooter(HDC dc, int clientWidth, int clientHeight)
{
    const int widths[2] = {TextWidth(dc, smallFont.Get(), links[0].caption),
                           TextWidth(dc, smallFont.Get(), links[1].caption)};
    links[0].rect = FirstLinkRect(clientHeight, widths[0]);
    links[1].rect = SecondLinkRect(clientWidth, clientHeight, widths[1]);
    for (const FooterLink& link : links) {
        const COLORREF color = link.hovered ? Palette::LinkHover : Palette::AccentHover;
        DrawTextIn(dc, link.caption, link.rect, smallFont.Get(), color,
                   DT_SINGLELINE | DT_VCENTER);
        if (link.hovered) {
            DrawLine(dc, link.rect.left, clientHeight - 11, link.rect.right, clientHeight - 11,
                     color);
        }
    }
}

// ---- Mouse ----------------------------------------------------------------

Button* MainWindow::HitTestButton(int x, int y)
{
    const POINT point{x, y};
    if (PtInRect(&startButton.rect, point)) {
        return &startButton;
    }
    if (PtInRect(&gameButton.rect, point)) {
        return &gameButton;
    }
    return nullptr;
}

void MainWindow::OnMouseMove(int x, int y)
{
    if (!trackingMouse) {
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof(track);
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = hwnd;
        TrackMouseEvent(&track);
        trackingMouse = true;
    }

    const Button* hit = HitTestButton(x, y);
    for (Button* button : {&startButton, &gameButton}) {
        const ButtonState wanted =
            hit == button && button->enabled ? ButtonState::Hover : ButtonState::Normal;
        if (wanted != button->state) {
            button->state = wanted;
            Invalidate(&button->rect);
        }
    }

    const POINT point{x, y};
    const bool inFirst = PtInRect(&links[0].rect, point) != FALSE;
    const bool inSecond = PtInRect(&links[1].rect, point) != FALSE;
    if (inFirst != links[0].hovered || inSecond != links[1].hovered) {
        links[0].hovered = inFirst;
        links[1].hovered = inSecond;
        SetCursor(LoadCursorW(nullptr, inFirst || inSecond ? IDC_HAND : IDC_ARROW));
        Invalidate(&links[0].rect);
        Invalidate(&links[1].rect);
    }
}

void MainWindow::OnLeftButtonDown(int x, int y)
{
    Button* hit = HitTestButton(x, y);
    if (hit != nullptr && hit->enabled) {
        hit->state = ButtonState::Pressed;
        Invalidate(&hit->rect);
    }
}

void MainWindow::OnLeftButtonUp(int x, int y)
{
    const POINT point{x, y};
    // Each button's action runs only when its press ends over it.
    auto released = [this, &point](Button& button) {
        if (button.state != ButtonState::Pressed) {
            return false;
        }
        button.state = ButtonState::Normal;
        Invalidate(&button.rect);
        return PtInRect(&button.rect, point) && button.enabled;
    };

    if (released(startButton)) {
        BeginDetection();
    }
    if (released(gameButton)) {
        if (updateAvailable) {
            StartDownload();
        } else if (checkFailed) {
            StartUpdateCheck();
        } else {
            LaunchGame();
        }
    }
    for (const FooterLink& link : links) {
        if (PtInRect(&link.rect, point) && openUrl) {
            openUrl(link.url);
        }
    }
}

void MainWindow::OnMouseLeave()
{
    startButton.state = ButtonState::Normal;
    gameButton.state = ButtonState::Normal;
    links[0].hovered = false;
    links[1].hovered = false;
    trackingMouse = false;
    Invalidate();
}

void MainWindow::UpdateButtons()
{
    ActivityFlags flags;
    flags.hasDetected = hasDetected;
    flags.updateAvailable = updateAvailable;
    flags.updating = updating;
    flags.checking = checking;
    flags.checkFailed = checkFailed;
    flags.detecting = detecting;
    ApplyLook(startButton, StartButtonLook(flags));
    ApplyLook(gameButton, GameButtonLook(flags));
    Invalidate(&startButton.rect);
    Invalidate(&gameButton.rect);
}

// ---- Detection --------------------------------------------------------------

void MainWindow::BeginDetection()
{
    checkFailed = false;
    detecting = true;
    hasDetected = true;
    updateAvailable = false;
    checking = false;
    progress = 0;
    ResetTransferTexts();
    statusText = L"正在检测系统环境...";
    for (CheckRow& row : rows) {
        row.result.clear();
        row.advice.clear();
        row.status = RowStatus::NotChecked;
    }
    blocked = false;
    UpdateButtons();
    Invalidate();

    const HWND window = hwnd;
    SystemState& state = systemState_;
    if (!StartDetached([run = detectionRun, window, &state] { run(window, state); })) {
        detecting = false;
        statusText = L"无法启动检测, 请重新检测";
        UpdateButtons();
        Invalidate();
    }
}

void MainWindow::RunDetection(HWND window, SystemState& state)
{
    EnvironmentInfo info;
    DetectOperatingSystem(info);
    info.Is64Bit = DetectArchitecture();
    DetectGameDirectory(info);
    DetectDotNet(info);

    state.OSName = info.OSName;
    state.OSVersion = info.OSVersion;
    state.OSBuild = info.OSBuild;
    state.Is64Bit = info.Is64Bit;
    state.IsWin7 = info.IsWin7;
    state.IsWin10OrLater = info.IsWin10OrLater;
    PostMessageW(window, WM_DETECT_OS, info.IsWin10OrLater ? 1 : 2, 0);
    PostMessageW(window, WM_DETECT_ARCH, info.Is64Bit ? 1 : 2, 0);

    state.HasDotNet = info.HasDotNet;
    state.DotNetVersion = info.DotNetVersion;
    state.HasNet8 = info.HasNet8;
    PostMessageW(window, WM_DETECT_DOTNET, info.HasNet8 ? 1 : info.HasDotNet ? 2 : 0, 0);

    state.GameDir = info.GameDir;
    state.HasGameDir = info.HasGameDir;
    state.HasDataDir = info.HasDataDir;
    state.HasWowExe = info.HasWowExe;
    PostMessageW(window, WM_DETECT_GAMEDIR, info.HasGameDir ? 1 : 0, 0);

    if (info.HasGameDir) {
        const IntegrityResult integrity = ClientIntegrityChecker().Check(info.GameDir);
        state.HasCompleteClient = integrity.IsComplete;
        state.ClientIntegrityInfo =
            integrity.IsComplete ? L"完整客户端" : L"非完整客户端 - " + integrity.Info;
    } else {
        state.HasCompleteClient = false;
        state.ClientIntegrityInfo = L"无法检测(游戏目录不存在)";
    }
    PostMessageW(window, WM_DETECT_INTEGRITY, state.HasCompleteClient ? 1 : 0, 0);

    const ConnectionTestResult api = TestServerConnection(ServiceEndpoints::ApiHost);
    state.ApiReachable = api.Reachable;
    state.ApiLatencyMs = api.LatencyMs;
    PostMessageW(window, WM_DETECT_LOGIN_SERVER, api.Reachable ? 1 : 2, 0);

    const ConnectionTestResult game = TestServerConnection(ServiceEndpoints::GameHost);
    state.GameReachable = game.Reachable;
    state.GameLatencyMs = game.LatencyMs;
    PostMessageW(window, WM_DETECT_GAME_SERVER, game.Reachable ? 1 : 0, 0);

    PostReliably(window, WM_DETECT_DONE, 0, 0);
}

void MainWindow::OnDetectionStep(UINT message, WPARAM wParam)
{
    const std::optional<DetectionStep> step = DescribeDetectionMessage(message, wParam, systemState_);
    if (!step) {
        return;
    }
    CheckRow& row = rows[step->row];
    row.result = step->result;
    row.status = step->status;
    row.advice = step->advice;
    statusText = step->statusText;
    Invalidate();
}

void MainWindow::OnDetectionDone()
{
    if (HasBlockingFailure(rows)) {
        BlockVerdict();
    } else {
        // Saved before the update check starts, so the check never meets a
        // half-written setup.ini.
        if (systemState_.IsWin7) {
            systemState_.LauncherType = L"WIN32_NATIVE";
            systemState_.LauncherPath.clear();
        }
        systemState_.SetupComplete = true;
        systemState_.Save();
        PassVerdict();
    }
    detecting = false;
    Invalidate();
}

void MainWindow::BlockVerdict()
{
    blocked = true;
    checkFailed = false;
    detecting = false;
    updateAvailable = false;
    checking = false;
    statusText = kBlockedText;
    UpdateButtons();
}

void MainWindow::PassVerdict()
{
    blocked = false;
    detecting = false;
    statusText = L"检测通过, 正在检查更新...";
    checking = true;
    checkFailed = false;
    UpdateButtons();
    StartUpdateCheck();
}

void MainWindow::RestoreResults()
{
    rows = RestoredRows(systemState_);
}

void MainWindow::EvaluateResults()
{
    if (HasBlockingFailure(rows)) {
        BlockVerdict();
    } else {
        PassVerdict();
    }
    Invalidate();
}

// ---- Update flow ------------------------------------------------------------

void MainWindow::ResetTransferTexts()
{
    speedText.clear();
    counterText.clear();
}

void MainWindow::StartUpdateCheck()
{
    progress = 0;
    ResetTransferTexts();
    statusText = L"正在检查更新...";
    checking = true;
    checkFailed = false;
    UpdateButtons();
    Invalidate();

    SetupUpdateCallbacks();
    try {
        controller_.CheckForUpdates();
    } catch (const std::system_error&) {
        // No thread for the check: report it like any failed check.
        PostReliably(hwnd, WM_UPDATE_STATE, static_cast<WPARAM>(State::Error), 0);
    }
}

void MainWindow::SetupUpdateCallbacks()
{
    const HWND window = hwnd;
    std::shared_ptr<ProgressThrottle> throttle = progressThrottle_;
    controller_.onStateChanged = [window](State state, const std::wstring&) {
        PostReliably(window, WM_UPDATE_STATE, static_cast<WPARAM>(state), 0);
    };
    controller_.onProgress = [window, throttle](int fileIndex, int fileCount, int64_t downloaded,
                                                int64_t total, double bytesPerSecond) {
        const int64_t percent = ProgressPercent(downloaded, total);
        if (!throttle->ShouldPost(percent, fileIndex, GetTickCount64())) {
            return;
        }
        const LPARAM counts = MAKELPARAM(static_cast<WORD>(fileIndex), static_cast<WORD>(fileCount));
        PostMessageW(window, WM_UPDATE_PROGRESS, static_cast<uint32_t>(percent), counts);
        PostMessageW(window, WM_UPDATE_SPEED, SpeedParameter(bytesPerSecond), 0);
    };
    controller_.onComplete = [window](bool success) {
        PostReliably(window, WM_UPDATE_COMPLETE, success ? 1 : 0, 0);
    };
}

void MainWindow::StartDownload()
{
    updating = true;
    progress = 0;
    statusText = L"正在下载更新文件...";
    ResetTransferTexts();
    UpdateButtons();
    Invalidate();

    progressThrottle_->Reset();
    try {
        controller_.StartUpdate();
    } catch (const std::system_error&) {
        PostReliably(hwnd, WM_UPDATE_COMPLETE, 0, 0);
    }
}

void MainWindow::OnUpdateState(WPARAM value)
{
    switch (static_cast<State>(value)) {
    case State::Connecting:
        statusText = L"正在连接服务器...";
        break;
    case State::UpdateAvailable:
        updateAvailable = true;
        checking = false;
        checkFailed = false;
        statusText = L"发现 " + std::to_wstring(controller_.filesToUpdate.size()) + L" 个文件需要更新";
        progress = 0;
        ResetTransferTexts();
        UpdateButtons();
        break;
    case State::UpToDate:
        if (!updating) {
            updateAvailable = false;
            checking = false;
            checkFailed = false;
            statusText = L"游戏已是最新版本";
            UpdateButtons();
        }
        progress = 0;
        ResetTransferTexts();
        break;
    case State::Error:
        progress = 0;
        ResetTransferTexts();
        statusText = L"检查更新失败";
        checking = false;
        checkFailed = true;
        UpdateButtons();
        showMessage(controller_.message, L"错误", MB_ICONERROR);
        break;
    default:
        return;
    }
    Invalidate();
}

void MainWindow::OnUpdateProgress(WPARAM percent, LPARAM counts)
{
    const unsigned fileIndex = LOWORD(counts);
    const unsigned fileCount = HIWORD(counts);
    if (fileCount == 0) {
        return;
    }
    const std::wstring text = FileCounterText(fileIndex, fileCount);
    const int newProgress = static_cast<int>(percent);
    const bool changed = newProgress != progress || text != counterText;
    progress = newProgress;
    counterText = text;
    if (changed) {
        Invalidate();
    }
}

void MainWindow::OnUpdateSpeed(WPARAM bytesPerSecond)
{
    speedText = SpeedText(static_cast<uint32_t>(bytesPerSecond));
    RECT client{};
    GetClientRect(hwnd, &client);
    const RECT band{0, kProgressBandTop, client.right, kProgressBandBottom};
    Invalidate(&band);
}

void MainWindow::OnUpdateComplete(bool success)
{
    updateAvailable = false;
    updating = false;
    if (success) {
        statusText = L"更新完成!";
        progress = 100;
        checkFailed = false;
        UpdateButtons();
        Invalidate();
        SetTimer(hwnd, kLaunchDelayTimer, kLaunchDelayMs, nullptr);
    } else {
        statusText = L"更新失败";
        progress = 0;
        ResetTransferTexts();
        checkFailed = true;
        UpdateButtons();
    }
    Invalidate();
}

// ---- Launching ---------------------------------------------------------------

void MainWindow::LaunchGame()
{
    if (!systemState_.GameReachable) {
        showMessage(L"无法连接游戏服务器\n\n请检查网络后重新检测, 再开始游戏", L"网络异常",
                    MB_ICONERROR);
        return;
    }
    const std::wstring directory = LauncherDirectoryOf(GetExecutablePath());
    const std::wstring launcherPath = directory + L"\\" + kLauncherFileName;

    const DWORD attributes = GetFileAttributesW(launcherPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        showMessage(LauncherMissingText(launcherPath), L"错误", MB_ICONERROR);
        return;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(launcherPath.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &process)) {
        const DWORD error = GetLastError();
        showMessage(LaunchFailedText(error, launcherPath), L"错误", MB_ICONERROR);
        return;
    }
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    PostQuitMessage(0);
}

}  // namespace Orvane
