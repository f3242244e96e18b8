// The frame clock, driven by a clock the test sets.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/Clock.h"
#include "rtp/CTimeStampConverter.h"
#include "rtp/TStatisticsHelper.h"

namespace {

using dravnel::CTimeStampConverter;

// 2024-03-01 12:00:00 UTC in FILETIME units.
constexpr uint64_t kStart = 133537680000000000ull;
constexpr uint64_t kMs = 10'000;

struct FrameClock {
    uint64_t now = kStart;
    CTimeStampConverter converter{[this] { return now; }};
};

TEST(StatisticsHelper, MeanOfTheLastThousand) {
    dravnel::TStatisticsHelper<unsigned> s;
    EXPECT_EQ(s.Mean(), 0.0);
    s.Add(1);
    s.Add(2);
    s.Add(3);
    EXPECT_EQ(s.Count(), 3u);
    EXPECT_DOUBLE_EQ(s.Mean(), 2.0);
    for (int i = 0; i < 1000; ++i) s.Add(4'000'000'000u);
    EXPECT_EQ(s.Count(), 1000u);
    EXPECT_DOUBLE_EQ(s.Mean(), 4'000'000'000.0);  // the first three dropped out exactly
    s.Clear();
    EXPECT_EQ(s.Count(), 0u);
}

TEST(TimeStampConverter, FirstFrameTakesTheWallClock) {
    FrameClock c;
    c.converter.Convert(1000);
    EXPECT_EQ(c.converter.OutputTime(), kStart);
    EXPECT_EQ(c.converter.Lead(), 0u);
}

TEST(TimeStampConverter, LearningStepsAre111PerTick) {
    // 25 frames/s at 90 kHz: 3600 ticks, 39.96 ms each while the wall clock
    // stands still.
    FrameClock c;
    c.converter.Convert(1000);
    c.converter.Convert(4600);
    EXPECT_EQ(c.converter.OutputTime(), kStart + 399'600);
    c.converter.Convert(8200);
    EXPECT_EQ(c.converter.OutputTime(), kStart + 799'200);
    // Small leads are not kept while learning.
    EXPECT_EQ(c.converter.Lead(), 0u);
}

TEST(TimeStampConverter, ZeroTimeStampIsNotAStart) {
    FrameClock c;
    c.converter.Convert(0);
    c.now += 5 * kMs;
    c.converter.Convert(3600);
    EXPECT_EQ(c.converter.OutputTime(), kStart + 5 * kMs);  // afresh, not kStart + 399 600
}

TEST(TimeStampConverter, RepeatedTimeStampAdvancesOneMillisecond) {
    FrameClock c;
    c.converter.Convert(1000);
    c.converter.Convert(1000);
    EXPECT_EQ(c.converter.OutputTime(), kStart + kMs);
    EXPECT_EQ(c.converter.Lead(), kMs);  // always recorded
    c.converter.Convert(500);           // backwards: the same
    EXPECT_EQ(c.converter.OutputTime(), kStart + 2 * kMs);
}

TEST(TimeStampConverter, BackwardsNeverBehindTheWallClock) {
    FrameClock c;
    c.converter.Convert(1000);
    c.now += 100 * kMs;
    c.converter.Convert(500);
    EXPECT_EQ(c.converter.OutputTime(), c.now);
    EXPECT_EQ(c.converter.Lead(), 0u);
}

TEST(TimeStampConverter, StepOfASecondOrMoreRestartsWhileLearning) {
    // 90 091 ticks x 111 = 10 000 101 > 9 999 999: restart from the wall clock.
    FrameClock c;
    c.converter.Convert(1000);
    c.now += 3 * kMs;
    c.converter.Convert(1000 + 90'091);
    EXPECT_EQ(c.converter.OutputTime(), c.now);
    // 90 090 ticks x 111 = 9 999 990 is still a step.
    FrameClock d;
    d.converter.Convert(1000);
    d.converter.Convert(1000 + 90'090);
    EXPECT_EQ(d.converter.OutputTime(), kStart + 9'999'990);
}

TEST(TimeStampConverter, OutputNeverBehindTheWallClock) {
    // The wall clock runs 40 ms per frame, the learning step gives 39.96 ms.
    FrameClock c;
    uint32_t ts = 1000;
    for (int i = 0; i < 10; ++i) {
        c.converter.Convert(ts);
        EXPECT_EQ(c.converter.OutputTime(), c.now);
        ts += 3600;
        c.now += 40 * kMs;
    }
}

// After 100 increments the measured pace is used; a burst of frames puts the
// output ahead of the wall clock, and the lead is paid back by at most a tenth
// of each step (at least 1 ms) until the output meets the wall clock again.
TEST(TimeStampConverter, LeadIsPaidBackSlowly) {
    FrameClock c;
    uint32_t ts = 90'000;
    for (int i = 0; i <= 100; ++i) {
        c.converter.Convert(ts);
        ts += 3600;
        c.now += 40 * kMs;
    }
    // A burst: ten frames while the wall clock stands still.
    for (int i = 0; i < 10; ++i) {
        c.converter.Convert(ts);
        ts += 3600;
    }
    const uint64_t lead = c.converter.Lead();
    EXPECT_GE(lead, 2'500'001u);
    EXPECT_EQ(c.converter.OutputTime() - c.now, lead);

    uint64_t previousOutput = c.converter.OutputTime();
    uint64_t previousLead = lead;
    int frames = 0;
    while (c.converter.Lead() > 0 && frames < 1000) {
        c.now += 40 * kMs;
        c.converter.Convert(ts);
        ts += 3600;
        ++frames;
        const uint64_t step = c.converter.OutputTime() - previousOutput;
        EXPECT_GE(c.converter.OutputTime(), c.now);
        if (c.converter.Lead() > 0) {
            // The measured step is close to 40 ms; a tenth of it comes off.
            EXPECT_GT(step, 30 * kMs);
            EXPECT_LT(step, 40 * kMs);
            EXPECT_LT(c.converter.Lead(), previousLead);
        }
        previousOutput = c.converter.OutputTime();
        previousLead = c.converter.Lead();
    }
    EXPECT_EQ(c.converter.Lead(), 0u);
    EXPECT_GT(frames, 5);  // no jump back to the wall clock
}

// A camera whose time stamps jump ahead (a new RTP session behind the same
// parser) restarts from the wall clock instead of dating frames an hour ahead.
TEST(TimeStampConverter, JumpAfterLearningRestarts) {
    FrameClock c;
    uint32_t ts = 90'000;
    for (int i = 0; i < 150; ++i) {
        c.converter.Convert(ts);
        ts += 3600;
        c.now += 40 * kMs;
    }
    c.converter.Convert(ts + 3600u * 90'000u);
    EXPECT_EQ(c.converter.OutputTime(), c.now);
    EXPECT_EQ(c.converter.Lead(), 0u);
}

TEST(TimeStampConverter, GetTimeGivesTheOutputOrTheWallClock) {
    FrameClock c;
    dravnel::SYSTEMTIME st = c.converter.GetTime();  // not started: the clock
    EXPECT_EQ(st.wYear, 2024);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wHour, 12);
    EXPECT_EQ(st.wMinute, 0);
    EXPECT_EQ(st.wMilliseconds, 0);

    c.converter.Convert(1000);
    c.converter.Convert(4600);  // kStart + 39.96 ms
    st = c.converter.GetTime();
    EXPECT_EQ(st.wSecond, 0);
    EXPECT_EQ(st.wMilliseconds, 39);
}

}  // namespace
