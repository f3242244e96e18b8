// The camera channel's lifecycle and capture loop, driven through a channel
// whose hooks follow a script and whose "device" is a feeder thread that
// hands frames to the host sink while a session is up and the device sends.
// Time-outs are shrunk: HttpTimeout 150 ms, StreamTimeout 600 ms, loop
// waits 20 ms, periodic work every 30 ms.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "channel/CBaseCameraChannel.h"
#include "tests/support/FakeDriver.h"
#include "tests/support/WaitUntil.h"
#include "tools/host/ChannelSink.h"
#include "tools/host/FrameAllocator.h"

namespace {

using dravnel::kChannelStopped;
using dravnel::kChannelStreaming;
using dravnel::test::FakeDriver;
using dravnel::test::WaitUntil;
using namespace std::chrono_literals;

const std::string kSetCameraState = "dravnel::CBaseCameraChannel::SetCameraState: ";
const std::string kOnline = kSetCameraState + "Camera 127.0.0.1 is online";
const std::string kStopped = kSetCameraState + "Camera 127.0.0.1 is offline. Channel was stopped";

class ScriptedChannel : public dravnel::CBaseCameraChannel {
public:
    ScriptedChannel(dravnel::IDriver* driver, dravnel::ipcapture::IHostChannelSink* sink, unsigned channel = 0)
        : CBaseCameraChannel(channel, driver, sink), sink_(sink) {
        loopWaitMs_ = 20;
        periodicIntervalMs_ = 30;
        feeder_ = std::jthread([this](std::stop_token quit) { Feed(quit); });
    }
    ~ScriptedChannel() override { Stop(); }  // the feeder goes next
    uint32_t Run() override {
        if (++active > maxActive) maxActive = active.load();
        struct Leave {
            std::atomic<int>& count;
            ~Leave() { --count; }
        } leave{active};  // also when a hook throws
        return RunCaptureLoop();
    }

    // Script
    std::atomic<bool> deviceSends{true}, prepareOk{true}, applyOk{true};
    std::function<void()> onPrepare;  // runs inside PrepareStream on the capture thread

    // What happened
    std::atomic<int> active{0}, maxActive{0}, stopThreadCalls{0};
    std::atomic<int> prepares{0}, starts{0}, applies{0}, periodics{0};
    std::atomic<bool> session{false};

protected:
    bool PrepareStream() override {
        ++prepares;
        if (onPrepare) onPrepare();
        return prepareOk;
    }
    bool StartStreaming() override {
        ++starts;
        session = true;
        return true;
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
    void Feed(const std::stop_token& quit) {
        while (!quit.stop_requested()) {
            if (session && deviceSends) {
                dravnel::host::HostFrame frame(dravnel::kCodecTagH264, 16, "Quarnel");
                SignalStreamStarted();
                if (sink_ && sink_->DeliverFrame(&frame)) OnFrameAccepted();
            }
            std::this_thread::sleep_for(10ms);
        }
    }

    dravnel::ipcapture::IHostChannelSink* sink_;
    std::jthread feeder_;
};

// A host sink that also counts silence notices given in another state than 2.
class WatchingSink : public dravnel::host::ChannelSink {
public:
    void OnStreamSilent() override {
        if (channel && channel->GetChannelState() != dravnel::kChannelSignalLost) ++silentInOtherState;
        ChannelSink::OnStreamSilent();
    }
    dravnel::ICameraChannel* channel = nullptr;
    std::atomic<int> silentInOtherState{0};
};

class CameraChannel : public ::testing::Test {
protected:
    CameraChannel() {
        driver.device.HttpTimeout = 150;
        driver.device.StreamTimeout = 600;
        sink.channel = &channel;
    }
    static dravnel::ChannelParams Params(uint32_t modeWord = 50) { return {40, modeWord, 704, 576}; }
    bool Streaming() { return channel.GetChannelState() == kChannelStreaming; }

    FakeDriver driver;
    WatchingSink sink;
    ScriptedChannel channel{&driver, &sink};
};

// One channel's life. A failed preparation is retried in the next pass, with
// no start. A device that gets no frame to the host: every pass connects
// again (never state 0) and, from the whole stream time-out on, the host
// hears of the silence in every pass, the channel then in state 2; no
// message, as the camera never went online. Then it streams, is restarted,
// updated and stopped.
TEST_F(CameraChannel, RetriesASilentDeviceThenStreamsRestartsUpdatesAndStops) {
    EXPECT_EQ(channel.GetChannelState(), kChannelStopped);  // a new channel
    channel.deviceSends = false;
    channel.prepareOk = false;
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return channel.prepares >= 3; }));
    EXPECT_EQ(channel.starts, 0);
    channel.prepareOk = true;
    ASSERT_TRUE(WaitUntil([&] {
        EXPECT_NE(channel.GetChannelState(), kChannelStreaming);
        return sink.SilenceCount() >= 3;
    }));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 600ms);
    EXPECT_GE(channel.starts, 3);
    EXPECT_EQ(channel.periodics, 0);
    EXPECT_TRUE(driver.Lines().empty());

    channel.deviceSends = true;
    ASSERT_TRUE(WaitUntil([&] { return Streaming(); }));
    ASSERT_TRUE(driver.WaitFor(kOnline, 2s));
    EXPECT_TRUE(WaitUntil([&] { return channel.periodics >= 2; }));  // periodic work while streaming

    // A start on a running channel ends the old loop (the camera stopped)
    // before a new one runs.
    ASSERT_TRUE(channel.Start(Params(77)));
    ASSERT_TRUE(driver.WaitFor(kOnline, 2s, 2));
    EXPECT_EQ(channel.maxActive, 1);
    EXPECT_EQ(driver.CountContaining(kStopped), 1u);

    // An update takes interval and size, keeps the mode word, and keeps the
    // session unless it fails; a failed one reconnects.
    const int prepares = channel.prepares;
    EXPECT_TRUE(channel.UpdateParams({100, 5, 352, 288}));
    ASSERT_TRUE(WaitUntil([&] { return channel.applies == 1; }));
    const dravnel::ChannelParams now = channel.GetParams();
    EXPECT_EQ(std::tie(now.FrameInterval, now.ModeWord, now.Width, now.Height), std::tuple(100u, 77u, 352u, 288u));
    // A pass of the loop after the update's: a reconnect would have come first.
    const int periodics = channel.periodics;
    ASSERT_TRUE(WaitUntil([&] { return channel.periodics > periodics; }));
    EXPECT_EQ(channel.prepares, prepares);
    channel.applyOk = false;
    channel.UpdateParams({100, 0, 352, 288});
    ASSERT_TRUE(WaitUntil([&] { return channel.prepares > prepares && Streaming(); }));

    channel.Stop();
    EXPECT_EQ(channel.GetChannelState(), kChannelStopped);
    EXPECT_FALSE(channel.IsCameraOnline());
    EXPECT_FALSE(channel.session);  // the loop's end closed the session
    EXPECT_GE(channel.stopThreadCalls, 2);
    EXPECT_EQ(sink.silentInOtherState, 0);
    EXPECT_EQ(driver.CountContaining(kStopped), 2u);
    EXPECT_EQ(driver.CountContaining("Signal was lost"), 0u);  // not even for the failed update
    channel.Stop();                                            // a second stop is harmless and silent
    EXPECT_EQ(driver.CountContaining(kStopped), 2u);
}

// Hooks run on the capture thread. One that throws ends only this channel's
// capture, with a message. One that stops its own channel ends the loop after
// that pass without waiting for itself. One deaf to the stop event keeps the
// thread past the host's stop time-out (twice HttpTimeout: 80 ms): the stop
// warns and waits on, never kills it, and the hook's own Stop meanwhile (the
// host's holding the thread lock) waits for nothing. A later start runs anew.
TEST_F(CameraChannel, HooksThatThrowStopTheirChannelOrOutliveTheStopEndOnlyTheCapture) {
    driver.device.HttpTimeout = 40;
    channel.onPrepare = [] { throw std::runtime_error("scripted failure"); };
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(driver.WaitFor("scripted failure", 2s));
    EXPECT_TRUE(WaitUntil([&] { return channel.active == 0; }));
    EXPECT_EQ(channel.GetChannelState(), kChannelStopped);
    EXPECT_EQ(driver.LinesContaining("scripted failure")[0].level, dravnel::kLevelError);

    std::atomic<int> hookReturns{0};
    channel.onPrepare = [&] {
        channel.Stop();
        ++hookReturns;
    };
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return hookReturns == 1 && channel.active == 0; }));
    EXPECT_EQ(channel.GetChannelState(), kChannelStopped);
    EXPECT_EQ(channel.prepares, 2);  // the loop ended after that pass

    std::atomic<bool> inHook{false};
    channel.onPrepare = [&] {
        inHook = true;
        std::this_thread::sleep_for(300ms);
        channel.Stop();
        ++hookReturns;
    };
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return inHook.load(); }));
    channel.Stop();
    EXPECT_EQ(hookReturns, 2);
    EXPECT_EQ(channel.active, 0);
    const auto warned = driver.LinesContaining(
        "dravnel::CBaseCameraChannel::StopThread: Video capture thread for camera 127.0.0.1 cannot be stopped "
        "and will be terminated now");
    ASSERT_EQ(warned.size(), 1u);
    EXPECT_EQ(warned[0].level, dravnel::kLevelWarning);

    channel.onPrepare = nullptr;
    ASSERT_TRUE(channel.Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return Streaming(); }));
}

// Online reports racing from several threads log once; the offline message
// depends on the channel state at that moment. The device has two channels.
TEST(CameraChannelState, OnlineLogsOncePerChangeAndOfflineByTheState) {
    const std::tuple<int, int, const char*> cases[] = {
        {dravnel::kChannelSignalLost, dravnel::kLevelError, "Signal was lost for video-server 10.0.0.5 (channel 1)"},
        {kChannelStopped, dravnel::kLevelInfo, "Video-server 10.0.0.5 (channel 1) is offline. Channel was stopped"},
        {kChannelStreaming, dravnel::kLevelError, "Video-server 10.0.0.5 (channel 1) is offline or failed"},
    };
    for (const auto& [state, level, text] : cases) {
        FakeDriver driver;
        driver.device.Address = "10.0.0.5";
        driver.channelCount = 2;
        ScriptedChannel channel(&driver, nullptr, 1);
        channel.SetCameraState(false);  // already offline: nothing
        std::vector<std::jthread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([&] {
                for (int k = 0; k < 200; ++k) channel.SetCameraState(true);
            });
        threads.clear();  // joins them
        channel.SetChannelState(state);
        channel.SetCameraState(false);
        const auto lines = driver.Lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].level, dravnel::kLevelInfo);
        EXPECT_EQ(lines[0].text, kSetCameraState + "Video-server 10.0.0.5 (channel 1) is online");
        EXPECT_EQ(lines[1].level, level);
        EXPECT_EQ(lines[1].text, kSetCameraState + text);
    }
}

}  // namespace
