#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "platform/Clock.h"
#include "platform/Event.h"
#include "threads/CEvent.h"
#include "threads/CTime.h"

using platform::Event;
using platform::WaitAny;

TEST(Event, AutoResetWakesOneWaitThenClears) {
    Event e(Event::Mode::Auto);
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    e.Set();  // two sets before a wait still wake once
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, ManualResetStaysSetUntilReset) {
    Event e(Event::Mode::Manual);
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(0));
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
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

TEST(Event, SetFromAnotherThreadEndsAnInfiniteWait) {
    dravnel::CEvent e;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        e.Set();
    });
    EXPECT_TRUE(e.Wait(platform::kInfinite));
    setter.join();
}

TEST(Clock, FileTimeRoundTripsThroughSystemTime) {
    // 2024-02-29 12:34:56.789 UTC, a Thursday.
    dravnel::SYSTEMTIME st{2024, 2, 4, 29, 12, 34, 56, 789};
    uint64_t ft = 0;
    ASSERT_TRUE(platform::SystemTimeToFileTime(st, ft));
    EXPECT_EQ(ft, 133536836967890000ull);
    dravnel::SYSTEMTIME back;
    ASSERT_TRUE(platform::FileTimeToSystemTime(ft, back));
    EXPECT_EQ(back.wYear, 2024);
    EXPECT_EQ(back.wMonth, 2);
    EXPECT_EQ(back.wDayOfWeek, 4);
    EXPECT_EQ(back.wDay, 29);
    EXPECT_EQ(back.wHour, 12);
    EXPECT_EQ(back.wMinute, 34);
    EXPECT_EQ(back.wSecond, 56);
    EXPECT_EQ(back.wMilliseconds, 789);
    EXPECT_FALSE(platform::FileTimeToSystemTime(0, back));
}

TEST(Time, ElapsedIsZeroForAFutureStampAndGrowsAfterwards) {
    dravnel::CTime t;
    t.Set(platform::SystemTimeAsFileTime() + 10'000'000);  // one second ahead
    EXPECT_EQ(t.ElapsedMs(), 0u);
    t.Set(platform::SystemTimeAsFileTime() - 25'000'000);  // 2.5 s ago
    EXPECT_GE(t.ElapsedMs(), 2500u);
    EXPECT_LT(t.ElapsedMs(), 3500u);
}
