#include "ui/MainWindow.h"

#include <shellapi.h>
#include <windowsx.h>

#include "base/ServiceEndpoints.h"
#include "resource.h"
#include "ui/Palette.h"

namespace Orvane {

namespace {

constexpr wchar_t kClassName[] = L"OrvaneMainWindow";

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

    const int x = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
    hwnd_ = CreateWindowExW(0, kClassName, kWindowTitle, WS_OVERLAPPEDWINDOW, x, y, kWindowWidth,
                            kWindowHeight, nullptr, nullptr, instance, this);
    if (hwnd_ == nullptr) {
        return false;
    }
    fonts_.Create();
    flow_.Start(hwnd_);

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
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        InvalidateRect(hwnd_, nullptr, TRUE);
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
    if (area == Area::ProgressBand) {
        RECT client{};
        GetClientRect(hwnd_, &client);
        const RECT band{0, kProgressBandTop, client.right, kProgressBandBottom};
        InvalidateRect(hwnd_, &band, FALSE);
        return;
    }
    start_.look = StartButtonLook(flow_.CurrentPhase());
    game_.look = GameButtonLook(flow_.CurrentPhase());
    InvalidateRect(hwnd_, nullptr, FALSE);
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
    start_.rect = StartButtonRect(client.right, client.bottom);
    game_.rect = GameButtonRect(client.right, client.bottom);
    links_[0].rect = FirstLinkRect(client.bottom, TextWidth(dc, fonts_.small.Get(), links_[0].caption));
    links_[1].rect = SecondLinkRect(client.right, client.bottom,
                                    TextWidth(dc, fonts_.small.Get(), links_[1].caption));
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
            const Frame frame{screen,  phase == Phase::Blocked,
                              phase == Phase::Updating || screen.progress > 0,
                              start_,  game_,
                              links_};
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

    if (released(start_)) {
        flow_.PressStart();
    }
    if (released(game_)) {
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

}  // namespace Orvane
