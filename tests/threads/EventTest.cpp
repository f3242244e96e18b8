#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/Clock.h"
#include "platform/Event.h"
#include "threads/CTime.h"

using platform::Event;
using platform::WaitAny;

TEST(Event, AutoResetWakesOnceAndManualResetStaysSetUntilReset) {
    Event autoReset(Event::Mode::Auto), manual(Event::Mode::Manual);
    EXPECT_FALSE(autoReset.Wait(0));
    autoReset.Set();
    autoReset.Set();  // two sets before a wait still wake once
    EXPECT_TRUE(autoReset.Wait(0));
    EXPECT_FALSE(autoReset.Wait(0));

    manual.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));
    manual.Reset();
    EXPECT_FALSE(manual.Wait(0));
}

TEST(Event, WaitAnyReportsTheFirstSetEventAndTimesOut) {
    Event a(Event::Mode::Manual), b(Event::Mode::Auto);
    EXPECT_EQ(WaitAny({&a, &b}, 20), platform::kWaitTimeout);
    b.Set();
    EXPECT_EQ(WaitAny({&a, &b}, 0), 1);
    a.Set();
    b.Set();
    EXPECT_EQ(WaitAny({&a, &b}, 0), 0);  // lowest index wins
    EXPECT_TRUE(b.IsSet());              // and the auto-reset one was not consumed
}

TEST(Event, WaitAnyCoversASocket) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    Event stop(Event::Mode::Manual);
    EXPECT_EQ(WaitAny({&stop}, 10, fds[0], POLLIN), platform::kWaitTimeout);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_EQ(WaitAny({&stop}, 1000, fds[0], POLLIN), 1);
    close(fds[0]);
    close(fds[1]);
}

TEST(Clock, FileTimeRoundTripsThroughSystemTime) {
    // 2024-02-29 12:34:56.789 UTC, a Thursday (day of week 4).
    const dravnel::SYSTEMTIME st{2024, 2, 4, 29, 12, 34, 56, 789};
    uint64_t ft = 0;
    ASSERT_TRUE(platform::SystemTimeToFileTime(st, ft));
    EXPECT_EQ(ft, 133536836967890000ull);
    dravnel::SYSTEMTIME back{};
    ASSERT_TRUE(platform::FileTimeToSystemTime(ft, back));
    EXPECT_EQ(std::memcmp(&back, &st, sizeof st), 0);
    EXPECT_FALSE(platform::FileTimeToSystemTime(0, back));  // before 1970
}

TEST(Time, ElapsedIsZeroForAFutureStampAndGrowsAfterwards) {
    dravnel::CTime t;
    t.Set(platform::SystemTimeAsFileTime() + 10'000'000);  // one second ahead
    EXPECT_EQ(t.ElapsedMs(), 0u);
    t.Set(platform::SystemTimeAsFileTime() - 25'000'000);  // 2.5 s ago
    EXPECT_GE(t.ElapsedMs(), 2500u);
    EXPECT_LT(t.ElapsedMs(), 3500u);
}
