#include "ui/Layout.h"

#include <algorithm>
#include <cmath>
#include <utility>


namespace Orvane {

namespace {

constexpr int kButtonWidth = 180;
constexpr int kButtonsSpan = 376;  // two buttons and the 16-pixel gap between them

int ContentWidth(int clientWidth, UINT dpi)
{
    return clientWidth - Scaled(32, dpi);
}

int ButtonsLeft(int clientWidth, UINT dpi)
{
    return (clientWidth - Scaled(kButtonsSpan, dpi)) / 2;
}

bool Available(FocusStop stop, bool startEnabled, bool gameEnabled)
{
    switch (stop) {
    case FocusStop::StartButton:
        return startEnabled;
    case FocusStop::GameButton:
        return gameEnabled;
    case FocusStop::FirstLink:
    case FocusStop::SecondLink:
        return true;
    case FocusStop::None:
        break;
    }
    return false;
}

}  // namespace

WindowPlacement PlaceWindow(const RECT& workArea, UINT dpi, SIZE frame)
{
    const int workWidth = workArea.right - workArea.left;
    const int workHeight = workArea.bottom - workArea.top;
    // Where the designed size does not fit, the window takes the work area's
    // length: every part of it stays reachable, and the layout follows the
    // client size.
    const int width = std::min(Scaled(kWindowWidth, dpi), workWidth);
    const int height = std::min(Scaled(kWindowHeight, dpi), workHeight);
    WindowPlacement placement;
    const int left = workArea.left + (workWidth - width) / 2;
    const int top = workArea.top + (workHeight - height) / 2;
    placement.window = RECT{left, top, left + width, top + height};
    placement.minimumTrack.cx = std::min<LONG>(Scaled(kMinimumClientWidth, dpi) + frame.cx, width);
    placement.minimumTrack.cy = std::min<LONG>(Scaled(kMinimumClientHeight, dpi) + frame.cy, height);
    return placement;
}

RECT FitIntoWorkArea(const RECT& window, const RECT& workArea)
{
    const auto fit = [](LONG start, LONG length, LONG areaStart, LONG areaEnd) {
        const LONG fitted = std::min(length, areaEnd - areaStart);
        const LONG placed = std::max(areaStart, std::min(start, areaEnd - fitted));
        return std::pair<LONG, LONG>{placed, placed + fitted};
    };
    const auto [left, right] =
        fit(window.left, window.right - window.left, workArea.left, workArea.right);
    const auto [top, bottom] =
        fit(window.top, window.bottom - window.top, workArea.top, workArea.bottom);
    return RECT{left, top, right, bottom};
}

Band ProgressBand(UINT dpi)
{
    return Band{Scaled(406, dpi), Scaled(462, dpi)};
}

TableColumns ComputeTableColumns(int clientWidth, UINT dpi)
{
    // The columns share the row's inner width in fixed proportions, so they
    // follow the DPI through the width alone.
    const int innerWidth = ContentWidth(clientWidth, dpi) - Scaled(20, dpi);
    const double scale = innerWidth / 728.0;
    TableColumns columns;
    columns.c1 = static_cast<int>(std::floor(80 * scale));
    columns.c2 = static_cast<int>(std::floor(150 * scale));
    columns.c3 = static_cast<int>(std::floor(110 * scale));
    columns.c4 = static_cast<int>(std::floor(36 * scale));
    columns.c5 = innerWidth - columns.c1 - columns.c2 - columns.c3 - columns.c4;
    columns.x1 = Scaled(26, dpi) + columns.c1;
    columns.x2 = columns.x1 + columns.c2;
    columns.x3 = columns.x2 + columns.c3;
    columns.x4 = columns.x3 + columns.c4;
    return columns;
}

RECT TableRowRect(int clientWidth, int row, UINT dpi)
{
    return RECT{Scaled(26, dpi), Scaled(126 + 30 * row, dpi),
                ContentWidth(clientWidth, dpi) + Scaled(6, dpi), Scaled(156 + 30 * row, dpi)};
}

RECT StatusRect(int clientWidth, UINT dpi)
{
    return RECT{Scaled(16, dpi), Scaled(356, dpi), ContentWidth(clientWidth, dpi) + Scaled(16, dpi),
                Scaled(396, dpi)};
}

RECT StartButtonRect(int clientWidth, int clientHeight, UINT dpi)
{
    const int left = ButtonsLeft(clientWidth, dpi);
    return RECT{left, clientHeight - Scaled(78, dpi), left + Scaled(kButtonWidth, dpi),
                clientHeight - Scaled(38, dpi)};
}

RECT GameButtonRect(int clientWidth, int clientHeight, UINT dpi)
{
    const int right = ButtonsLeft(clientWidth, dpi) + Scaled(kButtonsSpan, dpi);
    return RECT{right - Scaled(kButtonWidth, dpi), clientHeight - Scaled(78, dpi), right,
                clientHeight - Scaled(38, dpi)};
}

RECT FirstLinkRect(int clientHeight, int captionWidth, UINT dpi)
{
    const int left = Scaled(16, dpi);
    return RECT{left, clientHeight - Scaled(28, dpi), left + captionWidth, clientHeight - Scaled(8, dpi)};
}

RECT SecondLinkRect(int clientWidth, int clientHeight, int captionWidth, UINT dpi)
{
    const int right = ContentWidth(clientWidth, dpi) + Scaled(16, dpi);
    return RECT{right - captionWidth, clientHeight - Scaled(28, dpi), right,
                clientHeight - Scaled(8, dpi)};
}

FocusStop NextFocusStop(FocusStop current, bool forward, bool startEnabled, bool gameEnabled)
{
    constexpr int kStops = 4;  // StartButton .. SecondLink
    // From nothing, forward starts before the first stop and backward after the last.
    int index = current == FocusStop::None ? (forward ? 0 : kStops + 1) : static_cast<int>(current);
    for (int step = 0; step < kStops; ++step) {
        index += forward ? 1 : -1;
        if (index > kStops) {
            index = 1;
        } else if (index < 1) {
            index = kStops;
        }
        const auto stop = static_cast<FocusStop>(index);
        if (Available(stop, startEnabled, gameEnabled)) {
            return stop;
        }
    }
    return current;
}

FocusStop SettledFocus(FocusStop current, bool startEnabled, bool gameEnabled)
{
    if (current != FocusStop::None && Available(current, startEnabled, gameEnabled)) {
        return current;
    }
    if (startEnabled) {
        return FocusStop::StartButton;
    }
    return gameEnabled ? FocusStop::GameButton : FocusStop::None;
}

ButtonColours ButtonColourRoles(bool enabled, ButtonState state, ButtonTone tone)
{
    if (!enabled) {
        return {ColourRole::DisabledButton, ColourRole::DisabledButtonText};
    }
    const bool success = tone == ButtonTone::Success;
    switch (state) {
    case ButtonState::Hover:
        return {success ? ColourRole::SuccessButtonHover : ColourRole::ButtonHover,
                ColourRole::ButtonHotText};
    case ButtonState::Pressed:
        return {ColourRole::ButtonPressed, ColourRole::ButtonHotText};
    case ButtonState::Normal:
        break;
    }
    return {success ? ColourRole::SuccessButton : ColourRole::Button, ColourRole::ButtonText};
}

std::wstring ComposeProgressText(int progress, const std::wstring& counterText,
                                 const std::wstring& speedText)
{
    std::wstring text = std::to_wstring(progress) + L"%";
    if (!counterText.empty()) {
        text += L"  |  " + counterText;
    }
    if (!speedText.empty()) {
        text += L"  |  " + speedText;
    }
    return text;
}

}  // namespace Orvane
