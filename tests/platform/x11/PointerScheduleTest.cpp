// How often a recording asks where the pointer is.
#include "platform/x11/PointerSchedule.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = PointerSchedule::Clock;

const Clock::time_point t0 = Clock::time_point() + 1000s;

TEST(PointerSchedule, PacesChecksByWhetherThePointerMoves)
{
    for (const bool hearsMotion : {false, true}) {
        SCOPED_TRACE(hearsMotion);
        PointerSchedule schedule(hearsMotion);
        EXPECT_TRUE(schedule.isDue(t0));
        // Moving: at the moving pace.
        schedule.checked(t0, true);
        EXPECT_EQ(schedule.nextCheck(), t0 + PointerSchedule::movingPeriod);
        EXPECT_FALSE(schedule.isDue(t0 + 10ms));
        // Still, but not yet for a second: still at the moving pace.
        schedule.checked(t0 + 500ms, false);
        EXPECT_EQ(schedule.nextCheck(), t0 + 500ms + PointerSchedule::movingPeriod);
        // At rest: slower, and much slower when motion is reported.
        schedule.checked(t0 + 1000ms, false);
        const auto resting = hearsMotion ? PointerSchedule::restingPeriodWithMotion : PointerSchedule::restingPeriod;
        EXPECT_EQ(schedule.nextCheck(), t0 + 1000ms + resting);
        // A move found by a resting check brings the moving pace back.
        schedule.checked(t0 + 1000ms + resting, true);
        EXPECT_EQ(schedule.nextCheck(), t0 + 1000ms + resting + PointerSchedule::movingPeriod);
    }
}

TEST(PointerSchedule, ReportedMotionMakesACheckDueWithoutFlooding)
{
    PointerSchedule schedule(true);
    schedule.checked(t0, false);
    ASSERT_EQ(schedule.nextCheck(), t0 + PointerSchedule::restingPeriodWithMotion);
    // Motion long after the last check: due at once.
    schedule.motionHeard(t0 + 100ms);
    EXPECT_TRUE(schedule.isDue(t0 + 100ms));
    schedule.checked(t0 + 100ms, true);
    // Motion right after a check waits for the moving pace...
    schedule.motionHeard(t0 + 101ms);
    EXPECT_FALSE(schedule.isDue(t0 + 101ms));
    EXPECT_EQ(schedule.nextCheck(), t0 + 100ms + PointerSchedule::movingPeriod);
    // ...and never pushes a due check later.
    schedule.motionHeard(t0 + 200ms);
    EXPECT_TRUE(schedule.isDue(t0 + 116ms));
}

TEST(PointerSchedule, ServerWithoutMotionReportsKeepsTheRestingPoll)
{
    PointerSchedule schedule;
    EXPECT_FALSE(schedule.hearsMotion());
    schedule.checked(t0, false);
    EXPECT_LE(schedule.nextCheck() - t0, 50ms);
    schedule.setHearsMotion(true);
    schedule.checked(t0 + 50ms, false);
    EXPECT_EQ(schedule.nextCheck(), t0 + 50ms + PointerSchedule::restingPeriodWithMotion);
}

} // namespace
