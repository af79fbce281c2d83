#include <gtest/gtest.h>

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

struct LookCase {
    const char* name;
    ActivityFlags flags;
    const wchar_t* startText;
    bool startEnabled;
    const wchar_t* gameText;
    bool gameEnabled;
    COLORREF gameColor;
};

ActivityFlags Flags(bool hasDetected, bool updateAvailable, bool updating, bool checking,
                    bool checkFailed, bool detecting)
{
    ActivityFlags flags;
    flags.hasDetected = hasDetected;
    flags.updateAvailable = updateAvailable;
    flags.updating = updating;
    flags.checking = checking;
    flags.checkFailed = checkFailed;
    flags.detecting = detecting;
    return flags;
}

TEST(ButtonLookTest, CaptionsFollowTheFirstMatchingRule)
{
    using namespace Palette;
    // hasDetected, updateAvailable, updating, checking, checkFailed, detecting
    const LookCase cases[] = {
        {"welcome", Flags(false, false, false, false, false, false), L"开始检测", true,
         L"开始游戏", false, Panel},
        {"detecting beats everything", Flags(true, true, true, true, true, true), L"检测中...",
         false, L"开始游戏", false, Panel},
        {"updating beats checking", Flags(true, true, true, true, true, false), L"重新检测", true,
         L"更新中...", false, Panel},
        {"checking beats a failure", Flags(true, false, false, true, true, false), L"重新检测",
         true, L"检查中...", false, Panel},
        {"nothing detected yet", Flags(false, true, false, false, true, false), L"开始检测", true,
         L"开始游戏", false, Panel},
        {"failure beats updates", Flags(true, true, false, false, true, false), L"重新检测", true,
         L"重新检查", true, Accent},
        {"updates available", Flags(true, true, false, false, false, false), L"重新检测", true,
         L"更新游戏", true, Success},
        {"ready", Flags(true, false, false, false, false, false), L"重新检测", true, L"开始游戏",
         true, Accent},
    };
    for (const LookCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ButtonLook start = StartButtonLook(c.flags);
        const ButtonLook game = GameButtonLook(c.flags);
        EXPECT_EQ(start.text, c.startText);
        EXPECT_EQ(start.enabled, c.startEnabled);
        EXPECT_EQ(start.color, c.startEnabled ? Accent : Panel);
        EXPECT_EQ(game.text, c.gameText);
        EXPECT_EQ(game.enabled, c.gameEnabled);
        EXPECT_EQ(game.color, c.gameColor);
    }
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
    EXPECT_EQ(FileCounterText(3, 65535), L"下载进度: 3/65535");
}

TEST(SpeedTextTest, UnitsSwitchAtExactPowersAndTheDecimalIsTruncated)
{
    const std::pair<uint32_t, const wchar_t*> cases[] = {
        {0, L""},
        {1, L"1 B/s"},
        {1023, L"1023 B/s"},
        {1024, L"1.0 KB/s"},
        {2047, L"1.9 KB/s"},  // 1.999 is not rounded up
        {1048575, L"1023.9 KB/s"},
        {1048576, L"1.0 MB/s"},
        {1572864, L"1.5 MB/s"},
        {4294967295u, L"4095.9 MB/s"},
    };
    for (const auto& [speed, text] : cases) {
        EXPECT_EQ(SpeedText(speed), text) << speed;
    }
}

TEST(ProgressPercentTest, TruncatesAndToleratesAnUnknownTotal)
{
    EXPECT_EQ(ProgressPercent(0, 0), 0);
    EXPECT_EQ(ProgressPercent(5, 0), 0);
    EXPECT_EQ(ProgressPercent(1, 3), 33);
    EXPECT_EQ(ProgressPercent(2, 3), 66);
    EXPECT_EQ(ProgressPercent(3, 3), 100);
    EXPECT_EQ(ProgressPercent(int64_t{6} << 40, int64_t{8} << 40), 75);  // files beyond 4 GiB
}

}  // namespace
}  // namespace Orvane
