#include <gtest/gtest.h>

#include <atomic>

#include "tests/support/RecordingLog.h"
#include "threads/CBaseThread.h"
#include "threads/CTickThread.h"

namespace {

using quarnel::test::RecordingLog;

// Runs until stopped, or for a fixed time that ignores the stop event.
class Worker : public dravnel::CBaseThread {
public:
    explicit Worker(dravnel::IDebugMessage* log, int ignoreStopMs = 0)
        : CBaseThread(log), ignoreStopMs_(ignoreStopMs) {}
    ~Worker() override { JoinThread(5000); }
    uint32_t Run() override {
        ++runs;
        if (ignoreStopMs_ > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ignoreStopMs_));
            return 0;
        }
        if (selfStop) selfStopResult = StopThread(100) ? 1 : 0;
        stopEvent_.Wait(platform::kInfinite);
        return 0;
    }
    std::atomic<int> runs{0};
    std::atomic<bool> selfStop{false};
    std::atomic<int> selfStopResult{-1};

private:
    int ignoreStopMs_;
};

}  // namespace

TEST(BaseThread, JoinOfANeverStartedThreadSucceedsAtOnce) {
    RecordingLog log;
    Worker w(&log);
    EXPECT_TRUE(w.JoinThread(0));
    EXPECT_TRUE(log.Lines().empty());
}

TEST(BaseThread, StartOnARunningThreadIsRefusedAndLeavesItRunning) {
    RecordingLog log;
    Worker w(&log);
    ASSERT_TRUE(w.StartThread("first"));
    EXPECT_FALSE(w.StartThread("second"));
    EXPECT_TRUE(w.IsRunning());
    EXPECT_EQ(w.ThreadName(), "first");
    EXPECT_TRUE(w.JoinThread(2000));
    EXPECT_FALSE(w.IsRunning());
    // A stopped thread can be started again.
    ASSERT_TRUE(w.StartThread("again"));
    EXPECT_TRUE(w.StopThread(2000));
    EXPECT_EQ(w.runs, 2);
}

TEST(BaseThread, StopFromTheThreadItselfIsRefused) {
    RecordingLog log;
    Worker w(&log);
    w.selfStop = true;
    ASSERT_TRUE(w.StartThread("self"));
    for (int i = 0; i < 200 && w.selfStopResult < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(w.selfStopResult, 0);
    EXPECT_TRUE(w.JoinThread(2000));
}

TEST(BaseThread, AJoinThatOutlivesItsTimeOutLogsBeforeAndAfterWaitingOn) {
    RecordingLog log;
    Worker w(&log, 300);
    ASSERT_TRUE(w.StartThread("slow"));
    const uint32_t id = w.ThreadId();
    EXPECT_TRUE(w.JoinThread(50));
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(lines[0].text, "dravnel::CBaseThread::JoinThread: Thread (id=" + std::to_string(id) +
                                 ", name=\"slow\") was not stopped during 50 milliseconds");
    EXPECT_EQ(lines[1].level, 3);
    EXPECT_EQ(lines[1].text, "dravnel::CBaseThread::JoinThread: Thread (id=" + std::to_string(id) +
                                 ", name=\"slow\") was stopped correctly");
    EXPECT_FALSE(w.IsRunning());
}

TEST(BaseThread, AStopThatWouldTerminateWarnsAndStillWaitsForTheThread) {
    RecordingLog log;
    Worker w(&log, 300);
    ASSERT_TRUE(w.StartThread("stubborn"));
    EXPECT_TRUE(w.StopThread(50));
    EXPECT_FALSE(w.IsRunning());
    auto lines = log.Lines();
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_NE(lines[0].text.find("was not stopped during 50 milliseconds and will be terminated!"),
              std::string::npos);
    EXPECT_EQ(w.runs, 1);
}

namespace {
class Ticker : public dravnel::CTickThread {
public:
    Ticker(bool first) : CTickThread(nullptr, 20, first) {}
    ~Ticker() override { JoinThread(2000); }
    void OnTick() override { ++ticks; }
    std::atomic<int> ticks{0};
};
}  // namespace

TEST(TickThread, TicksFirstOnlyWhenAsked) {
    Ticker first(true), later(false);
    ASSERT_TRUE(first.StartThread("first"));
    ASSERT_TRUE(later.StartThread("later"));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(first.ticks, 1);
    EXPECT_EQ(later.ticks, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    first.JoinThread(1000);
    later.JoinThread(1000);
    EXPECT_GE(later.ticks, 2);
}
