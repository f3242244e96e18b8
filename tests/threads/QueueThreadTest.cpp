#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "tests/support/WaitUntil.h"
#include "threads/CEvent.h"
#include "threads/CQueueThread.h"

namespace {

std::atomic<int> liveItems{0};

struct Item {
    explicit Item(int v) : value(v) { ++liveItems; }
    virtual ~Item() { --liveItems; }
    int value;
};

// Item 0 blocks until released, so that the rest wait in the queue; item 7
// throws after it was handled.
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
        if (item->value == 7) throw std::runtime_error("item failed");
    }
    std::vector<int> Handled() {
        std::lock_guard<std::mutex> guard(mutex);
        return handled;
    }
    dravnel::CManualEvent entered, release;
    std::mutex mutex;
    std::vector<int> handled;
};

struct QueueBound {
    size_t bound;
    int firstKept;  // items firstKept..20 are handled after the blocking one
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
    for (int i = GetParam().firstKept; i <= 20; ++i) want.push_back(i);
    // The throwing item 7 does not end the queue.
    ASSERT_TRUE(quarnel::test::WaitUntil([&] { return q.Handled().size() >= want.size(); }));
    EXPECT_EQ(q.Handled(), want);
    q.Stop();
    EXPECT_EQ(liveItems, 0);
}

INSTANTIATE_TEST_SUITE_P(Queue, QueueBoundTest,
                         ::testing::Values(QueueBound{16, 5},  // PTZ commands: the 16 newest wait
                                           QueueBound{0, 1}));  // output states: nothing is dropped

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

}  // namespace
