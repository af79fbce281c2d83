#include "ui/MainWindow.h"

#include <shellapi.h>
#include <windowsx.h>

#include "base/ServiceEndpoints.h"
#include "resource.h"
#include "ui/Palette.h"

namespace Orvane {

namespace {

constexpr wchar_t kClassName[] = L"OrvaneMainWindow";

// Runs a focus stop's action (wParam: FocusStop) after a screen reader's
// request has been answered.
constexpr UINT WM_ACTIVATE_STOP = WM_APP + 1;

// The accessible children in reading order: the result rows, the status line,
// the two buttons, the two links.
constexpr size_t kStartItem = kRowCount + 1;
constexpr size_t kItemCount = kRowCount + 5;

constexpr FocusStop kItemStops[] = {FocusStop::StartButton, FocusStop::GameButton,
                                    FocusStop::FirstLink, FocusStop::SecondLink};

// The child id (item index + 1) of a focus stop.
LONG ChildIdOf(FocusStop stop)
{
    return static_cast<LONG>(kStartItem) + static_cast<LONG>(stop);
}

// The part of the monitor that windows may use: the screen less the taskbar.
RECT WorkAreaOf(HMONITOR monitor)
{
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (monitor != nullptr && GetMonitorInfoW(monitor, &info)) {
        return info.rcWork;
    }
    RECT work{};
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
        return work;
    }
    return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

// The outer size less the client size: caption and borders as drawn now.
SIZE FrameOf(HWND window)
{
    RECT outer{};
    RECT client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    return SIZE{(outer.right - outer.left) - client.right, (outer.bottom - outer.top) - client.bottom};
}

}  // namespace

MainWindow::MainWindow(SystemState& record, UpdateController& controller)
    : flow_(record, controller, *this)
{
    links_[0].url = ServiceEndpoints::CommunityUrl;
    links_[0].caption = ServiceEndpoints::CommunityCaption;
    links_[1].url = ServiceEndpoints::WebsiteUrl;
    links_[1].caption = ServiceEndpoints::WebsiteCaption;
    start_.look = StartButtonLook(Phase::Welcome);
    game_.look = GameButtonLook(Phase::Welcome);

    openUrl = [](const std::wstring& url) {
        ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    };
    showMessage = [this](const std::wstring& text, const std::wstring& caption, UINT style) {
        MessageBoxW(hwnd_, text.c_str(), caption.c_str(), style);
    };
    currentColours = SystemColourScheme;
}

MainWindow::~MainWindow()
{
    // The window may outlive this object only in a failed start; its procedure
    // must not reach a destroyed object.
    if (hwnd_ != nullptr && IsWindow(hwnd_)) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    }
}

bool MainWindow::Create(HINSTANCE instance)
{
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

    // A first guess on the primary monitor; once the window exists its own
    // DPI, monitor and frame decide. It is not shown yet, so nothing moves
    // before the player's eyes.
    dpi_ = WindowDpi(nullptr);
    const RECT guess =
        PlaceWindow(WorkAreaOf(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY)), dpi_, SIZE{})
            .window;
    hwnd_ = CreateWindowExW(0, kClassName, kWindowTitle, WS_OVERLAPPEDWINDOW, guess.left, guess.top,
                            guess.right - guess.left, guess.bottom - guess.top, nullptr, nullptr,
                            instance, this);
    if (hwnd_ == nullptr) {
        return false;
    }
    dpi_ = WindowDpi(hwnd_);
    frame_ = FrameOf(hwnd_);
    const RECT placed = Placement().window;
    SetWindowPos(hwnd_, nullptr, placed.left, placed.top, placed.right - placed.left,
                 placed.bottom - placed.top, SWP_NOZORDER | SWP_NOACTIVATE);
    fonts_.Create(dpi_);
    colours_ = currentColours();
    BOOL cues = FALSE;
    keyboardCues_ = SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &cues, 0) && cues;
    // The primary action has the focus from the start.
    focus_ = SettledFocus(FocusStop::None, start_.look.enabled, game_.look.enabled);
    // Explorer announces the button once the window is shown; a run may have
    // started by then, and the button catches up with it.
    taskbarButtonCreated_ = RegisterWindowMessageW(L"TaskbarButtonCreated");
    AllowMessageFromExplorer(hwnd_, taskbarButtonCreated_);
    taskbar_.UseWindow(hwnd_);
    sessionEndCalls = SessionEndCalls::ForWindow(hwnd_);
    sessionEndCalls.cancelRuns = [this] { flow_.Cancel(); };
    sessionEndCalls.waitForRuns = [this](unsigned timeoutMs) { return flow_.WaitForRuns(timeoutMs); };
    sessionEndCalls.closeWindow = [this] { PostMessageW(hwnd_, WM_CLOSE, 0, 0); };
    flow_.Start(hwnd_);
    announced_ = AccessibleItems();

    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    return true;
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* self = static_cast<MainWindow*>(create->lpCreateParams);
        self->hwnd_ = window;
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
    const int x = GET_X_LPARAM(lParam);
    const int y = GET_Y_LPARAM(lParam);
    switch (message) {
    case WM_DESTROY:
        // The window goes at once; runs stop at their next chunk, and the
        // process waits for them after its message loop.
        flow_.Cancel();
        // Clients may hold the accessible object longer than the window lives.
        if (accessible_) {
            accessible_.Get()->Disconnect();
            accessible_.Reset();
        }
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        // A minimised window's rectangles say nothing of its frame.
        if (wParam == SIZE_RESTORED) {
            frame_ = FrameOf(hwnd_);
        }
        InvalidateRect(hwnd_, nullptr, TRUE);
        return 0;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        const SIZE minimum = Placement().minimumTrack;
        info->ptMinTrackSize.x = minimum.cx;
        info->ptMinTrackSize.y = minimum.cy;
        return 0;
    }
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        // High contrast turned on or off, or its colours changed.
        OnColoursChanged();
        break;
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_KEYDOWN:
        if (OnKeyDown(wParam, lParam)) {
            return 0;
        }
        break;
    case WM_SETFOCUS:
        InvalidateRect(hwnd_, nullptr, FALSE);
        if (focus_ != FocusStop::None) {
            NotifyWinEvent(EVENT_OBJECT_FOCUS, hwnd_, OBJID_CLIENT, ChildIdOf(focus_));
        }
        return 0;
    case WM_KILLFOCUS:
        InvalidateRect(hwnd_, nullptr, FALSE);
        return 0;
    case WM_GETOBJECT:
        return OnGetObject(wParam, lParam);
    case WM_QUERYENDSESSION:
        return sessionEnd_.Query(flow_.CurrentPhase() == Phase::Updating, sessionEndCalls);
    case WM_ENDSESSION:
        // The process may be ended once this returns: a download stops here,
        // its partial file kept for the next start.
        sessionEnd_.End(wParam != FALSE, RunActive(flow_.CurrentPhase()), sessionEndCalls);
        return 0;
    case WM_ACTIVATE_STOP:
        Activate(static_cast<FocusStop>(wParam));
        return 0;
    case WM_SETCURSOR:
        // Keeps the hand over a link; elsewhere the class arrow applies.
        if (LOWORD(lParam) == HTCLIENT && (links_[0].hovered || links_[1].hovered)) {
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
    default:
        if (message == taskbarButtonCreated_ && taskbarButtonCreated_ != 0) {
            taskbar_.Attach(createTaskbarButton ? createTaskbarButton(hwnd_) : nullptr);
            return 0;
        }
        if (flow_.Handle(message, wParam, lParam)) {
            return 0;
        }
        break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

// ---- What the flow asks of the window ---------------------------------------------

void MainWindow::Repaint(Area area)
{
    taskbar_.Show(flow_.CurrentPhase(), flow_.Shown().progress);
    if (area == Area::ProgressBand) {
        RECT client{};
        GetClientRect(hwnd_, &client);
        const Band band = ProgressBand(dpi_);
        const RECT rect{0, band.top, client.right, band.bottom};
        InvalidateRect(hwnd_, &rect, FALSE);
        return;
    }
    start_.look = StartButtonLook(flow_.CurrentPhase());
    game_.look = GameButtonLook(flow_.CurrentPhase());
    MoveFocus(SettledFocus(focus_, start_.look.enabled, game_.look.enabled));
    InvalidateRect(hwnd_, nullptr, FALSE);
    Announce();
}

void MainWindow::ShowMessage(const std::wstring& text, const std::wstring& caption, UINT style)
{
    if (showMessage) {
        showMessage(text, caption, style);
    }
}

void MainWindow::Quit()
{
    PostQuitMessage(0);
}

// ---- Painting ----------------------------------------------------------------

// Buttons follow the bottom edge; the links are as wide as their captions.
void MainWindow::PlaceControls(HDC dc, const RECT& client)
{
    start_.rect = StartButtonRect(client.right, client.bottom, dpi_);
    game_.rect = GameButtonRect(client.right, client.bottom, dpi_);
    links_[0].rect =
        FirstLinkRect(client.bottom, TextWidth(dc, fonts_.small.Get(), links_[0].caption), dpi_);
    links_[1].rect = SecondLinkRect(client.right, client.bottom,
                                    TextWidth(dc, fonts_.small.Get(), links_[1].caption), dpi_);
}

void MainWindow::OnPaint()
{
    PAINTSTRUCT paint{};
    const HDC windowDc = BeginPaint(hwnd_, &paint);
    RECT client{};
    GetClientRect(hwnd_, &client);
    // Only the invalid part is drawn and copied: a progress report asks for
    // the progress band alone, dozens of times a second.
    const RECT& dirty = paint.rcPaint;
    const int width = dirty.right - dirty.left;
    const int height = dirty.bottom - dirty.top;
    if (width > 0 && height > 0) {
        MemoryDc memoryDc(CreateCompatibleDC(windowDc));
        BitmapHandle bitmap(CreateCompatibleBitmap(windowDc, width, height));
        if (memoryDc && bitmap) {
            SelectedObject selectedBitmap(memoryDc.Get(), bitmap.Get());
            SetViewportOrgEx(memoryDc.Get(), -dirty.left, -dirty.top, nullptr);
            IntersectClipRect(memoryDc.Get(), dirty.left, dirty.top, dirty.right, dirty.bottom);
            PlaceControls(memoryDc.Get(), client);
            const Phase phase = flow_.CurrentPhase();
            const Screen& screen = flow_.Shown();
            const Frame frame{screen,
                              phase == Phase::Blocked,
                              phase == Phase::Updating || screen.progress > 0,
                              start_,
                              game_,
                              links_,
                              dpi_,
                              FocusMarkShown() ? focus_ : FocusStop::None,
                              colours_};
            PaintFrame(memoryDc.Get(), client, fonts_, frame);
            BitBlt(windowDc, dirty.left, dirty.top, width, height, memoryDc.Get(), dirty.left,
                   dirty.top, SRCCOPY);
        }
    }
    EndPaint(hwnd_, &paint);
}

// ---- Mouse ----------------------------------------------------------------

ButtonFace* MainWindow::HitTestButton(int x, int y)
{
    const POINT point{x, y};
    if (PtInRect(&start_.rect, point)) {
        return &start_;
    }
    if (PtInRect(&game_.rect, point)) {
        return &game_;
    }
    return nullptr;
}

void MainWindow::OnMouseMove(int x, int y)
{
    if (!trackingMouse_) {
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof(track);
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = hwnd_;
        TrackMouseEvent(&track);
        trackingMouse_ = true;
    }

    const ButtonFace* hit = HitTestButton(x, y);
    for (ButtonFace* button : {&start_, &game_}) {
        const ButtonState wanted =
            hit == button && button->look.enabled ? ButtonState::Hover : ButtonState::Normal;
        if (wanted != button->state) {
            button->state = wanted;
            InvalidateRect(hwnd_, &button->rect, FALSE);
        }
    }

    const POINT point{x, y};
    const bool inFirst = PtInRect(&links_[0].rect, point) != FALSE;
    const bool inSecond = PtInRect(&links_[1].rect, point) != FALSE;
    if (inFirst != links_[0].hovered || inSecond != links_[1].hovered) {
        links_[0].hovered = inFirst;
        links_[1].hovered = inSecond;
        SetCursor(LoadCursorW(nullptr, inFirst || inSecond ? IDC_HAND : IDC_ARROW));
        InvalidateRect(hwnd_, &links_[0].rect, FALSE);
        InvalidateRect(hwnd_, &links_[1].rect, FALSE);
    }
}

void MainWindow::OnLeftButtonDown(int x, int y)
{
    ButtonFace* hit = HitTestButton(x, y);
    if (hit != nullptr && hit->look.enabled) {
        hit->state = ButtonState::Pressed;
        InvalidateRect(hwnd_, &hit->rect, FALSE);
    }
}

void MainWindow::OnLeftButtonUp(int x, int y)
{
    const POINT point{x, y};
    // Each button's action runs only when its press ends over it.
    auto released = [this, &point](ButtonFace& button) {
        if (button.state != ButtonState::Pressed) {
            return false;
        }
        button.state = ButtonState::Normal;
        InvalidateRect(hwnd_, &button.rect, FALSE);
        return PtInRect(&button.rect, point) && button.look.enabled;
    };

    // A clicked button takes the focus, as a push button does.
    if (released(start_)) {
        MoveFocus(FocusStop::StartButton);
        flow_.PressStart();
    }
    if (released(game_)) {
        MoveFocus(FocusStop::GameButton);
        flow_.PressGame();
    }
    for (const FooterLink& link : links_) {
        if (PtInRect(&link.rect, point) && openUrl) {
            openUrl(link.url);
        }
    }
}

void MainWindow::OnMouseLeave()
{
    start_.state = ButtonState::Normal;
    game_.state = ButtonState::Normal;
    links_[0].hovered = false;
    links_[1].hovered = false;
    trackingMouse_ = false;
    InvalidateRect(hwnd_, nullptr, FALSE);
}

// ---- Display scale ------------------------------------------------------------

WindowPlacement MainWindow::Placement() const
{
    return PlaceWindow(WorkAreaOf(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST)), dpi_, frame_);
}

void MainWindow::OnDpiChanged(UINT dpi, const RECT& suggested)
{
    // The new DPI first: the move below asks for the minimum size at it.
    dpi_ = dpi;
    fonts_.Create(dpi_);
    // Windows suggests the same design size at the new scale, which a small
    // screen may not hold.
    const RECT target =
        FitIntoWorkArea(suggested, WorkAreaOf(MonitorFromRect(&suggested, MONITOR_DEFAULTTONEAREST)));
    SetWindowPos(hwnd_, nullptr, target.left, target.top, target.right - target.left,
                 target.bottom - target.top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void MainWindow::OnColoursChanged()
{
    ColourScheme colours = currentColours();
    if (colours != colours_) {
        colours_ = colours;
        InvalidateRect(hwnd_, nullptr, FALSE);
    }
}

// ---- Keyboard ------------------------------------------------------------------

bool MainWindow::FocusMarkShown() const
{
    return keyboardCues_ && focus_ != FocusStop::None && GetFocus() == hwnd_;
}

bool MainWindow::OnKeyDown(WPARAM key, LPARAM flags)
{
    switch (key) {
    case VK_TAB:
        keyboardCues_ = true;
        MoveFocus(NextFocusStop(focus_, GetKeyState(VK_SHIFT) >= 0, start_.look.enabled,
                                game_.look.enabled));
        InvalidateRect(hwnd_, nullptr, FALSE);
        return true;
    case VK_RETURN:
    case VK_SPACE:
        keyboardCues_ = true;
        InvalidateRect(hwnd_, nullptr, FALSE);
        // A held key repeats: one press, one action.
        if ((flags & (LPARAM{1} << 30)) == 0) {
            Activate(focus_);
        }
        return true;
    default:
        return false;
    }
}

void MainWindow::MoveFocus(FocusStop stop)
{
    if (stop == focus_) {
        return;
    }
    focus_ = stop;
    InvalidateRect(hwnd_, nullptr, FALSE);
    if (stop != FocusStop::None && GetFocus() == hwnd_) {
        NotifyWinEvent(EVENT_OBJECT_FOCUS, hwnd_, OBJID_CLIENT, ChildIdOf(stop));
    }
}

// What a click on it does, for the keyboard and screen readers.
void MainWindow::Activate(FocusStop stop)
{
    switch (stop) {
    case FocusStop::StartButton:
        if (start_.look.enabled) {
            flow_.PressStart();
        }
        break;
    case FocusStop::GameButton:
        if (game_.look.enabled) {
            flow_.PressGame();
        }
        break;
    case FocusStop::FirstLink:
    case FocusStop::SecondLink:
        if (openUrl) {
            openUrl(links_[stop == FocusStop::FirstLink ? 0 : 1].url);
        }
        break;
    case FocusStop::None:
        break;
    }
}

// ---- Screen readers ------------------------------------------------------------

std::vector<AccessibleItem> MainWindow::AccessibleItems() const
{
    RECT client{};
    GetClientRect(hwnd_, &client);
    const Screen& screen = flow_.Shown();
    const bool hasFocus = GetFocus() == hwnd_;

    std::vector<AccessibleItem> items;
    items.reserve(kItemCount);
    for (size_t i = 0; i < screen.rows.size(); ++i) {
        items.push_back({ROLE_SYSTEM_STATICTEXT, RowSpokenText(screen.rows[i]), STATE_SYSTEM_READONLY,
                         TableRowRect(client.right, static_cast<int>(i), dpi_), {}});
    }
    items.push_back({ROLE_SYSTEM_STATICTEXT, screen.status, STATE_SYSTEM_READONLY,
                     StatusRect(client.right, dpi_), {}});
    for (FocusStop stop : kItemStops) {
        const LONG focused = hasFocus && focus_ == stop ? STATE_SYSTEM_FOCUSED : 0;
        if (stop == FocusStop::StartButton || stop == FocusStop::GameButton) {
            const ButtonFace& button = stop == FocusStop::StartButton ? start_ : game_;
            const LONG state = button.look.enabled ? STATE_SYSTEM_FOCUSABLE | focused
                                                   : STATE_SYSTEM_UNAVAILABLE;
            items.push_back({ROLE_SYSTEM_PUSHBUTTON, button.look.text, state, button.rect, L"按下"});
        } else {
            const FooterLink& link = links_[stop == FocusStop::FirstLink ? 0 : 1];
            items.push_back({ROLE_SYSTEM_LINK, link.caption,
                             STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_LINKED | focused, link.rect,
                             L"跳转"});
        }
    }
    return items;
}

void MainWindow::RequestDefaultAction(size_t index)
{
    if (index >= kStartItem && index < kItemCount) {
        PostMessageW(hwnd_, WM_ACTIVATE_STOP, static_cast<WPARAM>(kItemStops[index - kStartItem]), 0);
    }
}

void MainWindow::Announce()
{
    std::vector<AccessibleItem> items = AccessibleItems();
    for (size_t i = 0; i < items.size() && i < announced_.size(); ++i) {
        const LONG child = static_cast<LONG>(i + 1);
        if (items[i].name != announced_[i].name) {
            NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, hwnd_, OBJID_CLIENT, child);
        }
        if (items[i].state != announced_[i].state) {
            NotifyWinEvent(EVENT_OBJECT_STATECHANGE, hwnd_, OBJID_CLIENT, child);
        }
    }
    announced_ = std::move(items);
}

LRESULT MainWindow::OnGetObject(WPARAM wParam, LPARAM lParam)
{
    // Only the client area is drawn by this window; the system answers for
    // the rest. The object id is 32 bits, which 64-bit Windows may pass
    // without sign extension.
    if (static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT || !accessibilityLibrary) {
        return DefWindowProcW(hwnd_, WM_GETOBJECT, wParam, lParam);
    }
    if (!accessible_) {
        accessible_.Reset(WindowAccessible::Create(hwnd_, *this));
    }
    if (!accessible_) {
        return DefWindowProcW(hwnd_, WM_GETOBJECT, wParam, lParam);
    }
    return LresultFromObject(__uuidof(IAccessible), wParam, static_cast<IAccessible*>(accessible_.Get()));
}

}  // namespace Orvane
