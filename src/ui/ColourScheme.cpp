#include "ui/ColourScheme.h"

#include <iterator>

#include "ui/Palette.h"

namespace Orvane {

namespace {

struct RoleColours {
    ColourRole role;
    COLORREF palette;
    int system;
};

// Each role in both schemes. In high contrast every ink goes with the fill it
// is drawn on as Windows pairs them: text on the window in the window's text
// colour (grey text, links in the hyperlink colour), button captions on the
// button face, highlighted text on the highlight (hovered and pressed
// buttons), and the window's colour on its text colour. The dots keep apart
// by fill and mark: grey text for not checked, window text for passed, the
// highlight for a warning (tick) or a failure (cross).
constexpr RoleColours kRoles[] = {
    {ColourRole::Background, Palette::Background, COLOR_WINDOW},
    {ColourRole::Panel, Palette::Panel, COLOR_WINDOW},
    {ColourRole::AlternateRow, Palette::AlternateRow, COLOR_WINDOW},
    {ColourRole::HeaderRow, Palette::HeaderRow, COLOR_WINDOW},
    {ColourRole::Border, Palette::Border, COLOR_WINDOWTEXT},
    {ColourRole::PrimaryText, Palette::PrimaryText, COLOR_WINDOWTEXT},
    {ColourRole::SecondaryText, Palette::SecondaryText, COLOR_WINDOWTEXT},
    {ColourRole::AlertText, Palette::Danger, COLOR_WINDOWTEXT},
    {ColourRole::WarningText, Palette::Warning, COLOR_WINDOWTEXT},
    {ColourRole::Link, Palette::AccentHover, COLOR_HOTLIGHT},
    {ColourRole::LinkHover, Palette::LinkHover, COLOR_HOTLIGHT},
    {ColourRole::Button, Palette::Accent, COLOR_BTNFACE},
    {ColourRole::SuccessButton, Palette::Success, COLOR_BTNFACE},
    {ColourRole::ButtonHover, Palette::AccentHover, COLOR_HIGHLIGHT},
    {ColourRole::SuccessButtonHover, Palette::SuccessHover, COLOR_HIGHLIGHT},
    {ColourRole::ButtonPressed, Palette::Pressed, COLOR_HIGHLIGHT},
    {ColourRole::ButtonText, Palette::White, COLOR_BTNTEXT},
    {ColourRole::ButtonHotText, Palette::White, COLOR_HIGHLIGHTTEXT},
    {ColourRole::DisabledButton, Palette::Panel, COLOR_BTNFACE},
    {ColourRole::DisabledButtonText, Palette::Neutral, COLOR_GRAYTEXT},
    {ColourRole::Track, Palette::Track, COLOR_BTNFACE},
    {ColourRole::ProgressFill, Palette::Accent, COLOR_HIGHLIGHT},
    {ColourRole::DotNotChecked, Palette::Neutral, COLOR_GRAYTEXT},
    {ColourRole::DotPassed, Palette::Success, COLOR_WINDOWTEXT},
    {ColourRole::DotWarning, Palette::Warning, COLOR_HIGHLIGHT},
    {ColourRole::DotFailed, Palette::Danger, COLOR_HIGHLIGHT},
    {ColourRole::DotMark, Palette::White, COLOR_WINDOW},
    {ColourRole::DotHotMark, Palette::White, COLOR_HIGHLIGHTTEXT},
    {ColourRole::Focus, Palette::Focus, COLOR_WINDOWTEXT},
};
static_assert(std::size(kRoles) == kColourRoleCount, "every role has its colours");

constexpr bool RolesInOrder()
{
    for (size_t i = 0; i < std::size(kRoles); ++i) {
        if (static_cast<size_t>(kRoles[i].role) != i) {
            return false;
        }
    }
    return true;
}
static_assert(RolesInOrder(), "the table is indexed by role");

}  // namespace

COLORREF PaletteColour(ColourRole role)
{
    return kRoles[static_cast<size_t>(role)].palette;
}

int SystemColourIndex(ColourRole role)
{
    return kRoles[static_cast<size_t>(role)].system;
}

ColourScheme::ColourScheme()
{
    for (size_t i = 0; i < kColourRoleCount; ++i) {
        colours_[i] = kRoles[i].palette;
    }
}

ColourScheme ColourScheme::For(bool highContrast, DWORD(WINAPI* systemColour)(int index))
{
    ColourScheme scheme;
    if (!highContrast || systemColour == nullptr) {
        return scheme;
    }
    scheme.highContrast_ = true;
    for (size_t i = 0; i < kColourRoleCount; ++i) {
        scheme.colours_[i] = systemColour(kRoles[i].system);
    }
    return scheme;
}

bool HighContrastOn()
{
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

ColourScheme SystemColourScheme()
{
    return ColourScheme::For(HighContrastOn(), GetSysColor);
}

}  // namespace Orvane
