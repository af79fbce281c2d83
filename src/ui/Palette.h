#pragma once

#include <windows.h>

namespace Orvane::Palette {

// Every colour the window draws with.
constexpr COLORREF Background = RGB(32, 36, 46);
constexpr COLORREF Panel = RGB(48, 52, 66);
constexpr COLORREF AlternateRow = RGB(44, 48, 62);
constexpr COLORREF HeaderRow = RGB(38, 42, 54);
constexpr COLORREF Border = RGB(60, 64, 80);
constexpr COLORREF PrimaryText = RGB(230, 232, 240);
constexpr COLORREF SecondaryText = RGB(150, 155, 170);
constexpr COLORREF Accent = RGB(66, 133, 244);
constexpr COLORREF AccentHover = RGB(86, 153, 255);
constexpr COLORREF LinkHover = RGB(120, 180, 255);
constexpr COLORREF Success = RGB(52, 199, 89);
constexpr COLORREF SuccessHover = RGB(72, 219, 109);
constexpr COLORREF Pressed = RGB(46, 113, 224);
constexpr COLORREF Warning = RGB(255, 159, 10);
constexpr COLORREF Danger = RGB(255, 69, 58);
constexpr COLORREF Neutral = RGB(90, 95, 110);
constexpr COLORREF Track = RGB(50, 54, 68);
constexpr COLORREF White = RGB(255, 255, 255);
constexpr COLORREF Focus = RGB(255, 255, 255);  // the keyboard focus ring

}  // namespace Orvane::Palette
