#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "flow/Flow.h"
#include "ui/ColourScheme.h"
#include "ui/GdiHandles.h"
#include "ui/Layout.h"

namespace Orvane {

// The window's caption and the title drawn in it.
inline constexpr wchar_t kWindowTitle[] = L"Kaimor游戏下载/诊断器";

// The six fonts the window draws with.
struct Fonts {
    FontHandle title;
    FontHandle text;
    FontHandle small;
    FontHandle button;
    FontHandle description;
    FontHandle header;

    // Fonts of the design's sizes at the given DPI, in the face FontFace picks.
    void Create(UINT dpi);
};

// The face the window draws with: "Microsoft YaHei UI" (Windows 8 and later),
// else "Microsoft YaHei" (Windows 7), else the system's message font. GDI
// would otherwise replace a missing face by one of the default character set,
// which need not have Chinese glyphs.
std::wstring ChooseFontFace(bool hasYaHeiUi, bool hasYaHei, const std::wstring& messageFace);
// Whether GDI knows a font family of this name (substitutes included).
bool FontFamilyInstalled(const wchar_t* face);
// ChooseFontFace for this system.
std::wstring FontFace();

// A button as drawn: where, what it offers, and the mouse's effect on it.
struct ButtonFace {
    RECT rect{};
    ButtonLook look;
    ButtonState state = ButtonState::Normal;
};

struct FooterLink {
    RECT rect{};
    std::wstring url;
    std::wstring caption;
    bool hovered = false;
};

// Everything one paint shows.
struct Frame {
    const Screen& screen;
    bool statusAlert;   // the status line in red
    bool showProgress;  // the progress bar and its text
    const ButtonFace& start;
    const ButtonFace& game;
    const std::array<FooterLink, 2>& links;
    UINT dpi;        // what every length is scaled to
    FocusStop focus; // where the focus mark is drawn; None hides it
    const ColourScheme& colours;
};

// Draws the whole client area into the given context.
void PaintFrame(HDC dc, const RECT& client, const Fonts& fonts, const Frame& frame);

// Width in pixels of a text in a font.
int TextWidth(HDC dc, HFONT font, const std::wstring& text);

}  // namespace Orvane
