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
//   orvane_window_probe accessible               read the main window's client area as a
//                                                screen reader does (AccessibleObjectFromWindow):
//                                                child.N.role/name/state/action/rect, focus
//   orvane_window_probe accessible-do CHILD      do a child's default action, print its result
//
// Exit codes: 0 done, 1 window not found in time, 2 usage.

#include <windows.h>

#include <oleacc.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string>
#include <utility>

#include "AccessibleChild.h"
#include "base/Handles.h"

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
    // The part of the window's monitor that windows may use (the taskbar's left out).
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
        std::printf("work_area=%ld,%ld,%ld,%ld\n", monitor.rcWork.left, monitor.rcWork.top,
                    monitor.rcWork.right - monitor.rcWork.left, monitor.rcWork.bottom - monitor.rcWork.top);
    }
    std::printf("client_origin=%ld,%ld\n", origin.x, origin.y);
    std::printf("client_size=%ld,%ld\n", client.right, client.bottom);
    // The window's DPI where the system can say, and the system DPI.
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    std::printf("dpi=%u\n", getDpiForWindow != nullptr ? getDpiForWindow(window) : 0U);
    {
        const Orvane::MemoryDc screenDc(CreateCompatibleDC(nullptr));
        std::printf("system_dpi=%d\n", GetDeviceCaps(screenDc.Get(), LOGPIXELSY));
    }
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

// ---- The window as a screen reader reads it -----------------------------------

// COM for the probe's one thread.
struct ComScope {
    const bool initialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ~ComScope()
    {
        if (initialized) {
            CoUninitialize();
        }
    }
};

// A BSTR owned until the end of its scope.
struct OwnedBstr {
    BSTR text = nullptr;
    ~OwnedBstr() { SysFreeString(text); }
    std::wstring Value() const { return text != nullptr ? std::wstring(text, SysStringLen(text)) : L""; }
};

std::string RoleName(const VARIANT& role)
{
    if (role.vt != VT_I4) {
        return "none";
    }
    switch (role.lVal) {
    case ROLE_SYSTEM_PUSHBUTTON:
        return "pushbutton";
    case ROLE_SYSTEM_LINK:
        return "link";
    case ROLE_SYSTEM_STATICTEXT:
        return "statictext";
    case ROLE_SYSTEM_CLIENT:
        return "client";
    default:
        return std::to_string(role.lVal);
    }
}

std::string StateNames(const VARIANT& state)
{
    if (state.vt != VT_I4) {
        return "none";
    }
    const std::pair<LONG, const char*> names[] = {
        {STATE_SYSTEM_UNAVAILABLE, "unavailable"}, {STATE_SYSTEM_FOCUSED, "focused"},
        {STATE_SYSTEM_FOCUSABLE, "focusable"},     {STATE_SYSTEM_READONLY, "readonly"},
        {STATE_SYSTEM_LINKED, "linked"},           {STATE_SYSTEM_INVISIBLE, "invisible"},
    };
    std::string out;
    LONG rest = state.lVal;
    for (const auto& [bit, name] : names) {
        if ((rest & bit) != 0) {
            out += out.empty() ? "" : "+";
            out += name;
            rest &= ~bit;
        }
    }
    if (rest != 0) {
        char other[16];
        std::snprintf(other, sizeof(other), "0x%lx", static_cast<unsigned long>(rest));
        out += (out.empty() ? "" : "+") + std::string(other);
    }
    return out.empty() ? "normal" : out;
}

// The main window's client object, or an empty reference (why, on stderr:
// a window that is gone and an object that did not come through differ).
Orvane::ComReference<IAccessible> ClientObject()
{
    const HWND window = FindWindowW(kMainWindowClass, nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "orvane_window_probe: no main window\n");
        return {};
    }
    void* object = nullptr;
    const HRESULT result = AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                                      __uuidof(IAccessible), &object);
    if (FAILED(result) || object == nullptr) {
        std::fprintf(stderr, "orvane_window_probe: AccessibleObjectFromWindow: 0x%08lx\n",
                     static_cast<unsigned long>(result));
        return {};
    }
    return Orvane::ComReference<IAccessible>(static_cast<IAccessible*>(object));
}

int PrintAccessible()
{
    const ComScope com;
    const Orvane::ComReference<IAccessible> client = ClientObject();
    if (!client) {
        return NotFound("accessible object of the main window");
    }
    IAccessible* const object = client.Get();
    long count = 0;
    object->get_accChildCount(&count);
    std::printf("found=1\n");
    {
        OwnedBstr name;
        object->get_accName(AccessibleChild(CHILDID_SELF), &name.text);
        VARIANT role;
        VariantInit(&role);
        object->get_accRole(AccessibleChild(CHILDID_SELF), &role);
        std::printf("name=%s\nrole=%s\n", Escaped(name.Value()).c_str(), RoleName(role).c_str());
    }
    std::printf("children=%ld\n", count);
    for (long id = 1; id <= count; ++id) {
        OwnedBstr name;
        OwnedBstr action;
        VARIANT role;
        VARIANT state;
        VariantInit(&role);
        VariantInit(&state);
        object->get_accName(AccessibleChild(id), &name.text);
        object->get_accRole(AccessibleChild(id), &role);
        object->get_accState(AccessibleChild(id), &state);
        object->get_accDefaultAction(AccessibleChild(id), &action.text);
        long left = 0, top = 0, width = 0, height = 0;
        object->accLocation(&left, &top, &width, &height, AccessibleChild(id));
        std::printf("child.%ld.role=%s\n", id, RoleName(role).c_str());
        std::printf("child.%ld.name=%s\n", id, Escaped(name.Value()).c_str());
        std::printf("child.%ld.state=%s\n", id, StateNames(state).c_str());
        std::printf("child.%ld.action=%s\n", id, Escaped(action.Value()).c_str());
        std::printf("child.%ld.rect=%ld,%ld,%ld,%ld\n", id, left, top, width, height);
    }
    VARIANT focus;
    VariantInit(&focus);
    object->get_accFocus(&focus);
    std::printf("focus=%ld\n", focus.vt == VT_I4 ? focus.lVal : -1L);
    return 0;
}

int DoDefaultAction(long id)
{
    const ComScope com;
    const Orvane::ComReference<IAccessible> client = ClientObject();
    if (!client) {
        return NotFound("accessible object of the main window");
    }
    const HRESULT result = client.Get()->accDoDefaultAction(AccessibleChild(id));
    std::printf("found=1\nresult=0x%08lx\n", static_cast<unsigned long>(result));
    return 0;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: orvane_window_probe wait-window MS | info | minimize MS | close [CLASS] |"
                 " cover | wait-dialog CAPTION MS | accessible | accessible-do CHILD\n");
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
    if (command == L"accessible" && argc == 2) {
        return PrintAccessible();
    }
    if (command == L"accessible-do" && argc == 3) {
        return DoDefaultAction(std::wcstol(argv[2], nullptr, 10));
    }
    return Usage();
}
