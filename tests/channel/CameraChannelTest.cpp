// The camera channel's lifecycle and capture loop, driven through a channel
// whose hooks follow a script and whose "device" is a feeder thread that
// hands frames to the host sink while a session is up and the device sends.
// Time-outs are shrunk: HttpTimeout 150 ms, StreamTimeout 600 ms, loop
// waits 20 ms.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "channel/CBaseCameraChannel.h"
#include "tests/support/FakeDriver.h"
#include "tests/support/WaitUntil.h"
#include "tools/host/ChannelSink.h"
#include "tools/host/FrameAllocator.h"

namespace {

using dravnel::ChannelParams;
using dravnel::kChannelSignalLost;
using dravnel::kChannelStopped;
using dravnel::kChannelStreaming;
using quarnel::test::FakeDriver;
using quarnel::test::WaitUntil;
using namespace std::chrono_literals;

constexpr const char* kOnline = "dravnel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online";
constexpr const char* kStopped =
    "dravnel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is offline. Channel was stopped";
constexpr const char* kSignalLost = "dravnel::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.1";

class ScriptedChannel : public dravnel::CBaseCameraChannel {
public:
    ScriptedChannel(unsigned channel, dravnel::IDriver* driver, dravnel::ipcapture::IHostChannelSink* sink)
        : CBaseCameraChannel(channel, driver, sink), sink_(sink) {
        loopWaitMs_ = 20;
        feeder_ = std::thread([this] { Feed(); });
    }
    ~ScriptedChannel() override {
        Stop();
        quit_ = true;
        feeder_.join();
    }

    uint32_t Run() override {
        ++runs;
        if (++active > maxActive) maxActive = active.load();
        struct Leave {
            std::atomic<int>& count;
            ~Leave() { --count; }
        } leave{active};  // also when a hook throws
        return RunCaptureLoop();
    }

    void SetPeriodicInterval(uint32_t ms) { periodicIntervalMs_ = ms; }

    // Script
    std::atomic<bool> deviceSends{true};
    std::atomic<bool> prepareOk{true};
    std::atomic<bool> startOk{true};
    std::atomic<bool> applyOk{true};
    std::function<void()> onPrepare;  // runs inside PrepareStream on the capture thread

    // What happened
    std::atomic<int> runs{0}, active{0}, maxActive{0};
    std::atomic<int> prepares{0}, startsStreaming{0}, applies{0}, periodics{0};
    std::atomic<int> stopThreadCalls{0};
    std::atomic<bool> session{false};

protected:
    bool PrepareStream() override {
        ++prepares;
        if (onPrepare) onPrepare();
        return prepareOk;
    }
    bool StartStreaming() override {
        ++startsStreaming;
        session = startOk.load();
        return startOk;
    }
    void StopStreaming() override { session = false; }
    bool ApplyUpdate() override {
        ++applies;
        return applyOk;
    }
    void OnPeriodic() override { ++periodics; }
    void OnStopThread() override { ++stopThreadCalls; }

private:
    // What the stream channel does with a finished frame.
    void Feed() {
        while (!quit_) {
            if (session && deviceSends) {
                quarnel::host::HostFrame frame(dravnel::kCodecTagH264, 16, "Quarnel");
                SignalStreamStarted();
                if (sink_ && sink_->DeliverFrame(&frame)) OnFrameAccepted();
            }
            std::this_thread::sleep_for(10ms);
        }
    }

    dravnel::ipcapture::IHostChannelSink* sink_;
    std::atomic<bool> quit_{false};
    std::thread feeder_;
};

// A host sink that also notes the channel state at each silence notice.
class WatchingSink : public quarnel::host::ChannelSink {
public:
    WatchingSink() : ChannelSink(false) {}
    void OnStreamSilent() override {
        if (dravnel::ICameraChannel* watched = channel.load()) {
            if (watched->GetChannelState() != kChannelSignalLost) ++silentInOtherState;
        }
        ChannelSink::OnStreamSilent();
    }
    std::atomic<dravnel::ICameraChannel*> channel{nullptr};
    std::atomic<int> silentInOtherState{0};
};

class CameraChannel : public ::testing::Test {
protected:
    CameraChannel() {
        driver.device.HttpTimeout = 150;
        driver.device.StreamTimeout = 600;
    }
    ChannelParams Params() const { return {40, 50, 704, 576}; }

    FakeDriver driver;
    WatchingSink sink;
};

TEST_F(CameraChannel, StreamsThenStopsWithTheStoppedMessage) {
    ScriptedChannel channel(0, &driver, &sink);
    sink.channel = &channel;
    EXPECT_EQ(channel.GetChannelState(), kChannelStopped);  // a new channel
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return channel.GetChannelState() == kChannelStreaming; }));
    ASSERT_TRUE(driver.WaitFor(kOnline, 2s));

    channel.Stop();
    EXPECT_EQ(channel.GetChannelState(), kChannelStopped);
    EXPECT_FALSE(channel.IsCameraOnline());
    EXPECT_FALSE(channel.session);  // the loop's end closed the session
    EXPECT_GE(channel.stopThreadCalls, 1);
    const auto stopped = driver.LinesContaining(kStopped);
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_EQ(stopped[0].level, dravnel::kLevelInfo);
    EXPECT_EQ(driver.LinesContaining(kOnline)[0].level, dravnel::kLevelInfo);
    EXPECT_EQ(driver.CountContaining("Signal was lost"), 0u);

    channel.Stop();  // a second stop is harmless and silent
    EXPECT_EQ(driver.CountContaining(kStopped), 1u);
}

TEST_F(CameraChannel, StartOnARunningChannelRestartsItWithOneLoopAtATime) {
    ScriptedChannel channel(0, &driver, &sink);
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return channel.prepares >= 1; }));
    ChannelParams second = Params();
    second.ModeWord = 90;
    ASSERT_TRUE(channel.Start(second));
    ASSERT_TRUE(WaitUntil([&] { return channel.runs == 2 && channel.GetChannelState() == kChannelStreaming; }));
    EXPECT_EQ(channel.maxActive, 1);
    EXPECT_EQ(channel.GetParams().ModeWord, 90u);
}

TEST_F(CameraChannel, ADeviceThatNeverSendsIsReconnectedAndReportedSilentButNeverLost) {
    ScriptedChannel channel(0, &driver, &sink);
    sink.channel = &channel;
    channel.deviceSends = false;
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(channel.Start(Params()));

    // From the whole stream time-out on, the host hears of the silence in
    // every pass (the channel then in state 2), while every pass connects
    // again (state 3 during the attempt).
    ASSERT_TRUE(WaitUntil([&] {
        EXPECT_NE(channel.GetChannelState(), kChannelStreaming);
        return sink.SilenceCount() >= 3;
    }));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 600ms);
    EXPECT_EQ(sink.silentInOtherState, 0);
    EXPECT_GE(channel.prepares, 4);
    channel.Stop();

    EXPECT_EQ(driver.CountContaining("Signal was lost"), 0u);
    EXPECT_EQ(driver.CountContaining("is online"), 0u);
    EXPECT_EQ(driver.CountContaining("is offline"), 0u);  // it never was online
}

TEST_F(CameraChannel, AStreamThatStopsIsLostOnceReconnectedAndRecovers) {
    ScriptedChannel channel(0, &driver, &sink);
    sink.channel = &channel;
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(driver.WaitFor(kOnline, 2s));
    ASSERT_TRUE(WaitUntil([&] { return channel.GetChannelState() == kChannelStreaming; }));
    const int preparesWhileStreaming = channel.prepares;

    // Half the stream time-out of silence (300 ms) marks the signal lost and
    // makes the next pass reconnect; the last frame came at most a feeder
    // period (10 ms) before the device fell silent.
    channel.deviceSends = false;
    const auto silentFrom = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return channel.prepares > preparesWhileStreaming; }));
    EXPECT_GE(std::chrono::steady_clock::now() - silentFrom, 280ms);

    // The whole stream time-out: the silence notice and one "Signal was lost".
    ASSERT_TRUE(driver.WaitFor(kSignalLost, 2s));
    ASSERT_TRUE(WaitUntil([&] { return sink.SilenceCount() >= 3; }));
    EXPECT_GE(std::chrono::steady_clock::now() - silentFrom, 580ms);
    EXPECT_EQ(sink.silentInOtherState, 0);
    const auto lost = driver.LinesContaining("Signal was lost");
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].text, kSignalLost);
    EXPECT_EQ(lost[0].level, dravnel::kLevelError);
    EXPECT_FALSE(channel.IsCameraOnline());

    channel.deviceSends = true;
    ASSERT_TRUE(WaitUntil([&] { return channel.GetChannelState() == kChannelStreaming; }));
    ASSERT_TRUE(driver.WaitFor(kOnline, 2s, 2));
}

TEST_F(CameraChannel, FramesTheHostRefusesAreNoActivity) {
    sink.accept = false;
    ScriptedChannel channel(0, &driver, &sink);
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return sink.SilenceCount() >= 1; }));
    EXPECT_EQ(driver.CountContaining("is online"), 0u);
}

TEST_F(CameraChannel, AFailedConnectClosesTheSessionAndIsRetried) {
    ScriptedChannel channel(0, &driver, &sink);
    channel.startOk = false;
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return channel.startsStreaming >= 3; }));
    EXPECT_EQ(channel.GetChannelState() == kChannelStreaming, false);

    channel.prepareOk = false;
    const int starts = channel.startsStreaming;
    ASSERT_TRUE(WaitUntil([&] { return channel.prepares >= 6; }));
    EXPECT_LE(channel.startsStreaming, starts + 1);  // no start after a failed preparation

    channel.prepareOk = true;
    channel.startOk = true;
    ASSERT_TRUE(WaitUntil([&] { return channel.GetChannelState() == kChannelStreaming; }));
}

TEST_F(CameraChannel, UpdateKeepsTheModeWordAndTheSessionUnlessItFails) {
    ScriptedChannel channel(0, &driver, &sink);
    ASSERT_TRUE(channel.Start({40, 77, 704, 576}));
    ASSERT_TRUE(WaitUntil([&] { return channel.GetChannelState() == kChannelStreaming; }));
    const int prepares = channel.prepares;

    EXPECT_TRUE(channel.UpdateParams({100, 5, 352, 288}));
    ASSERT_TRUE(WaitUntil([&] { return channel.applies == 1; }));
    const ChannelParams now = channel.GetParams();
    EXPECT_EQ(now.FrameInterval, 100u);
    EXPECT_EQ(now.ModeWord, 77u);
    EXPECT_EQ(now.Width, 352u);
    EXPECT_EQ(now.Height, 288u);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(channel.prepares, prepares);  // a successful update keeps the session

    channel.applyOk = false;  // a failed one reconnects, without a lost signal
    channel.UpdateParams({100, 0, 352, 288});
    ASSERT_TRUE(WaitUntil([&] { return channel.prepares > prepares; }));
    ASSERT_TRUE(WaitUntil([&] { return channel.GetChannelState() == kChannelStreaming; }));
    EXPECT_EQ(driver.CountContaining("Signal was lost"), 0u);
}

TEST_F(CameraChannel, PeriodicWorkRunsOnlyWhileStreaming) {
    ScriptedChannel channel(0, &driver, &sink);
    channel.SetPeriodicInterval(30);
    channel.deviceSends = false;
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return channel.prepares >= 3; }));
    EXPECT_EQ(channel.periodics, 0);
    channel.deviceSends = true;
    ASSERT_TRUE(WaitUntil([&] { return channel.periodics >= 2; }));
}

TEST_F(CameraChannel, StopFromAHookDoesNotWaitForItself) {
    ScriptedChannel channel(0, &driver, &sink);
    std::atomic<bool> hookReturned{false};
    channel.onPrepare = [&] {
        channel.Stop();
        hookReturned = true;
    };
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return hookReturned.load() && channel.active == 0; }));
    EXPECT_EQ(channel.GetChannelState(), kChannelStopped);
    EXPECT_EQ(channel.prepares, 1);  // the loop ended after that pass
    channel.onPrepare = nullptr;
    // The host's later start waits for the finished thread and runs anew.
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return channel.GetChannelState() == kChannelStreaming; }));
}

TEST_F(CameraChannel, StopFromAHookWhileTheHostStopsDoesNotDeadlock) {
    ScriptedChannel channel(0, &driver, &sink);
    std::atomic<bool> inHook{false};
    std::atomic<bool> hookReturned{false};
    channel.onPrepare = [&] {
        inHook = true;
        std::this_thread::sleep_for(60ms);  // the host's stop now holds the thread lock
        channel.Stop();
        hookReturned = true;
    };
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return inHook.load(); }));
    channel.Stop();
    EXPECT_TRUE(hookReturned);
    EXPECT_EQ(channel.active, 0);
}

TEST_F(CameraChannel, AThreadThatOutlivesTheStopTimeOutIsWarnedAboutAndWaitedFor) {
    driver.device.HttpTimeout = 40;  // the stop waits 80 ms
    ScriptedChannel channel(0, &driver, &sink);
    std::atomic<bool> inHook{false};
    std::atomic<bool> hookReturned{false};
    channel.onPrepare = [&] {
        inHook = true;
        std::this_thread::sleep_for(300ms);  // deaf to the stop event
        hookReturned = true;
    };
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return inHook.load(); }));
    channel.Stop();
    EXPECT_TRUE(hookReturned);  // never killed: the stop waited on
    EXPECT_EQ(channel.active, 0);
    const auto warned = driver.LinesContaining(
        "dravnel::CBaseCameraChannel::StopThread: Video capture thread for camera 127.0.0.1 cannot be stopped "
        "and will be terminated now");
    ASSERT_EQ(warned.size(), 1u);
    EXPECT_EQ(warned[0].level, dravnel::kLevelWarning);
}

TEST_F(CameraChannel, AnExceptionInAHookEndsOnlyTheCapture) {
    ScriptedChannel channel(0, &driver, &sink);
    channel.onPrepare = [] { throw std::runtime_error("scripted failure"); };
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(driver.WaitFor("scripted failure", 2s));
    EXPECT_TRUE(WaitUntil([&] { return channel.active == 0; }));
    EXPECT_EQ(channel.GetChannelState(), kChannelStopped);
    EXPECT_EQ(driver.LinesContaining("scripted failure")[0].level, dravnel::kLevelError);
}

struct OfflineCase {
    int state;
    int level;
    const char* text;
};

class OfflineMessages : public ::testing::TestWithParam<OfflineCase> {};

TEST_P(OfflineMessages, DependOnTheChannelStateAtThatMoment) {
    FakeDriver driver;
    driver.device.Address = "10.0.0.5";
    driver.channelCount = 2;
    ScriptedChannel channel(1, &driver, nullptr);
    channel.SetCameraState(false);  // already offline: nothing
    channel.SetCameraState(true);
    channel.SetCameraState(true);  // no change: nothing
    channel.SetChannelState(GetParam().state);
    channel.SetCameraState(false);
    const auto lines = driver.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text,
              "dravnel::CBaseCameraChannel::SetCameraState: Video-server 10.0.0.5 (channel 1) is online");
    EXPECT_EQ(lines[1].level, GetParam().level);
    EXPECT_EQ(lines[1].text, std::string("dravnel::CBaseCameraChannel::SetCameraState: ") + GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    CameraChannel, OfflineMessages,
    ::testing::Values(OfflineCase{kChannelSignalLost, dravnel::kLevelError,
                                  "Signal was lost for video-server 10.0.0.5 (channel 1)"},
                      OfflineCase{kChannelStopped, dravnel::kLevelInfo,
                                  "Video-server 10.0.0.5 (channel 1) is offline. Channel was stopped"},
                      OfflineCase{kChannelStreaming, dravnel::kLevelError,
                                  "Video-server 10.0.0.5 (channel 1) is offline or failed"}));

TEST(CameraChannelState, OnlineChangesRacingFromManyThreadsLogOncePerChange) {
    FakeDriver driver;
    ScriptedChannel channel(0, &driver, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 200; ++k) channel.SetCameraState(true);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(driver.CountContaining("is online"), 1u);
}

}  // namespace
