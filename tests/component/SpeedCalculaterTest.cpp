#include "component/SpeedCalculater.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

// A tick source the test moves by hand.
struct ManualClock {
    uint32_t now = 0;
    SpeedCalculater::Clock source()
    {
        return [this] { return now; };
    }
};

}  // namespace

TEST(SpeedCalculater, AFullWindowCountsAsOneSecondOfThree)
{
    ManualClock clock;
    SpeedCalculater speed(clock.source());
    speed.reset(0);
    clock.now = 999;
    EXPECT_EQ(speed.sample(3145728), 0);  // window still open
    clock.now = 1000;
    EXPECT_EQ(speed.sample(3145728), 1048576);
}

TEST(SpeedCalculater, RampsUpAndFallsBackOverThreeWindows)
{
    ManualClock clock;
    SpeedCalculater speed(clock.source());
    speed.reset(0);
    int64_t position = 0;
    const int64_t expectedRamp[] = {100, 200, 300, 300};
    for (int64_t expected : expectedRamp) {
        clock.now += 1000;
        position += 300;
        EXPECT_EQ(speed.sample(position), expected);
    }
    const int64_t expectedFall[] = {200, 100, 0, 0};
    for (int64_t expected : expectedFall) {
        clock.now += 1500;  // a long window is still one second
        EXPECT_EQ(speed.sample(position), expected);
    }
}

TEST(SpeedCalculater, FeedingMoreOftenThanOnceASecondChangesNothing)
{
    ManualClock clock;
    SpeedCalculater speed(clock.source());
    speed.reset(1000);
    clock.now = 1000;
    EXPECT_EQ(speed.sample(4000), 1000);
    for (uint32_t t = 1100; t < 2000; t += 100) {
        clock.now = t;
        EXPECT_EQ(speed.sample(1000000 + t), 1000);
    }
    // The window that closes at 2000 counts from the position fed at 1000.
    clock.now = 2000;
    EXPECT_EQ(speed.sample(7000), 2000);
}

TEST(SpeedCalculater, ResetStartsOverFromTheBase)
{
    ManualClock clock;
    SpeedCalculater speed(clock.source());
    speed.reset(0);
    clock.now = 1000;
    EXPECT_EQ(speed.sample(3000), 1000);
    clock.now = 1500;
    speed.reset(4096);  // a resumed run with its offset as base
    clock.now = 2000;
    EXPECT_EQ(speed.sample(9000), 0);  // only 500 ms since the reset
    clock.now = 2500;
    EXPECT_EQ(speed.sample(4096 + 3000), 1000);
}

TEST(SpeedCalculater, WindowsSpanTheTickWrap)
{
    ManualClock clock;
    clock.now = 0xFFFFFF00u;
    SpeedCalculater speed(clock.source());
    speed.reset(0);
    clock.now = 0x000002E7u;  // 999 ms later, across the wrap
    EXPECT_EQ(speed.sample(3000), 0);
    clock.now = 0x000002E8u;  // 1000 ms later
    EXPECT_EQ(speed.sample(3000), 1000);
}

TEST(SpeedCalculater, ExtremePositionsSaturateInsteadOfOverflowing)
{
    ManualClock clock;
    SpeedCalculater speed(clock.source());
    speed.reset(std::numeric_limits<int64_t>::min());
    clock.now = 1000;
    EXPECT_GT(speed.sample(std::numeric_limits<int64_t>::max()), std::numeric_limits<int64_t>::max() / 4);
    clock.now = 2000;
    EXPECT_GT(speed.sample(std::numeric_limits<int64_t>::max()), 0);
    clock.now = 3000;
    speed.sample(std::numeric_limits<int64_t>::min());
    clock.now = 4000;
    EXPECT_EQ(speed.sample(std::numeric_limits<int64_t>::min()), 0);
}
