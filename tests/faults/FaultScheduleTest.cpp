// The fault schedule: its command-line words, and the scheduler stepped by a
// hand-driven clock.
#include "sim/faults/FaultSchedule.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using dravnel::sim::CheckFaultSchedule;
using dravnel::sim::FaultKind;
using dravnel::sim::FaultKindName;
using dravnel::sim::FaultSchedule;
using dravnel::sim::FaultScheduler;
using dravnel::sim::FaultStep;
using dravnel::sim::ParseDurationMs;
using dravnel::sim::ParseFaultKinds;

TEST(FaultSchedule, ReadsKindsAndDurationsAndRefusesBadWords) {
    struct Row {
        const char* text;
        bool ok;
        size_t kinds;
        const char* errorPart;
    };
    const Row rows[] = {
        {"drop", true, 1, ""},
        {"drop,stop-rtp,restart,refuse-describe,401,stall-cgi,slow-cgi,garbage", true, 8, ""},
        {"all", true, 8, ""},
        {"drop,,401", false, 0, "'' is not a fault"},
        {"reboot", false, 0, "'reboot' is not a fault"},
        {"", false, 0, "'' is not a fault"},
        {"DROP", false, 0, "'DROP'"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::vector<FaultKind> kinds;
        std::string error;
        EXPECT_EQ(ParseFaultKinds(row.text, kinds, error), row.ok);
        if (row.ok) {
            EXPECT_EQ(kinds.size(), row.kinds);
        }
        EXPECT_NE(error.find(row.errorPart), std::string::npos) << error;
    }

    struct Duration {
        const char* text;
        bool ok;
        uint32_t ms;
    };
    const Duration durations[] = {{"250ms", true, 250}, {"2s", true, 2000}, {"1.5s", true, 1500}, {"3", true, 3000},
                                  {"1m", true, 60000},  {"0s", false, 0},   {"-1s", false, 0},    {"1.2.3s", false, 0},
                                  {"s", false, 0},      {"25h", false, 0},  {"0.4ms", false, 0},  {"2 s", false, 0}};
    for (const Duration& d : durations) {
        SCOPED_TRACE(d.text);
        uint32_t ms = 0;
        std::string error;
        EXPECT_EQ(ParseDurationMs(d.text, ms, error), d.ok);
        if (d.ok) {
            EXPECT_EQ(ms, d.ms);
        } else {
            EXPECT_NE(error.find("is not a duration"), std::string::npos);
        }
    }

    FaultSchedule schedule{.kinds = {FaultKind::Drop}, .everyMs = 1000, .holdMs = 1000};
    std::string error;
    EXPECT_FALSE(CheckFaultSchedule(schedule, error));
    EXPECT_NE(error.find("shorter than the interval"), std::string::npos) << error;
    schedule.seed = 1;
    schedule.holdMs = 600;
    EXPECT_FALSE(CheckFaultSchedule(schedule, error));  // the shortest random interval is 500 ms
    schedule.holdMs = 400;
    EXPECT_TRUE(CheckFaultSchedule(schedule, error));
    EXPECT_FALSE(CheckFaultSchedule(FaultSchedule{}, error));
}

std::string Steps(const std::vector<FaultStep>& steps) {
    std::string text;
    for (const FaultStep& s : steps)
        text += std::string(s.action == FaultStep::Action::Fire ? "fire " : "clear ") + FaultKindName(s.kind) + "#" +
                std::to_string(s.number) + ";";
    return text;
}

// Kinds take turns at the interval; a held fault is cleared after its hold;
// the count ends the schedule; the clock may wrap.
TEST(FaultScheduler, TakesTurnsHoldsAndEndsAfterItsCount) {
    const uint32_t start = 0xFFFFF000u;  // wraps during the run
    FaultScheduler scheduler(
        FaultSchedule{.kinds = {FaultKind::Drop, FaultKind::StopRtp}, .everyMs = 1000, .holdMs = 300, .count = 3},
        start);
    EXPECT_EQ(scheduler.UntilNext(start), 1000u);
    EXPECT_EQ(Steps(scheduler.Due(start + 999)), "");
    EXPECT_EQ(Steps(scheduler.Due(start + 1000)), "fire drop#1;");
    EXPECT_EQ(Steps(scheduler.Due(start + 2000)), "fire stop-rtp#2;");
    EXPECT_EQ(scheduler.UntilNext(start + 2000), 300u);
    EXPECT_EQ(Steps(scheduler.Due(start + 2299)), "");
    EXPECT_EQ(Steps(scheduler.Due(start + 2300)), "clear stop-rtp#2;");
    EXPECT_FALSE(scheduler.Done());
    EXPECT_EQ(Steps(scheduler.Due(start + 3000)), "fire drop#3;");
    EXPECT_TRUE(scheduler.Done());
    EXPECT_EQ(scheduler.UntilNext(start + 3000), std::nullopt);
    EXPECT_EQ(scheduler.Fired(), 3u);
}

// A late caller gets one fault at once, not a burst of the ones it missed;
// hold and interval count from then, and a held fault is always switched off
// before the next one fires.
TEST(FaultScheduler, FiresLateFaultsOnceAndClearsBeforeTheNextFire) {
    FaultScheduler scheduler(FaultSchedule{.kinds = {FaultKind::StallCgi}, .everyMs = 100, .holdMs = 50}, 0);
    EXPECT_EQ(Steps(scheduler.Due(320)), "fire stall-cgi#1;");
    EXPECT_EQ(scheduler.UntilNext(320), 50u);
    EXPECT_EQ(Steps(scheduler.Due(500)), "clear stall-cgi#1;fire stall-cgi#2;");
    EXPECT_EQ(scheduler.UntilNext(500), 50u);
    EXPECT_EQ(Steps(scheduler.Due(600)), "clear stall-cgi#2;fire stall-cgi#3;");
}

// The same seed gives the same faults at the same times; intervals stay
// within half and one and a half of the interval.
TEST(FaultScheduler, SeededScheduleRepeatsAndStaysInItsBounds) {
    const FaultSchedule schedule{.kinds = {FaultKind::Drop, FaultKind::Restart, FaultKind::Garbage, FaultKind::SlowCgi},
                                 .everyMs = 1000,
                                 .seed = 7,
                                 .holdMs = 100};
    const auto run = [&] {
        FaultScheduler scheduler(schedule, 0);
        std::vector<std::pair<uint32_t, std::string>> fires;
        for (uint32_t now = 0; now <= 60000; ++now)
            for (const FaultStep& step : scheduler.Due(now))
                if (step.action == FaultStep::Action::Fire) fires.emplace_back(now, FaultKindName(step.kind));
        return fires;
    };
    const auto first = run();
    EXPECT_EQ(first, run());
    ASSERT_GT(first.size(), 40u);
    std::set<std::string> kinds;
    uint32_t previous = 0;
    for (const auto& [at, kind] : first) {
        EXPECT_GE(at - previous, 500u);
        EXPECT_LE(at - previous, 1500u);
        previous = at;
        kinds.insert(kind);
    }
    EXPECT_EQ(kinds.size(), 4u);
}

}  // namespace
