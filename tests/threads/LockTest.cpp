#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "threads/CLock.h"

using dravnel::CLock;

TEST(Lock, RecursiveLockIsFreedAfterMatchingUnlocksAndAWaiterRuns) {
    CLock lock;
    lock.Lock();
    lock.Lock();
    EXPECT_TRUE(lock.TryLock());  // the owner may always lock again
    bool otherGot = true;
    std::thread([&] { otherGot = lock.TryLock(); }).join();
    EXPECT_FALSE(otherGot);  // no one else, though

    std::atomic<bool> entered{false};
    std::thread other([&] {
        lock.Lock();
        entered = true;
        lock.Unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    lock.Unlock();
    lock.Unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(entered);  // still held once
    lock.Unlock();
    other.join();
    EXPECT_TRUE(entered);
    EXPECT_TRUE(lock.TryLock());
    lock.Unlock();
}

TEST(Lock, GivesMutualExclusionUnderContention) {
    CLock lock;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                dravnel::CScopedLock guard(lock);
                dravnel::CScopedLock again(lock);
                ++counter;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 80000);
}
