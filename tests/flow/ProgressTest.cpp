#include <gtest/gtest.h>

#include "flow/Progress.h"

namespace Orvane {
namespace {

TEST(ProgressThrottleTest, OneReportPerIntervalWhateverChanged)
{
    ProgressThrottle throttle(50);
    struct Step {
        uint64_t nowMs;
        bool posted;
        bool pendingAfter;  // what a flush would then find
    };
    // Thousands of small files change the file and percentage with every
    // report; neither lets one through before its time.
    const Step steps[] = {
        {1000, true, false},   // the first report always passes
        {1001, false, true},   // a new file alone: held back
        {1049, false, true},
        {1050, true, false},   // the interval has passed
        {1051, false, true},
        {1200, true, false},   // long after: passes at once
    };
    for (const Step& step : steps) {
        EXPECT_EQ(throttle.ShouldPost(step.nowMs), step.posted) << step.nowMs;
    }
    EXPECT_FALSE(throttle.TakePending());
    EXPECT_FALSE(throttle.ShouldPost(1201));
    EXPECT_TRUE(throttle.TakePending());   // the last one held back is flushed once
    EXPECT_FALSE(throttle.TakePending());
}

TEST(ProgressThrottleTest, ResetLetsTheNextRunsFirstReportThrough)
{
    ProgressThrottle throttle(50);
    EXPECT_TRUE(throttle.ShouldPost(5000));
    EXPECT_FALSE(throttle.ShouldPost(5001));
    throttle.Reset();
    EXPECT_FALSE(throttle.TakePending());  // nothing of the old run is flushed
    EXPECT_TRUE(throttle.ShouldPost(5002));
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
