#include "ui/Layout.h"

#include <cmath>

#include "ui/Palette.h"

namespace Orvane {

namespace {

constexpr int kButtonWidth = 180;
constexpr int kButtonsSpan = 376;  // two buttons and the 16-pixel gap between them

int ContentWidth(int clientWidth)
{
    return clientWidth - 32;
}

int ButtonsLeft(int clientWidth)
{
    return (clientWidth - kButtonsSpan) / 2;
}

}  // namespace

TableColumns ComputeTableColumns(int clientWidth)
{
    const int innerWidth = ContentWidth(clientWidth) - 20;
    const double scale = innerWidth / 728.0;
    TableColumns columns;
    columns.c1 = static_cast<int>(std::floor(80 * scale));
    columns.c2 = static_cast<int>(std::floor(150 * scale));
    columns.c3 = static_cast<int>(std::floor(110 * scale));
    columns.c4 = static_cast<int>(std::floor(36 * scale));
    columns.c5 = innerWidth - columns.c1 - columns.c2 - columns.c3 - columns.c4;
    columns.x1 = 26 + columns.c1;
    columns.x2 = columns.x1 + columns.c2;
    columns.x3 = columns.x2 + columns.c3;
    columns.x4 = columns.x3 + columns.c4;
    return columns;
}

RECT StartButtonRect(int clientWidth, int clientHeight)
{
    const int left = ButtonsLeft(clientWidth);
    return RECT{left, clientHeight - 78, left + kButtonWidth, clientHeight - 38};
}

RECT GameButtonRect(int clientWidth, int clientHeight)
{
    const int left = ButtonsLeft(clientWidth);
    return RECT{left + kButtonsSpan - kButtonWidth, clientHeight - 78, left + kButtonsSpan,
                clientHeight - 38};
}

RECT FirstLinkRect(int clientHeight, int captionWidth)
{
    return RECT{16, clientHeight - 28, 16 + captionWidth, clientHeight - 8};
}

RECT SecondLinkRect(int clientWidth, int clientHeight, int captionWidth)
{
    const int right = ContentWidth(clientWidth) + 16;
    return RECT{right - captionWidth, clientHeight - 28, right, clientHeight - 8};
}

COLORREF ToneColor(ButtonTone tone)
{
    return tone == ButtonTone::Success ? Palette::Success : Palette::Accent;
}

COLORREF ButtonFillColor(bool enabled, ButtonState state, COLORREF baseColor)
{
    if (!enabled) {
        return Palette::Panel;
    }
    switch (state) {
    case ButtonState::Hover:
        return baseColor == Palette::Success ? Palette::SuccessHover : Palette::AccentHover;
    case ButtonState::Pressed:
        return Palette::Pressed;
    case ButtonState::Normal:
        break;
    }
    return baseColor;
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
