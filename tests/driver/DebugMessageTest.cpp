#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/OpenDriver.h"
#include "tools/host/HostVersion.h"

using quarnel::test::OpenDriver;

struct LevelCase {
    int major, minor;  // major -1: the host reports no version (5.12 is assumed)
    int level;
    int seen;  // 0: never reaches the sink
};

class HostLevels : public ::testing::TestWithParam<LevelCase> {
protected:
    void TearDown() override { quarnel::host::ClearHostVersion(); }
};

TEST_P(HostLevels, LevelReachesTheSinkAdjustedToTheHostVersion) {
    const auto c = GetParam();
    if (c.major < 0)
        quarnel::host::ClearHostVersion();
    else
        quarnel::host::SetHostVersion(static_cast<uint16_t>(c.major), static_cast<uint16_t>(c.minor));
    OpenDriver d;
    ASSERT_TRUE(d.Open());
    d.debug.Clear();
    d.driver->DebugMessage(c.level, "%s: message", "test");
    const auto lines = d.debug.Lines();
    if (c.seen == 0) {
        EXPECT_TRUE(lines.empty());
        return;
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, c.seen);
    EXPECT_EQ(lines[0].text, "test: message");
}

INSTANTIATE_TEST_SUITE_P(Versions, HostLevels,
                         ::testing::Values(LevelCase{5, 0, 100, 2}, LevelCase{5, 11, 3, 2},
                                           LevelCase{5, 11, 1, 1},
                                           LevelCase{4, 99, 100, 2},  // the major number decides first
                                           LevelCase{5, 12, 3, 3}, LevelCase{5, 12, 100, 3},
                                           LevelCase{6, 2, 100, 3}, LevelCase{6, 3, 100, 100},
                                           LevelCase{7, 0, 100, 100}, LevelCase{-1, 0, 100, 3},
                                           LevelCase{6, 3, 4, 0}));

TEST(DebugMessage, ArrivesWholeOrAsANullTextAndNeverBeforeOpen) {
    OpenDriver d;
    d.driver->DebugMessage(1, "%s", "before open");  // no sink yet: dropped
    ASSERT_TRUE(d.Open());
    EXPECT_FALSE(d.debug.Contains("before open"));
    d.debug.Clear();
    const std::string big(20000, 'x');
    d.driver->DebugMessage(1, "%s: <%s>", "test", big.c_str());
    d.driver->DebugMessage(1, "%s", "");
    const auto lines = d.debug.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "test: <" + big + ">");
    EXPECT_TRUE(lines[1].nullText);
}

TEST(DebugMessage, ConcurrentMessagesAllArrive) {
    OpenDriver d;
    ASSERT_TRUE(d.Open());
    d.debug.Clear();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) d.driver->DebugMessage(1, "%s: %d %d", "test", t, i);
        });
    for (auto& t : threads) t.join();
    std::set<std::string> distinct;  // none garbled by another thread's message
    for (const auto& line : d.debug.Lines()) distinct.insert(line.text);
    EXPECT_EQ(distinct.size(), 2000u);
}
