// The remaining-time estimator on a simulated clock and through its handles.
#include <gtest/gtest.h>

#include <cstdint>

#include "tamlib/strings.h"
#include "ui/progress.h"

namespace {

using tamlib::ProgressEstimator;

struct FakeClock
{
    uint32_t now = 0;
    static uint32_t read(void* self) { return static_cast<FakeClock*>(self)->now; }
};

TEST(ProgressStep, AtMostAboutSixtyFiveThousandUpdates)
{
    FakeClock clock;
    EXPECT_EQ(ProgressEstimator(1000, 16, &FakeClock::read, &clock).step(), 16u);
    EXPECT_EQ(ProgressEstimator(10'000'000, 16, &FakeClock::read, &clock).step(), 256u);
    // Large totals: at most 0x7FFF; small ones: at most half the work.
    EXPECT_EQ(ProgressEstimator(0xFFFFFFFFu, 1, &FakeClock::read, &clock).step(), 0x7FFFu);
    EXPECT_EQ(ProgressEstimator(100, 80, &FakeClock::read, &clock).step(), 50u);
    EXPECT_EQ(ProgressEstimator(65534, 40000, &FakeClock::read, &clock).step(), 0x7FFFu);
    // Nothing to divide: the step stays usable.
    EXPECT_EQ(ProgressEstimator(0, 0, &FakeClock::read, &clock).step(), 1u);
    EXPECT_EQ(ProgressEstimator(1, 16, &FakeClock::read, &clock).step(), 1u);
}

TEST(ProgressEstimate, SteadyWorkGivesItsTotalTime)
{
    // 1000 units at 10 ms each, reported every 20 units: 10 s in all.
    FakeClock clock{5000};
    ProgressEstimator estimator(1000, 16, &FakeClock::read, &clock);
    uint32_t estimate = 1;
    uint32_t elapsed = 0;
    for (uint32_t value = 20; value <= 1000; value += 20) {
        clock.now += 200;
        elapsed = estimator.update(value, &estimate);
        EXPECT_EQ(elapsed, value * 10);
        // One interval is not yet an estimate; the second makes it; it is reported from the
        // update after.
        EXPECT_EQ(estimator.estimate(), value == 20 ? 0u : 10000u) << value;
        EXPECT_EQ(estimate, value <= 40 ? 0u : 10000u) << value;
        if (value == 20) {
            EXPECT_EQ(estimator.timePerStep(), 160u);
        }
    }
}

TEST(ProgressEstimate, ChangingPaceMovesTheEstimate)
{
    // 10 ms per unit for the first half, 30 ms per unit for the second.
    FakeClock clock;
    ProgressEstimator estimator(1000, 10, &FakeClock::read, &clock);
    uint32_t estimate = 0;
    for (uint32_t value = 20; value <= 500; value += 20) {
        clock.now += 200;
        estimator.update(value, &estimate);
    }
    EXPECT_EQ(estimate, 10000u);
    for (uint32_t value = 520; value <= 900; value += 20) {
        clock.now += 600;
        estimator.update(value, nullptr);
    }
    estimate = estimator.estimate();
    // Slower work makes a longer estimate, but the learned pace moves slowly: between the first
    // guess and what the slower pace alone would give (5 s + 15 s).
    EXPECT_GT(estimate, 10000u);
    EXPECT_LT(estimate, 20000u);
    EXPECT_GE(estimate, clock.now);
}

TEST(ProgressEstimate, UpdatesBelowTheStepOrWithoutTimeChangeNothing)
{
    FakeClock clock{100};
    ProgressEstimator estimator(1000, 16, &FakeClock::read, &clock);
    uint32_t estimate = 7;
    // No time passed.
    EXPECT_EQ(estimator.update(500, &estimate), 0u);
    EXPECT_EQ(estimate, 0u);
    clock.now += 500;
    EXPECT_EQ(estimator.update(15, &estimate), 500u);
    EXPECT_EQ(estimator.timePerStep(), 0u);
    EXPECT_EQ(estimator.update(16, nullptr), 500u);
    EXPECT_EQ(estimator.timePerStep(), 500u);
    // Going backwards is no progress.
    clock.now += 500;
    estimator.update(5, &estimate);
    EXPECT_EQ(estimator.timePerStep(), 500u);
}

TEST(ProgressEstimate, FastUpdatesQuadrupleTheStep)
{
    FakeClock clock;
    ProgressEstimator estimator(100000, 16, &FakeClock::read, &clock);
    clock.now = 10;
    estimator.update(16, nullptr); // 10 ms after the start: too soon
    EXPECT_EQ(estimator.step(), 64u);
    clock.now = 20;
    estimator.update(64, nullptr);
    EXPECT_EQ(estimator.step(), 256u);
    clock.now = 400;
    estimator.update(256, nullptr);
    EXPECT_EQ(estimator.step(), 256u);
    EXPECT_EQ(estimator.timePerStep(), 400u);
}

TEST(ProgressEstimate, TickCounterWrapsAround)
{
    FakeClock clock{0xFFFFFF00u};
    ProgressEstimator estimator(1000, 10, &FakeClock::read, &clock);
    clock.now += 1000; // past the wrap
    EXPECT_EQ(estimator.update(100, nullptr), 1000u);
    EXPECT_EQ(estimator.timePerStep(), 100u);
}

TEST(ProgressHandles, BeginSetEnd)
{
    PlbProgress* progress = PlbBeginProgress(1000, 16);
    ASSERT_NE(progress, nullptr);
    uint32_t estimate = 99;
    EXPECT_EQ(PlbSetProgress(progress, 0, &estimate), 0u);
    EXPECT_EQ(estimate, 0u);
    EXPECT_EQ(PlbEndProgress(progress), 1);
    // Ended, null and foreign handles are refused without being read.
    estimate = 99;
    EXPECT_EQ(PlbSetProgress(progress, 10, &estimate), 0u);
    EXPECT_EQ(estimate, 0u);
    EXPECT_EQ(PlbEndProgress(progress), 0);
    EXPECT_EQ(PlbEndProgress(nullptr), 0);
    uint32_t foreign[16] = {PLB_PROGRESS_MAGIC};
    EXPECT_EQ(PlbEndProgress(reinterpret_cast<PlbProgress*>(foreign)), 0);
    EXPECT_EQ(PlbSetProgress(nullptr, 1, nullptr), 0u);
}

} // namespace
