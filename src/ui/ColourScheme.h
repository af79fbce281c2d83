#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

namespace Orvane {

// What each colour the window draws is for. The palette gives each role its
// colour; in high-contrast mode the system's colours take over.
enum class ColourRole : int {
    Background,
    Panel,
    AlternateRow,
    HeaderRow,
    Border,
    PrimaryText,
    SecondaryText,
    AlertText,      // the status line of a blocked diagnosis, a failed row's advice
    WarningText,    // a warning row's advice
    Link,
    LinkHover,
    Button,         // an enabled button: the accent tone
    SuccessButton,  // an enabled button: the success tone
    ButtonHover,
    SuccessButtonHover,
    ButtonPressed,
    ButtonText,
    ButtonHotText,  // the caption of a hovered or pressed button
    DisabledButton,
    DisabledButtonText,
    Track,          // the progress bar's empty part
    ProgressFill,
    DotNotChecked,
    DotPassed,
    DotWarning,
    DotFailed,
    DotMark,        // the tick inside a passed dot
    DotHotMark,     // the tick or cross inside a warning or failed dot
    Focus,          // the keyboard focus ring
    Count,
};
inline constexpr size_t kColourRoleCount = static_cast<size_t>(ColourRole::Count);

// A role's colour in the program's own palette.
COLORREF PaletteColour(ColourRole role);
// The system colour (a COLOR_* index for GetSysColor) a role takes in
// high-contrast mode.
int SystemColourIndex(ColourRole role);

// The colours one paint uses.
class ColourScheme {
public:
    // The palette's colours.
    ColourScheme();
    // In high-contrast mode the system's colours (`systemColour` answers for a
    // COLOR_* index), and controls get an edge, since their fills may match
    // the background; otherwise the palette.
    static ColourScheme For(bool highContrast, DWORD(WINAPI* systemColour)(int index));

    COLORREF operator[](ColourRole role) const { return colours_[static_cast<size_t>(role)]; }
    bool HighContrast() const { return highContrast_; }
    bool operator==(const ColourScheme& other) const
    {
        return colours_ == other.colours_ && highContrast_ == other.highContrast_;
    }
    bool operator!=(const ColourScheme& other) const { return !(*this == other); }

private:
    std::array<COLORREF, kColourRoleCount> colours_{};
    bool highContrast_ = false;
};

// Whether the user turned high contrast on (SPI_GETHIGHCONTRAST).
bool HighContrastOn();
// The scheme for the system's present settings.
ColourScheme SystemColourScheme();

}  // namespace Orvane
