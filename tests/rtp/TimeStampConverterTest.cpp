// The frame clock, driven by a clock the test sets.
#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <utility>
#include <vector>

#include "rtp/CTimeStampConverter.h"
#include "rtp/TStatisticsHelper.h"

namespace {

// 2024-03-01 12:00:00 UTC in FILETIME units.
constexpr uint64_t kStart = 133537680000000000ull;
constexpr uint64_t kMs = 10'000;

struct FrameClock {
    uint64_t now = kStart;
    dravnel::CTimeStampConverter converter{[this] { return now; }};
};

// Steps: how far the wall clock moves on, the time stamp, then the output
// time after kStart and the lead.
using Steps = std::vector<std::tuple<uint64_t, uint32_t, uint64_t, uint64_t>>;

// While at most 100 increments are known a tick is 111 x 100 ns.
TEST(TimeStampConverter, StepsWhileLearning) {
    const std::pair<const char*, Steps> kCases[] = {
        {"learning steps", {{0, 1000, 0, 0}, {0, 4600, 399'600, 0}, {0, 8200, 799'200, 0}}},  // small leads not kept
        {"zero is no start", {{0, 0, 0, 0}, {5 * kMs, 3600, 5 * kMs, 0}}},
        {"repeated advances 1 ms", {{0, 1000, 0, 0}, {0, 1000, kMs, kMs}, {0, 500, 2 * kMs, 2 * kMs}}},
        {"backwards not behind the wall clock", {{0, 1000, 0, 0}, {100 * kMs, 500, 100 * kMs, 0}}},
        // 90 091 ticks x 111 = 10 000 101 > 9 999 999: restart from the wall clock
        {"a second or more restarts", {{0, 1000, 0, 0}, {3 * kMs, 1000 + 90'091, 3 * kMs, 0}}},
        // 90 090 ticks x 111 = 9 999 990 is still a step, and a lead worth keeping
        {"just under a second", {{0, 1000, 0, 0}, {0, 1000 + 90'090, 9'999'990, 9'999'990}}},
    };
    for (const auto& [name, steps] : kCases) {
        FrameClock c;
        for (const auto& [wallAdvance, timeStamp, output, lead] : steps) {
            c.now += wallAdvance;
            c.converter.Convert(timeStamp);
            EXPECT_EQ(c.converter.OutputTime() - kStart, output) << name << ", time stamp " << timeStamp;
            EXPECT_EQ(c.converter.Lead(), lead) << name << ", time stamp " << timeStamp;
        }
    }
}

// After 100 increments the measured pace is used; a burst of frames puts the
// output ahead of the wall clock, and the lead is paid back by at most a tenth
// of each step (at least 1 ms) until the output meets the wall clock again.
// Then a camera whose time stamps jump ahead (a new RTP session behind the
// same parser) restarts from the wall clock instead of dating frames an hour
// ahead.
TEST(TimeStampConverter, LeadIsPaidBackSlowlyAndAJumpRestarts) {
    FrameClock c;
    // 25 frames/s at 90 kHz with the wall clock keeping pace, so that the
    // measured rate takes over.
    uint32_t ts = 90'000;
    for (int i = 0; i < 101; ++i, ts += 3600, c.now += 40 * kMs) {
        c.converter.Convert(ts);
        EXPECT_EQ(c.converter.OutputTime(), c.now);  // 39.96 ms steps fall behind: the wall clock
    }
    for (int i = 0; i < 10; ++i, ts += 3600) c.converter.Convert(ts);  // the wall clock stands still
    const uint64_t lead = c.converter.Lead();
    EXPECT_GE(lead, 2'500'001u);
    EXPECT_EQ(c.converter.OutputTime() - c.now, lead);

    uint64_t previousOutput = c.converter.OutputTime();
    uint64_t previousLead = lead;
    int frames = 0;
    for (; c.converter.Lead() > 0 && frames < 1000; ++frames, ts += 3600) {
        c.now += 40 * kMs;
        c.converter.Convert(ts);
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

    c.now += 40 * kMs;
    c.converter.Convert(ts + 3600u * 90'000u);
    EXPECT_EQ(c.converter.OutputTime(), c.now);
    EXPECT_EQ(c.converter.Lead(), 0u);
}

// The running sum stays exact while the oldest values drop out of the window.
TEST(StatisticsHelper, MeanOfTheLastThousand) {
    dravnel::TStatisticsHelper<unsigned> s;
    EXPECT_EQ(s.Mean(), 0.0);
    for (unsigned v : {1u, 2u, 3u}) s.Add(v);
    EXPECT_DOUBLE_EQ(s.Mean(), 2.0);
    for (int i = 0; i < 1000; ++i) s.Add(4'000'000'000u);
    EXPECT_EQ(s.Count(), 1000u);
    EXPECT_DOUBLE_EQ(s.Mean(), 4'000'000'000.0);
}

}  // namespace
