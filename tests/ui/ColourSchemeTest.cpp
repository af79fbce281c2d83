#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "ui/ColourScheme.h"
#include "ui/Palette.h"

namespace Orvane {
namespace {

// A system with a colour of its own for every index.
DWORD WINAPI DistinctSystemColour(int index)
{
    return RGB(index * 9, 255 - index * 5, 40 + index * 3);
}

TEST(ColourSchemeTest, EachRoleHasItsPaletteColourAndItsSystemColour)
{
    using R = ColourRole;
    struct Case {
        R role;
        COLORREF palette;
        int system;
    };
    const Case cases[] = {
        {R::Background, Palette::Background, COLOR_WINDOW},
        {R::Panel, Palette::Panel, COLOR_WINDOW},
        {R::AlternateRow, Palette::AlternateRow, COLOR_WINDOW},
        {R::HeaderRow, Palette::HeaderRow, COLOR_WINDOW},
        {R::Border, Palette::Border, COLOR_WINDOWTEXT},
        {R::PrimaryText, Palette::PrimaryText, COLOR_WINDOWTEXT},
        {R::SecondaryText, Palette::SecondaryText, COLOR_WINDOWTEXT},
        {R::AlertText, Palette::Danger, COLOR_WINDOWTEXT},
        {R::WarningText, Palette::Warning, COLOR_WINDOWTEXT},
        {R::Link, Palette::AccentHover, COLOR_HOTLIGHT},
        {R::LinkHover, Palette::LinkHover, COLOR_HOTLIGHT},
        {R::Button, Palette::Accent, COLOR_BTNFACE},
        {R::SuccessButton, Palette::Success, COLOR_BTNFACE},
        {R::ButtonHover, Palette::AccentHover, COLOR_HIGHLIGHT},
        {R::SuccessButtonHover, Palette::SuccessHover, COLOR_HIGHLIGHT},
        {R::ButtonPressed, Palette::Pressed, COLOR_HIGHLIGHT},
        {R::ButtonText, Palette::White, COLOR_BTNTEXT},
        {R::ButtonHotText, Palette::White, COLOR_HIGHLIGHTTEXT},
        {R::DisabledButton, Palette::Panel, COLOR_BTNFACE},
        {R::DisabledButtonText, Palette::Neutral, COLOR_GRAYTEXT},
        {R::Track, Palette::Track, COLOR_BTNFACE},
        {R::ProgressFill, Palette::Accent, COLOR_HIGHLIGHT},
        {R::DotNotChecked, Palette::Neutral, COLOR_GRAYTEXT},
        {R::DotPassed, Palette::Success, COLOR_WINDOWTEXT},
        {R::DotWarning, Palette::Warning, COLOR_HIGHLIGHT},
        {R::DotFailed, Palette::Danger, COLOR_HIGHLIGHT},
        {R::DotMark, Palette::White, COLOR_WINDOW},
        {R::DotHotMark, Palette::White, COLOR_HIGHLIGHTTEXT},
        {R::Focus, Palette::Focus, COLOR_WINDOWTEXT},
    };
    static_assert(std::size(cases) == kColourRoleCount, "every role");
    const ColourScheme palette = ColourScheme::For(false, DistinctSystemColour);
    const ColourScheme system = ColourScheme::For(true, DistinctSystemColour);
    EXPECT_FALSE(palette.HighContrast());
    EXPECT_TRUE(system.HighContrast());
    EXPECT_TRUE(palette == ColourScheme());
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.role));
        EXPECT_EQ(PaletteColour(c.role), c.palette);
        EXPECT_EQ(SystemColourIndex(c.role), c.system);
        // Off, the palette as it always was; on, the system's colour and no other.
        EXPECT_EQ(palette[c.role], c.palette);
        EXPECT_EQ(system[c.role], DistinctSystemColour(c.system));
    }
}

// Every ink the window draws on a fill, in high contrast, is one of the pairs
// Windows' high-contrast themes make readable.
TEST(ColourSchemeTest, InHighContrastEveryInkGoesWithItsFillAsWindowsPairsThem)
{
    using R = ColourRole;
    const std::pair<int, int> readable[] = {
        {COLOR_WINDOW, COLOR_WINDOWTEXT}, {COLOR_WINDOW, COLOR_HOTLIGHT},
        {COLOR_WINDOW, COLOR_GRAYTEXT},   {COLOR_BTNFACE, COLOR_BTNTEXT},
        {COLOR_BTNFACE, COLOR_GRAYTEXT},  {COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT},
        {COLOR_WINDOWTEXT, COLOR_WINDOW},
    };
    // (fill, ink) as painted.
    const std::pair<R, R> drawn[] = {
        {R::Background, R::PrimaryText},    {R::Background, R::SecondaryText},
        {R::Background, R::Link},           {R::Background, R::LinkHover},
        {R::Background, R::Focus},          {R::Panel, R::PrimaryText},
        {R::Panel, R::SecondaryText},       {R::Panel, R::AlertText},
        {R::Panel, R::WarningText},         {R::Panel, R::Border},
        {R::AlternateRow, R::SecondaryText}, {R::HeaderRow, R::SecondaryText},
        {R::Button, R::ButtonText},         {R::SuccessButton, R::ButtonText},
        {R::ButtonHover, R::ButtonHotText}, {R::SuccessButtonHover, R::ButtonHotText},
        {R::ButtonPressed, R::ButtonHotText}, {R::DisabledButton, R::DisabledButtonText},
        {R::DotPassed, R::DotMark},         {R::DotWarning, R::DotHotMark},
        {R::DotFailed, R::DotHotMark},
    };
    for (const auto& [fill, ink] : drawn) {
        const std::pair<int, int> pair{SystemColourIndex(fill), SystemColourIndex(ink)};
        EXPECT_NE(std::find(std::begin(readable), std::end(readable), pair), std::end(readable))
            << "fill role " << static_cast<int>(fill) << " (COLOR " << pair.first << "), ink role "
            << static_cast<int>(ink) << " (COLOR " << pair.second << ")";
    }
}

}  // namespace
}  // namespace Orvane
