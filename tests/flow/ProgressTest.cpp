#include <gtest/gtest.h>

#include "flow/Progress.h"

namespace Orvane {
namespace {

TEST(ProgressThrottleTest, PassesChangesAndOneReportPerInterval)
{
    ProgressThrottle throttle(100);
    struct Step {
        int64_t percent;
        int fileIndex;
        uint64_t nowMs;
        bool posted;
    };
    const Step steps[] = {
        {0, 1, 1000, true},    // the first report always passes
        {0, 1, 1001, false},   // nothing new
        {0, 1, 1099, false},
        {0, 1, 1100, true},    // the interval has passed
        {1, 1, 1101, true},    // percentage changed
        {1, 2, 1102, true},    // next file
        {1, 2, 1150, false},
        {1, 1, 1151, true},    // a file index going back counts as a change too
    };
    for (const Step& step : steps) {
        EXPECT_EQ(throttle.ShouldPost(step.percent, step.fileIndex, step.nowMs), step.posted)
            << step.nowMs;
    }
}

TEST(ProgressThrottleTest, ResetLetsTheNextRunsFirstReportThrough)
{
    ProgressThrottle throttle(100);
    EXPECT_TRUE(throttle.ShouldPost(0, 1, 5000));
    EXPECT_FALSE(throttle.ShouldPost(0, 1, 5001));
    throttle.Reset();
    EXPECT_TRUE(throttle.ShouldPost(0, 1, 5002));
}

TEST(FileCounterTextTest, CountsFromOne)
{
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
