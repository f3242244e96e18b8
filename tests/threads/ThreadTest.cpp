#include <gtest/gtest.h>

#include <atomic>

#include "tests/support/RecordingLog.h"
#include "tests/support/WaitUntil.h"
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

TEST(BaseThread, StartOnARunningThreadIsRefusedAndAStoppedOneStartsAgain) {
    RecordingLog log;
    Worker w(&log);
    EXPECT_TRUE(w.JoinThread(0));  // never started: at once
    ASSERT_TRUE(w.StartThread("first"));
    EXPECT_FALSE(w.StartThread("second"));
    EXPECT_TRUE(w.IsRunning());
    EXPECT_EQ(w.ThreadName(), "first");
    EXPECT_TRUE(w.JoinThread(2000));
    EXPECT_FALSE(w.IsRunning());
    ASSERT_TRUE(w.StartThread("again"));
    EXPECT_TRUE(w.StopThread(2000));
    EXPECT_EQ(w.runs, 2);
    EXPECT_TRUE(log.Lines().empty());
}

TEST(BaseThread, StopFromTheThreadItselfIsRefused) {
    RecordingLog log;
    Worker w(&log);
    w.selfStop = true;
    ASSERT_TRUE(w.StartThread("self"));
    ASSERT_TRUE(quarnel::test::WaitUntil([&] { return w.selfStopResult >= 0; }));
    EXPECT_EQ(w.selfStopResult, 0);
    EXPECT_TRUE(w.JoinThread(2000));
}

// A thread deaf to its stop event outlives the time-out of a join and of a
// stop. Neither kills it: both warn, wait on and report the end.
TEST(BaseThread, JoinAndStopThatOutliveTheirTimeOutWarnAndWaitOn) {
    for (const bool stop : {false, true}) {
        RecordingLog log;
        Worker w(&log, 150);
        ASSERT_TRUE(w.StartThread("slow"));
        const std::string thread = "Thread (id=" + std::to_string(w.ThreadId()) + ", name=\"slow\") was ";
        const std::string operation = stop ? "dravnel::CBaseThread::StopThread: " : "dravnel::CBaseThread::JoinThread: ";
        EXPECT_TRUE(stop ? w.StopThread(50) : w.JoinThread(50));
        EXPECT_FALSE(w.IsRunning());
        EXPECT_EQ(w.runs, 1);
        const auto lines = log.Lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].level, 2);
        EXPECT_EQ(lines[0].text, operation + thread + "not stopped during 50 milliseconds" +
                                     (stop ? " and will be terminated!" : ""));
        EXPECT_EQ(lines[1].level, 3);
        EXPECT_EQ(lines[1].text, operation + thread + "stopped correctly");
    }
}

class Ticker : public dravnel::CTickThread {
public:
    Ticker(bool first, uint32_t periodMs) : CTickThread(nullptr, periodMs, first) {}
    ~Ticker() override { JoinThread(2000); }
    void OnTick() override { ++ticks; }
    std::atomic<int> ticks{0};
};

TEST(TickThread, TicksFirstOnlyWhenAskedThenEveryPeriodUntilStopped) {
    Ticker first(true, 60000), later(false, 60000), often(false, 10);
    ASSERT_TRUE(first.StartThread("first"));
    ASSERT_TRUE(later.StartThread("later"));
    ASSERT_TRUE(often.StartThread("often"));
    ASSERT_TRUE(quarnel::test::WaitUntil([&] { return first.ticks == 1 && often.ticks >= 2; }));
    EXPECT_EQ(later.ticks, 0);
    const auto begin = std::chrono::steady_clock::now();
    first.JoinThread(1000);  // a stop ends the wait for the period at once
    later.JoinThread(1000);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));
    EXPECT_EQ(first.ticks, 1);
}

}  // namespace
