#include <gtest/gtest.h>

#include "flow/Progress.h"
#include "ui/Layout.h"
#include "ui/Palette.h"

namespace Orvane {
namespace {

struct ColumnCase {
    int clientWidth;
    int c1, c2, c3, c4, c5;
};

TEST(TableColumnsTest, ScaleWithTheClientWidthAndFillTheRowsExactly)
{
    const ColumnCase cases[] = {
        {780, 80, 150, 110, 36, 352},   // content width 748: the unscaled design
        {764, 78, 146, 107, 35, 346},   // default window on a system with frames
        {777, 79, 149, 109, 35, 353},   // odd width
        {1000, 104, 195, 143, 46, 460},
        {1280, 134, 253, 185, 60, 596},  // enlarged window
    };
    for (const ColumnCase& c : cases) {
        SCOPED_TRACE(c.clientWidth);
        const TableColumns columns = ComputeTableColumns(c.clientWidth);
        EXPECT_EQ(columns.c1, c.c1);
        EXPECT_EQ(columns.c2, c.c2);
        EXPECT_EQ(columns.c3, c.c3);
        EXPECT_EQ(columns.c4, c.c4);
        EXPECT_EQ(columns.c5, c.c5);
        EXPECT_EQ(columns.x1, 26 + c.c1);
        EXPECT_EQ(columns.x4, 26 + c.c1 + c.c2 + c.c3 + c.c4);
    }
}

TEST(TableColumnsTest, LastColumnAlwaysEndsAtTheRowEdge)
{
    for (int width = 700; width <= 3000; ++width) {
        const TableColumns columns = ComputeTableColumns(width);
        const int innerWidth = width - 32 - 20;
        ASSERT_EQ(columns.c1 + columns.c2 + columns.c3 + columns.c4 + columns.c5, innerWidth)
            << width;
        ASSERT_EQ(columns.x4 + columns.c5, width - 32 + 6) << width;
    }
}

TEST(ButtonRectTest, ButtonsAreCentredAndFollowTheBottomEdge)
{
    struct Case {
        int width, height;
        RECT start, game;
    };
    const Case cases[] = {
        {764, 561, {194, 483, 374, 523}, {390, 483, 570, 523}},
        {765, 561, {194, 483, 374, 523}, {390, 483, 570, 523}},  // (765 - 376) / 2 truncates
        {1280, 900, {452, 822, 632, 862}, {648, 822, 828, 862}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        const RECT start = StartButtonRect(c.width, c.height);
        const RECT game = GameButtonRect(c.width, c.height);
        EXPECT_TRUE(EqualRect(&start, &c.start));
        EXPECT_TRUE(EqualRect(&game, &c.game));
    }
}

TEST(LinkRectTest, FirstLinkLeftAlignedSecondRightAligned)
{
    const RECT first = FirstLinkRect(561, 90);
    const RECT second = SecondLinkRect(764, 561, 120);
    const RECT expectedFirst{16, 533, 106, 553};
    const RECT expectedSecond{628, 533, 748, 553};
    EXPECT_TRUE(EqualRect(&first, &expectedFirst));
    EXPECT_TRUE(EqualRect(&second, &expectedSecond));
}

TEST(ButtonLookTest, FillDependsOnEnabledStateAndBaseColour)
{
    using namespace Palette;
    struct Case {
        bool enabled;
        ButtonState state;
        COLORREF base;
        COLORREF fill;
    };
    const Case cases[] = {
        {false, ButtonState::Hover, Accent, Panel},
        {false, ButtonState::Pressed, Success, Panel},
        {true, ButtonState::Normal, Accent, Accent},
        {true, ButtonState::Normal, Success, Success},
        {true, ButtonState::Hover, Accent, AccentHover},
        {true, ButtonState::Hover, Success, SuccessHover},
        {true, ButtonState::Pressed, Success, Pressed},
        {true, ButtonState::Pressed, Accent, Pressed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ButtonFillColor(c.enabled, c.state, c.base), c.fill)
            << c.enabled << " " << static_cast<int>(c.state);
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
