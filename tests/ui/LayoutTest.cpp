#include <gtest/gtest.h>

#include <iterator>

#include "flow/Progress.h"
#include "ui/Layout.h"
#include "ui/Palette.h"

namespace Orvane {
namespace {

constexpr UINT kDpis[] = {96, 120, 144, 192};

TEST(ScaledTest, DesignLengthsAtEachDpiRoundToTheNearestPixel)
{
    struct Case {
        int design;
        int at[4];  // at 96, 120, 144, 192 DPI
    };
    const Case cases[] = {
        {780, {780, 975, 1170, 1560}},  // the window
        {600, {600, 750, 900, 1200}},
        {16, {16, 20, 24, 32}},
        {78, {78, 98, 117, 156}},       // 97.5: a half rounds up
        {9, {9, 11, 14, 18}},           // the status dot's radius
        {1, {1, 1, 2, 2}},              // a line: 1.5 rounds to 2
        {0, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        for (size_t i = 0; i < std::size(kDpis); ++i) {
            EXPECT_EQ(Scaled(c.design, kDpis[i]), c.at[i]) << c.design << " at " << kDpis[i];
            EXPECT_EQ(Scaled(c.design, kDpis[i]), MulDiv(c.design, static_cast<int>(kDpis[i]), 96));
        }
    }
}

struct ColumnCase {
    int clientWidth;
    UINT dpi;
    int c1, c2, c3, c4, c5;
};

TEST(TableColumnsTest, ScaleWithTheClientWidthAndFillTheRowsExactly)
{
    const ColumnCase cases[] = {
        {780, 96, 80, 150, 110, 36, 352},   // content width 748: the unscaled design
        {764, 96, 78, 146, 107, 35, 346},   // default window on a system with frames
        {777, 96, 79, 149, 109, 35, 353},   // odd width
        {1000, 96, 104, 195, 143, 46, 460},
        {1280, 96, 134, 253, 185, 60, 596},  // enlarged window
        // The design width at each scale: the design's columns, scaled.
        {975, 120, 100, 187, 137, 45, 441},  // 1.25 times, with the halves left to the last
        {1170, 144, 120, 225, 165, 54, 528},
        {1560, 192, 160, 300, 220, 72, 704},
    };
    for (const ColumnCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.clientWidth << " at " << c.dpi);
        const TableColumns columns = ComputeTableColumns(c.clientWidth, c.dpi);
        EXPECT_EQ(columns.c1, c.c1);
        EXPECT_EQ(columns.c2, c.c2);
        EXPECT_EQ(columns.c3, c.c3);
        EXPECT_EQ(columns.c4, c.c4);
        EXPECT_EQ(columns.c5, c.c5);
        EXPECT_EQ(columns.x1, Scaled(26, c.dpi) + c.c1);
        EXPECT_EQ(columns.x4, Scaled(26, c.dpi) + c.c1 + c.c2 + c.c3 + c.c4);
    }
}

TEST(TableColumnsTest, LastColumnAlwaysEndsAtTheRowEdge)
{
    for (UINT dpi : kDpis) {
        for (int width = Scaled(700, dpi); width <= Scaled(3000, dpi); ++width) {
            const TableColumns columns = ComputeTableColumns(width, dpi);
            const RECT row = TableRowRect(width, 0, dpi);
            ASSERT_EQ(columns.c1 + columns.c2 + columns.c3 + columns.c4 + columns.c5,
                      row.right - row.left)
                << width << " at " << dpi;
            ASSERT_EQ(columns.x4 + columns.c5, row.right) << width << " at " << dpi;
        }
    }
}

TEST(RowRectTest, RowsFollowEachOtherWithoutGapsInsideTheTablePanel)
{
    for (UINT dpi : kDpis) {
        SCOPED_TRACE(dpi);
        const int width = Scaled(772, dpi);
        EXPECT_EQ(TableRowRect(width, 0, dpi).top, Scaled(126, dpi));  // below the header band
        for (int row = 1; row < static_cast<int>(kRowCount); ++row) {
            EXPECT_EQ(TableRowRect(width, row, dpi).top, TableRowRect(width, row - 1, dpi).bottom);
        }
        const RECT last = TableRowRect(width, static_cast<int>(kRowCount) - 1, dpi);
        const RECT status = StatusRect(width, dpi);
        EXPECT_LT(last.bottom, Scaled(88 + 258, dpi));  // the table panel's bottom edge
        EXPECT_LT(Scaled(88 + 258, dpi), status.top);
        EXPECT_LT(status.bottom, ProgressBand(dpi).top);
    }
}

TEST(ButtonRectTest, ButtonsAreCentredAndFollowTheBottomEdge)
{
    struct Case {
        int width, height;
        UINT dpi;
        RECT start, game;
    };
    const Case cases[] = {
        {764, 561, 96, {194, 483, 374, 523}, {390, 483, 570, 523}},
        {765, 561, 96, {194, 483, 374, 523}, {390, 483, 570, 523}},  // (765 - 376) / 2 truncates
        {1280, 900, 96, {452, 822, 632, 862}, {648, 822, 828, 862}},
        // Span 470, buttons 225, 98 and 48 from the bottom.
        {967, 721, 120, {248, 623, 473, 673}, {493, 623, 718, 673}},
        {1528, 1144, 192, {388, 988, 748, 1068}, {780, 988, 1140, 1068}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " at " << c.dpi);
        const RECT start = StartButtonRect(c.width, c.height, c.dpi);
        const RECT game = GameButtonRect(c.width, c.height, c.dpi);
        EXPECT_TRUE(EqualRect(&start, &c.start));
        EXPECT_TRUE(EqualRect(&game, &c.game));
    }
}

TEST(ButtonRectTest, StayClearOfTheProgressBandAtEveryScale)
{
    // The smallest client area the window can be given, at each scale.
    for (UINT dpi = 96; dpi <= 288; dpi += 24) {
        const int height = Scaled(kMinimumClientHeight, dpi);
        const int width = Scaled(kMinimumClientWidth, dpi);
        const RECT start = StartButtonRect(width, height, dpi);
        const RECT game = GameButtonRect(width, height, dpi);
        const RECT link = FirstLinkRect(height, 50, dpi);
        const RECT second = SecondLinkRect(width, height, 50, dpi);
        EXPECT_GE(start.top, ProgressBand(dpi).bottom) << dpi;
        EXPECT_GT(link.top, start.bottom) << dpi;
        // Side by side, inside the client area, clear of the links.
        EXPECT_GE(start.left, FirstLinkRect(height, 50, dpi).left) << dpi;
        EXPECT_LT(start.right, game.left) << dpi;
        EXPECT_LE(game.right, second.right) << dpi;
        EXPECT_GT(ComputeTableColumns(width, dpi).c5, 0) << dpi;
    }
}

// Screens as players have them: the work area is the screen less the taskbar;
// frames are Windows 10's caption and borders at each scale.
TEST(PlaceWindowTest, TheDesignedSizeCentredInTheWorkAreaOrShrunkToIt)
{
    struct Case {
        const char* name;
        RECT work;
        UINT dpi;
        SIZE frame;
        RECT window;
        SIZE minimumTrack;
    };
    const Case cases[] = {
        {"1366x768 at 125 %, 40-pixel taskbar below", {0, 0, 1366, 728}, 120, {20, 51},
         {195, 0, 1170, 728}, {920, 727}},
        {"1024x768 at 100 %, 40-pixel taskbar below", {0, 0, 1024, 728}, 96, {16, 39},
         {122, 64, 902, 664}, {736, 580}},
        {"1920x1080 at 100 %", {0, 0, 1920, 1040}, 96, {16, 39}, {570, 220, 1350, 820}, {736, 580}},
        {"1366x768 at 125 %, taskbar above", {0, 40, 1366, 768}, 120, {20, 51},
         {195, 40, 1170, 768}, {920, 727}},
        {"a monitor left of the primary, taskbar at its left", {-1218, 0, 0, 1024}, 96, {16, 39},
         {-999, 212, -219, 812}, {736, 580}},
        // Not even the minimum fits: the window keeps to the work area.
        {"1366x768 at 150 %", {0, 0, 1366, 728}, 144, {24, 60}, {98, 0, 1268, 728}, {1104, 728}},
        {"1024x768 at 150 %", {0, 0, 1024, 728}, 144, {24, 60}, {0, 0, 1024, 728}, {1024, 728}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WindowPlacement placement = PlaceWindow(c.work, c.dpi, c.frame);
        EXPECT_TRUE(EqualRect(&placement.window, &c.window))
            << placement.window.left << "," << placement.window.top << "," << placement.window.right
            << "," << placement.window.bottom;
        EXPECT_EQ(placement.minimumTrack.cx, c.minimumTrack.cx);
        EXPECT_EQ(placement.minimumTrack.cy, c.minimumTrack.cy);
        RECT inside{};
        IntersectRect(&inside, &placement.window, &c.work);
        EXPECT_TRUE(EqualRect(&inside, &placement.window)) << "the window leaves the work area";
    }
}

TEST(PlaceWindowTest, AWindowMovedToAnotherScaleShrinksAndMovesOnlyAsFarAsItMust)
{
    struct Case {
        const char* name;
        RECT window;
        RECT work;
        RECT fitted;
    };
    const Case cases[] = {
        {"fits", {40, 30, 1210, 930}, {0, 0, 1920, 1040}, {40, 30, 1210, 930}},
        {"too tall", {40, 30, 1210, 930}, {0, 0, 1366, 728}, {40, 0, 1210, 728}},
        {"past the right edge", {1000, 100, 1975, 850}, {0, 0, 1366, 728}, {391, 0, 1366, 728}},
        {"left of the work area", {-50, 10, 730, 610}, {0, 0, 1024, 728}, {0, 10, 780, 610}},
        {"on a monitor at negative coordinates", {-1400, -90, -400, 700}, {-1280, -200, 0, 824},
         {-1280, -90, -280, 700}},
        {"wider and taller than the work area", {10, 10, 1570, 1210}, {0, 0, 1366, 728},
         {0, 0, 1366, 728}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RECT fitted = FitIntoWorkArea(c.window, c.work);
        EXPECT_TRUE(EqualRect(&fitted, &c.fitted))
            << fitted.left << "," << fitted.top << "," << fitted.right << "," << fitted.bottom;
    }
}

TEST(LinkRectTest, FirstLinkLeftAlignedSecondRightAligned)
{
    struct Case {
        int width, height;
        UINT dpi;
        RECT first, second;  // for captions 90 and 120 pixels wide
    };
    const Case cases[] = {
        {764, 561, 96, {16, 533, 106, 553}, {628, 533, 748, 553}},
        {1168, 860, 144, {24, 818, 114, 848}, {1024, 818, 1144, 848}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpi);
        const RECT first = FirstLinkRect(c.height, 90, c.dpi);
        const RECT second = SecondLinkRect(c.width, c.height, 120, c.dpi);
        EXPECT_TRUE(EqualRect(&first, &c.first));
        EXPECT_TRUE(EqualRect(&second, &c.second));
    }
}

TEST(FocusTest, TabAndShiftTabVisitTheEnabledButtonsAndTheLinksInReadingOrder)
{
    using F = FocusStop;
    struct Case {
        F from;
        bool startEnabled, gameEnabled;
        F forward, backward;
    };
    const Case cases[] = {
        {F::StartButton, true, true, F::GameButton, F::SecondLink},
        {F::GameButton, true, true, F::FirstLink, F::StartButton},
        {F::FirstLink, true, true, F::SecondLink, F::GameButton},
        {F::SecondLink, true, true, F::StartButton, F::FirstLink},
        // A disabled button is passed over.
        {F::StartButton, true, false, F::FirstLink, F::SecondLink},
        {F::SecondLink, false, true, F::GameButton, F::FirstLink},
        {F::FirstLink, false, true, F::SecondLink, F::GameButton},
        {F::FirstLink, false, false, F::SecondLink, F::SecondLink},
        // From nothing: the first stop forward, the last backward.
        {F::None, false, false, F::FirstLink, F::SecondLink},
        {F::None, true, false, F::StartButton, F::SecondLink},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.from) << " " << c.startEnabled << " "
                                        << c.gameEnabled);
        EXPECT_EQ(NextFocusStop(c.from, true, c.startEnabled, c.gameEnabled), c.forward);
        EXPECT_EQ(NextFocusStop(c.from, false, c.startEnabled, c.gameEnabled), c.backward);
    }
}

TEST(FocusTest, ADisabledButtonNeverKeepsTheFocus)
{
    using F = FocusStop;
    struct Case {
        F from;
        bool startEnabled, gameEnabled;
        F settled;
    };
    const Case cases[] = {
        {F::None, true, false, F::StartButton},       // the window opens: the primary action
        {F::None, false, true, F::GameButton},        // opened during a run: what is offered
        {F::StartButton, false, false, F::None},      // a run starts: no mark at all
        {F::StartButton, false, true, F::GameButton},
        {F::GameButton, true, false, F::StartButton},
        {F::None, false, false, F::None},
        {F::GameButton, true, true, F::GameButton},   // an enabled button keeps it
        {F::FirstLink, false, false, F::FirstLink},   // so does a link
        {F::SecondLink, true, true, F::SecondLink},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SettledFocus(c.from, c.startEnabled, c.gameEnabled), c.settled)
            << static_cast<int>(c.from) << " " << c.startEnabled << " " << c.gameEnabled;
    }
}

TEST(ButtonLookTest, ColoursDependOnEnabledStateAndTone)
{
    using R = ColourRole;
    struct Case {
        bool enabled;
        ButtonState state;
        ButtonTone tone;
        R fill, text;
        COLORREF paletteFill;  // as the palette draws it
    };
    const Case cases[] = {
        {false, ButtonState::Hover, ButtonTone::Accent, R::DisabledButton, R::DisabledButtonText,
         Palette::Panel},
        {false, ButtonState::Pressed, ButtonTone::Success, R::DisabledButton, R::DisabledButtonText,
         Palette::Panel},
        {true, ButtonState::Normal, ButtonTone::Accent, R::Button, R::ButtonText, Palette::Accent},
        {true, ButtonState::Normal, ButtonTone::Success, R::SuccessButton, R::ButtonText,
         Palette::Success},
        {true, ButtonState::Hover, ButtonTone::Accent, R::ButtonHover, R::ButtonHotText,
         Palette::AccentHover},
        {true, ButtonState::Hover, ButtonTone::Success, R::SuccessButtonHover, R::ButtonHotText,
         Palette::SuccessHover},
        {true, ButtonState::Pressed, ButtonTone::Success, R::ButtonPressed, R::ButtonHotText,
         Palette::Pressed},
        {true, ButtonState::Pressed, ButtonTone::Accent, R::ButtonPressed, R::ButtonHotText,
         Palette::Pressed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.enabled << " " << static_cast<int>(c.state) << " "
                                        << static_cast<int>(c.tone));
        const ButtonColours colours = ButtonColourRoles(c.enabled, c.state, c.tone);
        EXPECT_EQ(colours.fill, c.fill);
        EXPECT_EQ(colours.text, c.text);
        EXPECT_EQ(PaletteColour(colours.fill), c.paletteFill);
    }
}

TEST(ProgressTextTest, JoinsTheParts)
{
    EXPECT_EQ(ComposeProgressText(0, L"", L""), L"0%");
    EXPECT_EQ(ComposeProgressText(100, L"", L""), L"100%");
    EXPECT_EQ(ComposeProgressText(42, L"", L"1.5 MB/s"), L"42%  |  1.5 MB/s");
    EXPECT_EQ(ComposeProgressText(42, L"下载进度: 3/12", L""), L"42%  |  下载进度: 3/12");
    EXPECT_EQ(ComposeProgressText(7, L"下载进度: 1/2", L"512 B/s"),
              L"7%  |  下载进度: 1/2  |  512 B/s");
}

}  // namespace
}  // namespace Orvane
