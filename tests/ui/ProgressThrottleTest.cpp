#include <gtest/gtest.h>

#include "ui/ProgressThrottle.h"

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

}  // namespace
}  // namespace Orvane
