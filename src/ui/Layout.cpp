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

// One decimal, truncated rather than rounded: 2047 B/s reads 1.9 KB/s.
std::wstring OneDecimal(double value, const wchar_t* unit)
{
    const double whole = std::floor(value);
    const int tenth = static_cast<int>(std::floor((value - whole) * 10.0));
    return std::to_wstring(static_cast<long long>(whole)) + L"." + std::to_wstring(tenth) + unit;
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

ButtonLook StartButtonLook(const ActivityFlags& flags)
{
    if (flags.detecting) {
        return {L"检测中...", false, Palette::Panel};
    }
    return {flags.hasDetected ? L"重新检测" : L"开始检测", true, Palette::Accent};
}

ButtonLook GameButtonLook(const ActivityFlags& flags)
{
    if (flags.detecting) {
        return {L"开始游戏", false, Palette::Panel};
    }
    if (flags.updating) {
        return {L"更新中...", false, Palette::Panel};
    }
    if (flags.checking) {
        return {L"检查中...", false, Palette::Panel};
    }
    if (!flags.hasDetected) {
        return {L"开始游戏", false, Palette::Panel};
    }
    if (flags.checkFailed) {
        return {L"重新检查", true, Palette::Accent};
    }
    if (flags.updateAvailable) {
        return {L"更新游戏", true, Palette::Success};
    }
    return {L"开始游戏", true, Palette::Accent};
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

std::wstring FileCounterText(unsigned fileIndex, unsigned fileCount)
{
    return L"下载进度: " + std::to_wstring(fileIndex) + L"/" + std::to_wstring(fileCount);
}

std::wstring SpeedText(uint32_t bytesPerSecond)
{
    const double value = bytesPerSecond;
    if (value >= 1048576.0) {
        return OneDecimal(value / 1048576.0, L" MB/s");
    }
    if (value >= 1024.0) {
        return OneDecimal(value / 1024.0, L" KB/s");
    }
    if (bytesPerSecond > 0) {
        return std::to_wstring(bytesPerSecond) + L" B/s";
    }
    return std::wstring();
}

int64_t ProgressPercent(int64_t downloaded, int64_t total)
{
    return total > 0 ? downloaded * 100 / total : 0;
}

}  // namespace Orvane
