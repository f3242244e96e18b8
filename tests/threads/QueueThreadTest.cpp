#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "threads/CEvent.h"
#include "threads/CQueueThread.h"

namespace {

std::atomic<int> liveItems{0};

struct Item {
    explicit Item(int v, bool t = false) : value(v), fail(t) { ++liveItems; }
    virtual ~Item() { --liveItems; }
    int value;
    bool fail;
};

// The first item blocks until released, so that the rest wait in the queue.
class Queue : public dravnel::CQueueThread<Item> {
public:
    explicit Queue(size_t bound) : CQueueThread(nullptr, bound) {}
    ~Queue() override { Stop(); }
    void HandleWorkItem(Item* item) override {
        if (item->value == 0) {
            entered.Set();
            release.Wait(platform::kInfinite);
        }
        {
            std::lock_guard<std::mutex> guard(mutex);
            handled.push_back(item->value);
        }
        if (item->fail) throw std::runtime_error("item failed");
    }
    std::vector<int> Handled() {
        std::lock_guard<std::mutex> guard(mutex);
        return handled;
    }
    bool WaitHandled(size_t n) {
        for (int i = 0; i < 400; ++i) {
            if (Handled().size() >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    dravnel::CManualEvent entered, release;
    std::mutex mutex;
    std::vector<int> handled;
};

}  // namespace

struct QueueBound {
    size_t bound;
    std::vector<int> expected;  // items handled after the blocking one
};

class QueueBoundTest : public ::testing::TestWithParam<QueueBound> {};

TEST_P(QueueBoundTest, TwentyItemsPostedToABusyQueue) {
    Queue q(GetParam().bound);
    ASSERT_TRUE(q.Start("queue"));
    ASSERT_TRUE(q.Post(new Item(0)));
    ASSERT_TRUE(q.entered.Wait(2000));
    for (int i = 1; i <= 20; ++i) ASSERT_TRUE(q.Post(new Item(i)));
    q.release.Set();
    std::vector<int> want = {0};
    want.insert(want.end(), GetParam().expected.begin(), GetParam().expected.end());
    ASSERT_TRUE(q.WaitHandled(want.size()));
    EXPECT_EQ(q.Handled(), want);
    q.Stop();
    EXPECT_EQ(liveItems, 0);
}

INSTANTIATE_TEST_SUITE_P(Queue, QueueBoundTest,
                         ::testing::Values(
                             // PTZ commands: at most 16 wait, the newest kept.
                             QueueBound{16, {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}},
                             // Output states: nothing is dropped.
                             QueueBound{0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18,
                                            19, 20}}));

TEST(QueueThread, StopDeletesWaitingItemsUnhandled) {
    Queue q(0);
    ASSERT_TRUE(q.Start("queue"));
    ASSERT_TRUE(q.Post(new Item(0)));
    ASSERT_TRUE(q.entered.Wait(2000));
    for (int i = 1; i <= 5; ++i) q.Post(new Item(i));
    std::thread stopper([&] { q.Stop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    q.release.Set();
    stopper.join();
    EXPECT_EQ(q.Handled(), std::vector<int>{0});
    EXPECT_EQ(liveItems, 0);
    // Posting after the stop deletes the item at once.
    EXPECT_FALSE(q.Post(new Item(99)));
    EXPECT_EQ(liveItems, 0);
}

TEST(QueueThread, AnItemThatThrowsIsDroppedAndTheQueueGoesOn) {
    Queue q(0);
    q.release.Set();
    ASSERT_TRUE(q.Start("queue"));
    q.Post(new Item(1, true));
    q.Post(new Item(2));
    ASSERT_TRUE(q.WaitHandled(2));
    EXPECT_EQ(q.Handled(), (std::vector<int>{1, 2}));
    q.Stop();
    EXPECT_EQ(liveItems, 0);
}
