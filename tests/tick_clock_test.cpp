#include "measure/tick_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// A 10 MHz counter whose back-to-back reads at calibration cost 4 ticks.
TickClock CalibratedClock()
{
    TickClock clock;
    clock.Calibrate(10'000'000, 1'000, 1'004);
    return clock;
}

TEST(TickClock, ConsecutiveLapsShareTheirBoundaryAndLoseTheOverheadOnce)
{
    TickClock clock = CalibratedClock();
    EXPECT_EQ(clock.Lap(21'004), 2.0f);     // 21,004 - 4 - 1,000 = 20,000 ticks
    EXPECT_EQ(clock.Lap(41'004), 1.9996f);  // 41,004 - 4 - 21,004 = 19,996 ticks
    EXPECT_EQ(clock.Lap(41'005), -0.0003f); // 1 tick below the overhead
}

TEST(TickClock, FirstIntervalRunsFromTheEarlierCalibrationReading)
{
    TickClock clock = CalibratedClock();
    EXPECT_EQ(clock.Lap(1'004), 0.0f);
}

TEST(TickClock, GapsAtOrBelowTheOverheadAreKept)
{
    struct Case { int64_t gap; float sample; };
    const Case cases[] = {
        {4, 0.0f},        // exactly the overhead
        {3, -0.0001f},    // one tick short
        {0, -0.0004f},    // the same reading twice
        {-996, -0.1f},    // a reading that went backwards
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gap);
        TickClock clock = CalibratedClock();
        ASSERT_EQ(clock.Lap(5'000), 0.3996f);
        EXPECT_EQ(clock.Lap(5'000 + c.gap), c.sample);
    }
}

TEST(TickClock, TicksPerMillisecondDropTheFraction)
{
    struct Case { int64_t frequency; int64_t reading; float sample; };
    const Case cases[] = {
        {10'000'000, 10'000, 1.0f},
        {3'579'545, 3'579, 1.0f},   // 3,579 ticks per ms, not 3,579.545
        {1'999, 5, 5.0f},           // 1 tick per ms
        {1'000, 1, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frequency);
        TickClock clock;
        clock.Calibrate(c.frequency, 0, 0);
        EXPECT_EQ(clock.Lap(c.reading), c.sample);
    }
}

TEST(TickClock, DifferencesWrapAtTheCounterLimits)
{
    struct Case { int64_t first, second, reading; float sample; };
    const Case cases[] = {
        {kMax - 9'999, kMax - 9'999, kMin + 10'000, 2.0f},  // 20,000 ticks across the wrap
        {kMax, kMax, kMin, 0.0001f},                        // one tick across it
        {kMin, kMin + 4, kMax, -0.0005f},                   // -5 ticks after wrapping
        {kMin, kMax, kMin + 10'000, 1.0001f},               // an overhead that itself wrapped (+1)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reading);
        TickClock clock;
        clock.Calibrate(10'000'000, c.first, c.second);
        EXPECT_EQ(clock.Lap(c.reading), c.sample);
    }
}

TEST(TickClock, CounterBelowOneKilohertzGivesNoFiniteSample)
{
    TickClock clock;
    clock.Calibrate(999, 0, 0);
    EXPECT_EQ(clock.Lap(10), std::numeric_limits<float>::infinity());
    EXPECT_EQ(clock.Lap(0), -std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isnan(clock.Lap(0)));
}

}  // namespace
