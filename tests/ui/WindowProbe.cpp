// Test helper: finds the running program's main window (or a message box) and
// prints what a screenshot script cannot learn by itself, as key=value lines:
// where the client area is on the screen, its size, and the window's state.
// It can also minimise the window or ask it to close.
//
//   orvane_window_probe wait-window TIMEOUT_MS   wait until the window is shown, print it
//   orvane_window_probe info                     print the window now
//   orvane_window_probe minimize TIMEOUT_MS      minimise it, wait until it is iconic, print it
//   orvane_window_probe close [CLASS]            post WM_CLOSE to it (or to a window of CLASS)
//   orvane_window_probe cover                    show a screen-sized window of its own, make it
//                                                the foreground window, print "ready=1" and
//                                                run until it is closed
//   orvane_window_probe wait-dialog CAPTION TIMEOUT_MS
//                                                wait for a message box with that caption,
//                                                print its text and OK button
//
// Exit codes: 0 done, 1 window not found in time, 2 usage.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string>

namespace {

constexpr wchar_t kMainWindowClass[] = L"OrvaneMainWindow";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kCoverClass[] = L"OrvaneProbeCover";
constexpr DWORD kPollMs = 50;
constexpr int kMessageBoxTextId = 0xFFFF;  // the static control holding a message box's text

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// Line breaks escaped so that every fact stays on one line.
std::string Escaped(const std::wstring& text)
{
    std::string out;
    for (const char c : ToUtf8(text)) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

std::wstring WindowText(HWND window)
{
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, static_cast<int>(std::size(buffer)));
    return buffer;
}

template <typename Find>
HWND WaitFor(Find find, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const HWND window = find();
        if (window != nullptr || GetTickCount64() >= deadline) {
            return window;
        }
        Sleep(kPollMs);
    }
}

HWND FindShownMainWindow()
{
    const HWND window = FindWindowW(kMainWindowClass, nullptr);
    return (window != nullptr && IsWindowVisible(window)) ? window : nullptr;
}

BOOL CALLBACK CountMainWindow(HWND window, LPARAM count)
{
    wchar_t className[64] = {};
    GetClassNameW(window, className, static_cast<int>(std::size(className)));
    if (std::wcscmp(className, kMainWindowClass) == 0) {
        ++*reinterpret_cast<int*>(count);
    }
    return TRUE;
}

void PrintWindowFacts(HWND window)
{
    RECT outer{};
    GetWindowRect(window, &outer);
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    // Whether the window is the one seen near its client area's top-left corner,
    // i.e. no other window covers it there (a centred message box does not reach it).
    POINT probe{10, 10};
    ClientToScreen(window, &probe);
    const HWND seen = WindowFromPoint(probe);
    const bool onTop = !IsIconic(window) && seen != nullptr && GetAncestor(seen, GA_ROOT) == window;

    int mainWindows = 0;
    EnumWindows(CountMainWindow, reinterpret_cast<LPARAM>(&mainWindows));

    std::printf("found=1\n");
    std::printf("windows=%d\n", mainWindows);
    std::printf("pid=%lu\n", static_cast<unsigned long>(pid));
    std::printf("title=%s\n", Escaped(WindowText(window)).c_str());
    std::printf("window=%ld,%ld,%ld,%ld\n", outer.left, outer.top, outer.right - outer.left,
                outer.bottom - outer.top);
    std::printf("screen=%d,%d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    std::printf("client_origin=%ld,%ld\n", origin.x, origin.y);
    std::printf("client_size=%ld,%ld\n", client.right, client.bottom);
    std::printf("iconic=%d\n", IsIconic(window) ? 1 : 0);
    std::printf("visible=%d\n", IsWindowVisible(window) ? 1 : 0);
    std::printf("foreground=%d\n", GetForegroundWindow() == window ? 1 : 0);
    std::printf("on_top=%d\n", onTop ? 1 : 0);
}

void PrintDialogFacts(HWND dialog)
{
    const HWND text = GetDlgItem(dialog, kMessageBoxTextId);
    const HWND ok = GetDlgItem(dialog, IDOK);
    RECT okRect{};
    if (ok != nullptr) {
        GetWindowRect(ok, &okRect);
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    std::printf("found=1\n");
    std::printf("pid=%lu\n", static_cast<unsigned long>(pid));
    std::printf("caption=%s\n", Escaped(WindowText(dialog)).c_str());
    std::printf("text=%s\n", text != nullptr ? Escaped(WindowText(text)).c_str() : "");
    std::printf("ok_button=%d\n", ok != nullptr ? 1 : 0);
    std::printf("ok_centre=%ld,%ld\n", (okRect.left + okRect.right) / 2,
                (okRect.top + okRect.bottom) / 2);
    std::printf("foreground=%d\n", GetForegroundWindow() == dialog ? 1 : 0);
}

int NotFound(const char* what)
{
    std::printf("found=0\n");
    std::fprintf(stderr, "orvane_window_probe: %s not found\n", what);
    return 1;
}

LRESULT CALLBACK CoverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A plain window over the whole screen that takes the foreground, so a test can
// tell whether another window is brought in front of it.
int RunCover()
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = CoverProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kCoverClass;
    if (RegisterClassExW(&windowClass) == 0) {
        return NotFound("window class for the cover");
    }
    const HWND cover = CreateWindowExW(0, kCoverClass, L"cover", WS_POPUP | WS_VISIBLE, 0, 0,
                                       GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                       nullptr, nullptr, windowClass.hInstance, nullptr);
    if (cover == nullptr) {
        return NotFound("cover window");
    }
    SetForegroundWindow(cover);
    UpdateWindow(cover);
    std::printf("ready=1\n");
    std::fflush(stdout);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: orvane_window_probe wait-window MS | info | minimize MS | close [CLASS] |"
                 " cover | wait-dialog CAPTION MS\n");
    return 2;
}

DWORD Milliseconds(const wchar_t* text)
{
    return static_cast<DWORD>(std::wcstoul(text, nullptr, 10));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    // Binary so the lines end in "\n" only and UTF-8 passes through untouched.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) {
        return Usage();
    }
    const std::wstring command = argv[1];

    if (command == L"wait-window" && argc == 3) {
        const HWND window = WaitFor(FindShownMainWindow, Milliseconds(argv[2]));
        if (window == nullptr) {
            return NotFound("main window");
        }
        PrintWindowFacts(window);
        return 0;
    }
    if (command == L"info" && argc == 2) {
        const HWND window = FindWindowW(kMainWindowClass, nullptr);
        if (window == nullptr) {
            return NotFound("main window");
        }
        PrintWindowFacts(window);
        return 0;
    }
    if (command == L"minimize" && argc == 3) {
        const HWND window = FindWindowW(kMainWindowClass, nullptr);
        if (window == nullptr) {
            return NotFound("main window");
        }
        ShowWindow(window, SW_MINIMIZE);
        WaitFor([window] { return IsIconic(window) ? window : nullptr; }, Milliseconds(argv[2]));
        PrintWindowFacts(window);
        return 0;
    }
    if (command == L"close" && (argc == 2 || argc == 3)) {
        const HWND window = FindWindowW(argc == 3 ? argv[2] : kMainWindowClass, nullptr);
        if (window == nullptr) {
            return NotFound("window to close");
        }
        PostMessageW(window, WM_CLOSE, 0, 0);
        std::printf("found=1\nposted=WM_CLOSE\n");
        return 0;
    }
    if (command == L"wait-dialog" && argc == 4) {
        const std::wstring caption = argv[2];
        const HWND dialog = WaitFor(
            [&caption] {
                const HWND found = FindWindowW(kDialogClass, caption.c_str());
                return (found != nullptr && IsWindowVisible(found)) ? found : nullptr;
            },
            Milliseconds(argv[3]));
        if (dialog == nullptr) {
            return NotFound("message box");
        }
        PrintDialogFacts(dialog);
        return 0;
    }
    if (command == L"cover" && argc == 2) {
        return RunCover();
    }
    return Usage();
}
