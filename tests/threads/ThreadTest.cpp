// The thread base, the tick thread and the queue thread.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "tests/support/RecordingLog.h"
#include "tests/support/WaitUntil.h"
#include "threads/CQueueThread.h"
#include "threads/CTickThread.h"

namespace {

using dravnel::test::WaitUntil;

// Ticks first when asked, then every period until stopped. A tick may stay
// deaf to the stop event for a while, or try to stop its own thread.
class Ticker : public dravnel::CTickThread {
public:
    Ticker(dravnel::IDebugMessage* log, bool first, uint32_t periodMs = 60000) : CTickThread(log, periodMs, first) {}
    ~Ticker() override { JoinThread(5000); }
    void OnTick() override {
        ++ticks;
        std::this_thread::sleep_for(std::chrono::milliseconds(deafMs));
        if (selfStop) selfStopResult = StopThread(100) ? 1 : 0;
    }
    int deafMs = 0;
    bool selfStop = false;
    std::atomic<int> ticks{0}, selfStopResult{-1};
};

// The thread base walked through a tick thread that ticks first: a start on a
// running thread is refused, a stopped one starts again, a stop from the
// thread itself is refused, and a thread deaf to its stop event outlives the
// time-out of a join and of a stop. Neither kills it: both warn, wait on and
// report the end. Beside it, a thread that waits first ticks every period.
TEST(BaseThread, StartsOneThreadAtATimeNeverWaitsForItselfAndWaitsOnPastItsTimeOut) {
    Ticker often(nullptr, false, 10);
    ASSERT_TRUE(often.StartThread("often"));
    dravnel::test::RecordingLog log;
    Ticker t(&log, true);
    EXPECT_TRUE(t.JoinThread(0));  // never started: at once
    ASSERT_TRUE(t.StartThread("first"));
    EXPECT_FALSE(t.StartThread("second"));
    EXPECT_TRUE(t.IsRunning());
    EXPECT_EQ(t.ThreadName(), "first");
    EXPECT_TRUE(t.JoinThread(2000));  // a stop ends the wait for the period at once
    EXPECT_FALSE(t.IsRunning());
    t.selfStop = true;
    ASSERT_TRUE(t.StartThread("again"));
    ASSERT_TRUE(WaitUntil([&] { return t.selfStopResult >= 0; }));
    EXPECT_EQ(t.selfStopResult, 0);
    EXPECT_TRUE(t.StopThread(2000));
    EXPECT_EQ(t.ticks, 2);

    t.deafMs = 150;  // a stop from itself after that changes nothing
    for (const bool stop : {false, true}) {
        ASSERT_TRUE(t.StartThread("slow"));
        const std::string thread = "Thread (id=" + std::to_string(t.ThreadId()) + ", name=\"slow\") was ";
        const std::string operation =
            stop ? "dravnel::CBaseThread::StopThread: " : "dravnel::CBaseThread::JoinThread: ";
        EXPECT_TRUE(stop ? t.StopThread(50) : t.JoinThread(50));
        EXPECT_FALSE(t.IsRunning());
        const auto lines = log.Lines();
        ASSERT_EQ(lines.size(), stop ? 4u : 2u);  // nothing was logged before the first time-out
        EXPECT_EQ(lines[lines.size() - 2].level, 2);
        EXPECT_EQ(lines[lines.size() - 2].text,
                  operation + thread + "not stopped during 50 milliseconds" + (stop ? " and will be terminated!" : ""));
        EXPECT_EQ(lines.back().level, 3);
        EXPECT_EQ(lines.back().text, operation + thread + "stopped correctly");
    }
    EXPECT_EQ(t.ticks, 4);
    EXPECT_TRUE(WaitUntil([&] { return often.ticks >= 2; }));
}

std::atomic<int> liveItems{0};

struct Item {
    explicit Item(int v) : value(v) { ++liveItems; }
    virtual ~Item() { --liveItems; }
    int value;
};

// Item 0 blocks until released or stopped, so that the rest wait in the
// queue; item 7 throws after it was handled. The handled values are read after
// Stop.
class Queue : public dravnel::CQueueThread<Item> {
public:
    explicit Queue(size_t bound) : CQueueThread(nullptr, bound) {}
    ~Queue() override { Stop(); }
    void HandleWorkItem(Item* item) override {
        if (item->value == 0) {
            entered.Set();
            dravnel::platform::WaitAny({release.Handle(), stopEvent_.Handle()}, dravnel::platform::kInfinite);
        }
        handled.push_back(item->value);
        ++handledCount;
        if (item->value == 7) throw std::runtime_error("item failed");
    }
    dravnel::CManualEvent entered, release;
    std::vector<int> handled;
    std::atomic<size_t> handledCount{0};
};

TEST(QueueThread, TwentyItemsPostedWhileTheQueueIsBusy) {
    const struct {
        size_t bound;
        bool stop;      // the queue is stopped while item 0 blocks
        int firstKept;  // items firstKept..20 are handled after item 0
    } cases[] = {
        {16, false, 5},  // PTZ commands: the 16 newest wait
        {0, false, 1},   // output states: nothing is dropped
        {0, true, 21},   // a stop deletes the waiting items unhandled
    };
    for (const auto& c : cases) {
        Queue q(c.bound);
        ASSERT_TRUE(q.Start("queue"));
        ASSERT_TRUE(q.Post(new Item(0)));
        ASSERT_TRUE(q.entered.Wait(2000));
        for (int i = 1; i <= 20; ++i) ASSERT_TRUE(q.Post(new Item(i)));
        if (c.stop) q.Stop();
        q.release.Set();
        std::vector<int> want = {0};
        for (int i = c.firstKept; i <= 20; ++i) want.push_back(i);
        // The throwing item 7 does not end the queue.
        EXPECT_TRUE(WaitUntil([&] { return q.handledCount >= want.size(); }));
        q.Stop();
        EXPECT_EQ(q.handled, want) << "bound " << c.bound << (c.stop ? ", stopped" : "");
        EXPECT_FALSE(q.Post(new Item(99)));  // after the stop: deleted at once
        EXPECT_EQ(liveItems, 0);
    }
}

}  // namespace
