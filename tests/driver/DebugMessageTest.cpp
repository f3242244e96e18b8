#include <gtest/gtest.h>

#include "driver/CDebugInfo.h"
#include "tests/support/OpenDriver.h"
#include "tools/host/HostVersion.h"

using quarnel::test::OpenDriver;

struct LevelCase {
    uint16_t major, minor;
    int level;
    int seen;
};

class HostLevels : public ::testing::TestWithParam<LevelCase> {
protected:
    void TearDown() override { quarnel::host::ClearHostVersion(); }
};

TEST_P(HostLevels, LevelReachesTheSinkAdjustedToTheHostVersion) {
    const auto c = GetParam();
    quarnel::host::SetHostVersion(c.major, c.minor);
    OpenDriver d;
    ASSERT_TRUE(d.Open());
    d.debug.Clear();
    d.driver->DebugMessage(c.level, "%s: message", "test");
    auto lines = d.debug.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, c.seen);
    EXPECT_EQ(lines[0].text, "test: message");
}

INSTANTIATE_TEST_SUITE_P(Versions, HostLevels,
                         ::testing::Values(LevelCase{5, 0, 3, 2}, LevelCase{5, 0, 100, 2},
                                           LevelCase{5, 11, 3, 2}, LevelCase{5, 11, 1, 1},
                                           LevelCase{5, 12, 3, 3}, LevelCase{5, 12, 100, 3},
                                           LevelCase{6, 2, 100, 3}, LevelCase{6, 2, 2, 2},
                                           LevelCase{6, 3, 3, 3}, LevelCase{6, 3, 100, 100},
                                           LevelCase{7, 0, 100, 100}, LevelCase{4, 99, 100, 2}));

TEST(DebugMessage, WithoutAHostVersionTheDriverAssumes5_12) {
    quarnel::host::ClearHostVersion();
    OpenDriver d;
    ASSERT_TRUE(d.Open());
    EXPECT_EQ(d.driver->HostVersion(), (std::array<uint16_t, 4>{5, 12, 0, 0}));
    d.debug.Clear();
    d.driver->DebugMessage(100, "%s", "opened");
    EXPECT_EQ(d.debug.Lines().at(0).level, 3);
}

TEST(DebugMessage, LevelFourNeverReachesTheSink) {
    OpenDriver d;
    ASSERT_TRUE(d.Open());
    d.debug.Clear();
    d.driver->DebugMessage(4, "%s: hidden", "test");
    EXPECT_EQ(d.debug.Count(), 0u);
}

TEST(DebugMessage, AnEmptyMessageArrivesWithANullText) {
    OpenDriver d;
    ASSERT_TRUE(d.Open());
    d.debug.Clear();
    d.driver->DebugMessage(1, "%s", "");
    auto lines = d.debug.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].nullText);
}

TEST(DebugMessage, AMessageOfSeveralKilobytesArrivesWhole) {
    OpenDriver d;
    ASSERT_TRUE(d.Open());
    d.debug.Clear();
    const std::string big(20000, 'x');
    d.driver->DebugMessage(1, "%s: <%s>", "test", big.c_str());
    auto lines = d.debug.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "test: <" + big + ">");
}

TEST(DebugMessage, MessagesBeforeOpenAreDropped) {
    dravnel::CQuarnelDriver driver;
    driver.DebugMessage(1, "%s", "nobody listens");  // must not crash
    SUCCEED();
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
    EXPECT_EQ(d.debug.Count(), 2000u);
}
