#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "flow/DetectionRows.h"
#include "flow/Phase.h"

namespace Orvane {

// The window's fixed outer size, which is also the smallest it can be made.
constexpr int kWindowWidth = 780;
constexpr int kWindowHeight = 600;

// Vertical extent of the progress bar and its text: what a speed report repaints.
constexpr int kProgressBandTop = 406;
constexpr int kProgressBandBottom = 462;

enum class ButtonState : int { Normal = 0, Hover = 1, Pressed = 2 };

// Widths of the results table's five columns and the x of the four separators
// between them, for a client width. The columns always fill the rows exactly.
struct TableColumns {
    int c1 = 0, c2 = 0, c3 = 0, c4 = 0, c5 = 0;
    int x1 = 0, x2 = 0, x3 = 0, x4 = 0;
};
TableColumns ComputeTableColumns(int clientWidth);

// Client rectangles of the two buttons, anchored to the bottom edge.
RECT StartButtonRect(int clientWidth, int clientHeight);
RECT GameButtonRect(int clientWidth, int clientHeight);
// Footer links for captions of the given pixel widths: the first at the left
// edge of the content, the second right-aligned.
RECT FirstLinkRect(int clientHeight, int captionWidth);
RECT SecondLinkRect(int clientWidth, int clientHeight, int captionWidth);

// Fill of a button as drawn: grey when disabled, otherwise by its state.
COLORREF ButtonFillColor(bool enabled, ButtonState state, COLORREF baseColor);
// The base colour of an enabled button of the given tone.
COLORREF ToneColor(ButtonTone tone);

// Text under the progress bar: "42%", then the counter and speed when present.
std::wstring ComposeProgressText(int progress, const std::wstring& counterText,
                                 const std::wstring& speedText);

}  // namespace Orvane
