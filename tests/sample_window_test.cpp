#include "measure/sample_window.h"

#include <gtest/gtest.h>

namespace {

// Adds each sample and evaluates after it, as the thread does once the
// dialog exists; returns the last average.
double AddEvaluated(SampleWindow& window, float sample, int times)
{
    double average = 0.0;
    for (int i = 0; i < times; ++i) {
        window.Add(sample);
        average = window.Evaluate();
    }
    return average;
}

TEST(SampleWindow, OneSampleAveragesToItselfWithoutAPeak)
{
    SampleWindow window;
    window.Add(8.0f);
    EXPECT_EQ(window.Evaluate(), 8.0);
    EXPECT_EQ(window.Peak(), 0.0f);
}

TEST(SampleWindow, PeakIsFirstSetByTheFiftiethEvaluatedSample)
{
    SampleWindow window;
    for (int i = 1; i <= 49; ++i) {
        window.Add(static_cast<float>(i));
        EXPECT_EQ(window.Evaluate(), (i + 1) / 2.0);
    }
    EXPECT_EQ(window.Peak(), 0.0f);

    window.Add(50.0f);
    EXPECT_EQ(window.Evaluate(), 25.5);
    EXPECT_EQ(window.Peak(), 25.5f);
}

TEST(SampleWindow, FullWindowDropsTheOldestAndLowersThePeak)
{
    SampleWindow window;
    AddEvaluated(window, 8.0f, 50);
    ASSERT_EQ(window.Peak(), 8.0f);

    window.Add(2.0f);
    EXPECT_EQ(window.Size(), 50);
    EXPECT_EQ(window.Evaluate(), 394.0 / 50);  // the 2.0 and 49 of the 8.0
    EXPECT_EQ(window.Peak(), 7.88f);

    // 48 more 2.0 leave one 8.0; the 50th pushes it out too.
    EXPECT_EQ(AddEvaluated(window, 2.0f, 48), (49 * 2.0 + 8.0) / 50);
    EXPECT_EQ(AddEvaluated(window, 2.0f, 1), 2.0);
    EXPECT_EQ(window.Peak(), 2.0f);
}

TEST(SampleWindow, AnAverageAtOrAboveThePeakLeavesIt)
{
    SampleWindow window;
    AddEvaluated(window, 4.0f, 50);
    ASSERT_EQ(window.Peak(), 4.0f);

    EXPECT_EQ(AddEvaluated(window, 4.0f, 1), 4.0);  // equal
    EXPECT_EQ(window.Peak(), 4.0f);
    EXPECT_GT(AddEvaluated(window, 54.0f, 1), 4.0);  // larger
    EXPECT_EQ(window.Peak(), 4.0f);
}

TEST(SampleWindow, APeakOfZeroCountsAsUnset)
{
    SampleWindow window;
    AddEvaluated(window, 0.0f, 50);
    ASSERT_EQ(window.Peak(), 0.0f);

    window.Add(10.0f);
    EXPECT_EQ(window.Evaluate(), 0.2);
    EXPECT_EQ(window.Peak(), 0.2f);  // replaced though larger than 0
}

TEST(SampleWindow, UnevaluatedAdditionsFillTheWindowButNeverSetThePeak)
{
    SampleWindow window;
    for (int i = 1; i <= 60; ++i)
        window.Add(static_cast<float>(i));
    EXPECT_EQ(window.Size(), 50);
    EXPECT_EQ(window.Peak(), 0.0f);

    EXPECT_EQ(window.Evaluate(), 35.5);  // 11 to 60
    EXPECT_EQ(window.Peak(), 35.5f);
}

TEST(SampleWindow, SumsFromNewestToOldest)
{
    // 1.0 is the oldest sample, then 49 samples of 2^-53. Summed newest first
    // the small ones build up before 1.0 comes in; summed oldest first each
    // one is lost against 1.0, so the order shows in the result.
    constexpr float kTiny = 0x1p-53f;
    SampleWindow window;
    window.Add(1.0f);
    for (int i = 0; i < 49; ++i)
        window.Add(kTiny);

    double newestFirst = 0.0;
    for (int i = 0; i < 49; ++i)
        newestFirst += kTiny;
    newestFirst += 1.0;
    ASSERT_NE(newestFirst, 1.0);

    EXPECT_EQ(window.Evaluate(), newestFirst / 50);
}

TEST(SampleWindow, EmptyWindowEvaluatesToZero)
{
    SampleWindow window;
    EXPECT_EQ(window.Evaluate(), 0.0);
    EXPECT_EQ(window.Peak(), 0.0f);
}

}  // namespace
