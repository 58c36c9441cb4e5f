#include "platform/media/MediaTime.h"

#include <gtest/gtest.h>

TEST(MediaTime, ComparesAcrossTimeScalesExactly)
{
    EXPECT_EQ(MediaTime::make(1, 20), MediaTime::make(30, 600));
    EXPECT_LT(MediaTime::make(15359, 15360), MediaTime::make(600, 600));
    EXPECT_GT(MediaTime::make(1, 3), MediaTime::make(333333333, 1000000000));
    // Invalid times sort after every valid one and equal each other.
    EXPECT_GT(MediaTime::invalid(), MediaTime::make(INT64_MAX, 1));
    EXPECT_EQ(MediaTime::invalid(), MediaTime::invalid());
}

TEST(MediaTime, AddsInTheLeastCommonTimeScale)
{
    const MediaTime sum = MediaTime::make(1200, 600) + MediaTime::make(15360, 15360);
    EXPECT_EQ(sum.timeScale, 76800);
    EXPECT_EQ(sum.value, 3 * 76800);
    EXPECT_FALSE(sum.rounded);
    const MediaTime difference = MediaTime::make(3, 1) - MediaTime::make(44100, 44100);
    EXPECT_EQ(difference, MediaTime::make(2, 1));
    EXPECT_FALSE((MediaTime::invalid() + MediaTime::zero()).isValid());
}

TEST(MediaTime, FallsBackToTheLargerScaleAndMarksRoundingWhenTheMultipleIsTooLarge)
{
    const MediaTime sum = MediaTime::make(1, 2147483647) + MediaTime::make(1, 2147483646);
    EXPECT_EQ(sum.timeScale, 2147483647);
    EXPECT_TRUE(sum.rounded);
}

TEST(MediaTime, ConvertsSecondsToTheNearestTickWithHalvesAwayFromZero)
{
    EXPECT_EQ(MediaTime::fromSeconds(2.0, 600), MediaTime::make(1200, 600));
    EXPECT_EQ(MediaTime::fromSeconds(0.0025, 600).value, 2); // 1.5 ticks
    EXPECT_EQ(MediaTime::fromSeconds(-0.0025, 600).value, -2);
    EXPECT_EQ(MediaTime::fromSeconds(3.4516, 600).value, 2071);
    EXPECT_FALSE(MediaTime::fromSeconds(std::nan(""), 600).isValid());
    EXPECT_DOUBLE_EQ(MediaTime::make(3, 2).seconds(), 1.5);
}

TEST(MediaTime, ConvertScaleRoundsToNearest)
{
    EXPECT_EQ(MediaTime::make(1, 600).convertScale(44100).value, 74); // 73.5
    EXPECT_EQ(MediaTime::make(-1, 600).convertScale(44100).value, -74);
    EXPECT_EQ(MediaTime::make(1200, 600).convertScale(15360).value, 30720);
    EXPECT_FALSE(MediaTime::make(1200, 600).convertScale(15360).rounded);
}

TEST(MediaTime, TimeRangeEndIsStartPlusDuration)
{
    const TimeRange range {MediaTime::make(-1024, 44100), MediaTime::make(22050, 44100)};
    EXPECT_EQ(range.end(), MediaTime::make(21026, 44100));
}
