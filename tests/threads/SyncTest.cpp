// Events, the recursive lock, and wall-clock time stamps.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Event.h"
#include "tests/support/ThreadState.h"
#include "threads/CLock.h"
#include "threads/CTime.h"

using dravnel::platform::WaitAny;

TEST(Event, AutoResetWakesOnceManualResetStaysSetAndWaitAnyCoversEventsAndASocket) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    dravnel::platform::Event manual(dravnel::platform::Event::Mode::Manual),
        autoReset(dravnel::platform::Event::Mode::Auto);
    EXPECT_EQ(WaitAny({&manual, &autoReset}, 20), dravnel::platform::kWaitTimeout);
    EXPECT_EQ(WaitAny({&manual, &autoReset}, 10, fds[0], POLLIN), dravnel::platform::kWaitTimeout);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_EQ(WaitAny({&manual, &autoReset}, 1000, fds[0], POLLIN), 2);  // the socket's index follows the events
    autoReset.Set();
    autoReset.Set();  // two sets before a wait still wake once
    EXPECT_EQ(WaitAny({&manual, &autoReset}, 0), 1);
    EXPECT_FALSE(autoReset.Wait(0));
    manual.Set();
    autoReset.Set();
    EXPECT_EQ(WaitAny({&manual, &autoReset}, 0, fds[0], POLLIN), 0);  // the lowest index wins
    EXPECT_TRUE(autoReset.Wait(0));                                   // and the auto-reset one was not consumed
    EXPECT_TRUE(manual.Wait(0));                                      // the manual one stays set until reset
    manual.Reset();
    EXPECT_FALSE(manual.Wait(0));
    close(fds[0]);
    close(fds[1]);
}

// An event holds no descriptor until a wait puts it beside a socket, and
// keeps the one it gets then. Either way a Set from another thread ends the
// wait, whichever comes first: the set (joined before the wait begins) or the
// wait (the setter sets only once it sees the waiter asleep in the kernel).
TEST(Event, HoldsADescriptorOnlyOnceWaitedBesideASocket) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    dravnel::platform::Event plain, manual(dravnel::platform::Event::Mode::Manual);
    const pid_t waiter = gettid();
    for (const bool besideSocket : {false, true}) {
        SCOPED_TRACE(besideSocket ? "beside a socket" : "events alone");
        // A wait beside a socket sleeps in poll; one on events alone, on a futex.
        const auto& sleeping = besideSocket ? dravnel::test::kPollCalls : dravnel::test::kFutexCalls;
        for (const bool setFirst : {true, false}) {
            SCOPED_TRACE(setFirst ? "set, then wait" : "wait, then set");
            std::atomic<bool> sawWaiterAsleep = setFirst;
            std::thread setter([&] {
                if (!setFirst) sawWaiterAsleep = dravnel::test::WaitUntilSleepingIn(waiter, sleeping);
                manual.Set();
            });
            if (setFirst) setter.join();
            EXPECT_EQ(WaitAny({&plain, &manual}, dravnel::platform::kInfinite, besideSocket ? fds[0] : -1, POLLIN), 1);
            if (!setFirst) setter.join();
            EXPECT_TRUE(sawWaiterAsleep);
            manual.Reset();
        }
        EXPECT_EQ(WaitAny({&plain, &manual}, 10, besideSocket ? fds[0] : -1, POLLIN), dravnel::platform::kWaitTimeout);
        EXPECT_EQ(plain.HasFd(), besideSocket);
        EXPECT_EQ(manual.HasFd(), besideSocket);
    }
    close(fds[0]);
    close(fds[1]);
}

// The lock is held three deep while four threads queue for it; none of them
// gets it before the third unlock (each notes whether the owner had let go
// when it first got in), and then they exclude each other, each locking twice.
TEST(Lock, RecursiveLockIsFreedAfterMatchingUnlocksAndThenExcludesItsWaiters) {
    dravnel::CLock lock;
    lock.Lock();
    lock.Lock();
    EXPECT_TRUE(lock.TryLock());  // the owner may always lock again
    const auto otherGets = [&] {
        bool got = true;
        std::thread([&] {
            got = lock.TryLock();
            if (got) lock.Unlock();
        }).join();
        return got;
    };
    EXPECT_FALSE(otherGets());  // no one else, though

    long counter = 0;
    std::atomic<int> queued{0}, early{0};
    std::atomic<bool> released{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            ++queued;
            for (int i = 0; i < 20000; ++i) {
                dravnel::CScopedLock guard(lock);
                dravnel::CScopedLock again(lock);
                if (i == 0 && !released) ++early;
                ++counter;
            }
        });
    }
    while (queued < 4) std::this_thread::yield();
    lock.Unlock();
    lock.Unlock();
    EXPECT_FALSE(otherGets());  // still held once
    released = true;
    lock.Unlock();
    for (auto& t : threads) t.join();
    EXPECT_EQ(early.load(), 0);
    EXPECT_EQ(counter, 80000);
    EXPECT_TRUE(lock.TryLock());
    lock.Unlock();
}

// FILETIME (100 ns units since 1601) against SYSTEMTIME, and the time stamp
// that measures silences in it: a stamp ahead of the clock has no elapsed time.
TEST(Clock, FileTimeRoundTripsThroughSystemTimeAndAStampAheadIsNotElapsed) {
    // 2024-02-29 12:34:56.789 UTC, a Thursday (day of week 4).
    const dravnel::SYSTEMTIME st{2024, 2, 4, 29, 12, 34, 56, 789};
    uint64_t ft = 0;
    ASSERT_TRUE(dravnel::platform::SystemTimeToFileTime(st, ft));
    EXPECT_EQ(ft, 133536836967890000ull);
    dravnel::SYSTEMTIME back{};
    ASSERT_TRUE(dravnel::platform::FileTimeToSystemTime(ft, back));
    EXPECT_EQ(std::memcmp(&back, &st, sizeof st), 0);
    EXPECT_FALSE(dravnel::platform::FileTimeToSystemTime(0, back));  // before 1970

    dravnel::CTime stamp;
    stamp.Set(dravnel::platform::SystemTimeAsFileTime() + 10'000'000);  // one second ahead
    EXPECT_EQ(stamp.ElapsedMs(), 0u);
    stamp.Set(dravnel::platform::SystemTimeAsFileTime() - 25'000'000);  // 2.5 s ago
    EXPECT_GE(stamp.ElapsedMs(), 2500u);
    EXPECT_LT(stamp.ElapsedMs(), 3500u);
}
