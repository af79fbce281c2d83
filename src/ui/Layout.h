#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "flow/DetectionRows.h"
#include "flow/Phase.h"
#include "ui/ColourScheme.h"

namespace Orvane {

// Every length below is in pixels at the design's 96 DPI (100 % scaling) and
// is scaled to the window's DPI where it is used.
constexpr UINT kDesignDpi = 96;

// A design length at the given DPI, rounded to the nearest pixel as MulDiv
// rounds (half away from zero).
constexpr int Scaled(int designPixels, UINT dpi)
{
    const long long twice = 2LL * designPixels * static_cast<long long>(dpi);
    const long long rounded = twice >= 0 ? (twice + kDesignDpi) / (2 * kDesignDpi)
                                         : -((-twice + kDesignDpi) / (2 * kDesignDpi));
    return static_cast<int>(rounded);
}

// Scaled() bound to one DPI, so drawing code reads s(16).
struct Ruler {
    UINT dpi = kDesignDpi;
    constexpr int operator()(int designPixels) const { return Scaled(designPixels, dpi); }
};

// The window's designed outer size.
constexpr int kWindowWidth = 780;
constexpr int kWindowHeight = 600;
// The smallest client area at which the table, status line, progress bar and
// buttons still show in full: the buttons, which follow the bottom edge, stay
// clear of the progress text.
constexpr int kMinimumClientWidth = 720;
constexpr int kMinimumClientHeight = 541;

// Where the window opens and how small it may be dragged, in screen pixels.
struct WindowPlacement {
    RECT window{};
    SIZE minimumTrack{};
};
// The designed size at `dpi`, centred in the monitor's work area (the screen
// less the taskbar); a length that does not fit shrinks to the work area's.
// The minimum track size is the minimum client area plus `frame` (the outer
// size less the client size), never more than the window.
WindowPlacement PlaceWindow(const RECT& workArea, UINT dpi, SIZE frame);
// A window rectangle made to fit the work area: lengths larger than the work
// area's shrink to it, and the window moves no further than it must to lie
// inside (a window moved to a monitor of another scale keeps its place).
RECT FitIntoWorkArea(const RECT& window, const RECT& workArea);

// Vertical extent of the progress bar and its text: what a speed report repaints.
struct Band {
    int top = 0;
    int bottom = 0;
};
Band ProgressBand(UINT dpi);

enum class ButtonState : int { Normal = 0, Hover = 1, Pressed = 2 };

// Widths of the results table's five columns and the x of the four separators
// between them, for a client width. The columns always fill the rows exactly.
struct TableColumns {
    int c1 = 0, c2 = 0, c3 = 0, c4 = 0, c5 = 0;
    int x1 = 0, x2 = 0, x3 = 0, x4 = 0;
};
TableColumns ComputeTableColumns(int clientWidth, UINT dpi);

// One row of the results table (0 is the first below the header band), and
// the status line's panel.
RECT TableRowRect(int clientWidth, int row, UINT dpi);
RECT StatusRect(int clientWidth, UINT dpi);

// Client rectangles of the two buttons, anchored to the bottom edge.
RECT StartButtonRect(int clientWidth, int clientHeight, UINT dpi);
RECT GameButtonRect(int clientWidth, int clientHeight, UINT dpi);
// Footer links for captions of the given pixel widths: the first at the left
// edge of the content, the second right-aligned.
RECT FirstLinkRect(int clientHeight, int captionWidth, UINT dpi);
RECT SecondLinkRect(int clientWidth, int clientHeight, int captionWidth, UINT dpi);

// What the keyboard can focus, in reading order (None: nothing, no mark).
enum class FocusStop : int { None = 0, StartButton = 1, GameButton = 2, FirstLink = 3, SecondLink = 4 };
// Where Tab (forward) or Shift+Tab moves the focus: the next stop in reading
// order that is not a disabled button, wrapping around.
FocusStop NextFocusStop(FocusStop current, bool forward, bool startEnabled, bool gameEnabled);
// The focus after the buttons' states changed: a disabled button hands it to
// the first enabled button or, with none, to nothing (a link never takes it by
// itself, so Enter cannot open a page unasked); with nothing focused an
// enabled button takes it back. A link or an enabled button keeps it.
FocusStop SettledFocus(FocusStop current, bool startEnabled, bool gameEnabled);

// What a button is drawn with: greyed when disabled, otherwise by its tone
// and the mouse's state.
struct ButtonColours {
    ColourRole fill;
    ColourRole text;
};
ButtonColours ButtonColourRoles(bool enabled, ButtonState state, ButtonTone tone);

// Text under the progress bar: "42%", then the counter and speed when present.
std::wstring ComposeProgressText(int progress, const std::wstring& counterText,
                                 const std::wstring& speedText);

}  // namespace Orvane
