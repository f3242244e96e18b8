// The H.264 channel end to end against the simulated camera on loopback: the
// device configured over its CGI pages, the RTSP session, RTP over UDP and
// interleaved, frames to the host, silence, reconnects and stop.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "channel/CH264ChannelRTSP.h"
#include "platform/ProcessStats.h"
#include "platform/Socket.h"
#include "sim/device/SimCamera.h"
#include "tests/rtsp/ClientFixture.h"
#include "tests/support/DecodeH264.h"
#include "tests/support/FakeDriver.h"
#include "tests/support/ThreadState.h"
#include "tests/support/WaitUntil.h"
#include "tools/host/ChannelSink.h"
#include "tools/host/FrameAllocator.h"

namespace {

using namespace std::chrono_literals;
using dravnel::sim::DeviceProfile;
using dravnel::test::WaitUntil;

// Ports of this process's own, so that tests run in parallel do not meet.
uint16_t PortBase() { return static_cast<uint16_t>(20000 + (getpid() % 2000) * 8); }

// The channel with the capture loop's fixed waits shortened.
class TestChannel : public dravnel::CH264ChannelRTSP {
public:
    TestChannel(dravnel::test::FakeDriver& driver, dravnel::host::ChannelSink* sink)
        : CH264ChannelRTSP(0, &driver, sink) {
        loopWaitMs_ = 200;
        firstPort_ = PortBase();
        portLimit_ = static_cast<uint16_t>(PortBase() + 200);
        staleProbeMs_ = 200;
    }
    ~TestChannel() override { Stop(); }
    void HandleRTPPacket(dravnel::CRTPPacket* packet) override {
        ++handled;
        CH264ChannelRTSP::HandleRTPPacket(packet);
    }
    std::atomic<int> handled{0};
    using CBaseCameraChannel::SetParams;
    using CCommonChannelRTSP::PrepareStream;
};

// The count once it holds still: the simulated camera's web server starts
// its worker threads after it reports itself running.
size_t SettledCount(const char* dir) {
    dravnel::test::StartRuntimeHelpers();
    size_t last = dravnel::test::CountEntries(dir);
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(100ms);
        const size_t now = dravnel::test::CountEntries(dir);
        if (now == last) break;
        last = now;
    }
    return last;
}

void ExpectBackTo(size_t threads, size_t descriptors) {
    EXPECT_TRUE(WaitUntil([&] { return dravnel::test::ThreadCount() == threads; }, 5s))
        << dravnel::test::ThreadCount() << " threads, " << threads << " before";
    EXPECT_TRUE(WaitUntil([&] { return dravnel::test::DescriptorCount() == descriptors; }, 5s))
        << dravnel::test::DescriptorCount() << " descriptors, " << descriptors << " before";
}

using dravnel::test::ScriptedCamera;

// A scripted RTSP port: DESCRIBE answered with `describe` and the camera's
// description, SETUP with `setup`; the rest with 200, or nothing at all.
ScriptedCamera::Script RtspScript(std::string describe, std::string setup, bool answerTheRest) {
    return [=](const ScriptedCamera::Request& r) -> ScriptedCamera::Writes {
        if (r.method == "DESCRIBE")
            return {ScriptedCamera::Reply(r, describe, "Content-Type: application/sdp\r\n", dravnel::test::kCameraSdp)};
        if (r.method != "SETUP" && !answerTheRest) return {};
        return {ScriptedCamera::Reply(r, r.method == "SETUP" ? setup : "200 OK", "Session: 77;timeout=60\r\n")};
    };
}

// A camera that wants Digest on its web pages and on RTSP, and an H.264
// channel (not started) whose settings file asks for UDP or interleaved.
class LiveChannel : public ::testing::Test {
protected:
    void StartCamera(DeviceProfile profile, bool interleaved) {
        dravnel::sim::SimCameraOptions options;  // user "admin", password "admin"
        options.profile = profile;
        options.webAuth = dravnel::sim::WebAuth::Digest;
        options.rtspAuth = dravnel::sim::RtspServer::Auth::Digest;
        camera = std::make_unique<dravnel::sim::SimCamera>(options);
        ASSERT_TRUE(camera->Start()) << camera->LastError();
        driver.device.Port = camera->WebPort();
        driver.device.UserName = "admin";
        driver.device.Password = "admin";
        driver.device.HttpTimeout = 2000;
        driver.device.StreamTimeout = 3000;
        driver.parameters = {{1, "0"}, {2, "0"}, {4, profile == DeviceProfile::ModelB ? "2" : "1"}};
        driver.hostContext = &allocator;
        if (interleaved) driver.hostDirectory = QUARNEL_SOURCE_DIR "/tests/data/interleaved/";
        channel = std::make_unique<TestChannel>(driver, &sink);
    }
    static dravnel::ChannelParams Params(uint32_t width = 704, uint32_t height = 576, uint32_t fps = 25) {
        return dravnel::ChannelParams{0x7000 | fps, 50, width, height};
    }
    bool Streaming() { return channel->GetChannelState() == dravnel::kChannelStreaming; }
    bool FramesResume(std::chrono::seconds limit) { return sink.WaitForFrames(sink.FrameCount() + 10, limit); }
    // The device names a scripted RTSP port as its own.
    void UseRtspPort(uint16_t port) {
        camera->Web().SetPageText("/system/network.php", "res=200&rtsp_port=" + std::to_string(port));
    }

    // A key frame first, then others, each of the asked size with a capture
    // time, its fields set in the host's order; FFmpeg decodes them all. The
    // session was set up with Digest on the stream path and transport asked.
    void ExpectCleanFramesAndSetup(const std::string& streamPath, bool interleaved) {
        const auto frames = sink.Frames();
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames[0].codecTag, dravnel::kCodecTagH264Key);
        size_t keys = 0;
        for (const auto& f : frames) {
            keys += f.codecTag == dravnel::kCodecTagH264Key;
            EXPECT_EQ(f.width, 704u);
            EXPECT_EQ(f.height, 576u);
            EXPECT_EQ(f.sizeClass, 4u);
            EXPECT_TRUE(f.timeSet);
            EXPECT_EQ(f.streamName, "Quarnel");
            EXPECT_EQ(f.calls, (std::vector<std::string>{"width", "height", "class", "size", "tag", "time"}));
        }
        EXPECT_LT(keys, frames.size());
        const auto decoded = dravnel::test::DecodeH264(frames);
        EXPECT_EQ(decoded.errors, "");
        EXPECT_EQ(decoded.probe, "704,576," + std::to_string(frames.size()));
        const auto setup = camera->Rtsp().Log().WaitFor("SETUP", 0);
        ASSERT_TRUE(setup);
        EXPECT_EQ(setup->AuthScheme(), "Digest");
        EXPECT_NE(setup->url.find(streamPath), std::string::npos) << setup->url;
        EXPECT_EQ(setup->transport.find("interleaved") != std::string::npos, interleaved) << setup->transport;
    }

    std::unique_ptr<dravnel::sim::SimCamera> camera;
    dravnel::test::FakeDriver driver;
    dravnel::host::FrameAllocator allocator;
    dravnel::host::ChannelSink sink;
    std::unique_ptr<TestChannel> channel;
};

// Sanitizers keep freed memory (quarantine) or grow shadow memory.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentMemoryMeasurable = false;
#elif defined(__has_feature)
constexpr bool kResidentMemoryMeasurable = !__has_feature(address_sanitizer) && !__has_feature(thread_sanitizer);
#else
constexpr bool kResidentMemoryMeasurable = true;
#endif

// UDP with the first port taken: clean frames on the next pair; the device
// falls silent (a reconnect at half the stream time-out, a lost signal at
// all of it) and sends again; the stop leaves no thread or descriptor.
TEST_F(LiveChannel, UdpStreamDecodesSurvivesSilenceAndStopsWithoutLeaks) {
    dravnel::platform::Socket taken;
    ASSERT_TRUE(taken.Create(dravnel::platform::Socket::Kind::Udp));
    ASSERT_TRUE(taken.Bind(PortBase()));
    StartCamera(DeviceProfile::Standard, false);
    channel.reset();  // counted from before the channel is made
    const size_t threads = SettledCount("/proc/self/task");
    const size_t descriptors = SettledCount("/proc/self/fd");
    channel = std::make_unique<TestChannel>(driver, &sink);
    ASSERT_TRUE(channel->Start(Params()));
    ASSERT_TRUE(sink.WaitForFrames(40, 15s)) << "frames: " << sink.FrameCount();
    EXPECT_TRUE(WaitUntil([&] { return Streaming(); }, 3s));
    EXPECT_TRUE(channel->IsCameraOnline());
    EXPECT_EQ(channel->RtpPort(), PortBase() + 2);
    EXPECT_EQ(channel->RtcpPort(), PortBase() + 3);
    EXPECT_GT(dravnel::test::ThreadCount(), threads);
    ExpectCleanFramesAndSetup("/1/stream1", false);

    const size_t describes = camera->Rtsp().Log().Count("DESCRIBE");
    camera->Rtsp().SetSendingRtp(false);
    const auto silentFrom = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitUntil([&] { return !Streaming(); }, 4s));
    EXPECT_GE(std::chrono::steady_clock::now() - silentFrom, 1200ms);
    EXPECT_TRUE(driver.WaitFor("Signal was lost for camera 127.0.0.1", 8s));
    EXPECT_GE(std::chrono::steady_clock::now() - silentFrom, 2700ms);
    EXPECT_GE(sink.SilenceCount(), 1u);
    EXPECT_GT(camera->Rtsp().Log().Count("DESCRIBE"), describes);
    EXPECT_FALSE(channel->IsCameraOnline());
    camera->Rtsp().SetSendingRtp(true);
    EXPECT_TRUE(FramesResume(15s));
    EXPECT_TRUE(WaitUntil([&] { return Streaming(); }, 5s));
    EXPECT_EQ(driver.CountContaining("Signal was lost"), 1u);
    EXPECT_EQ(driver.CountContaining("Camera 127.0.0.1 is online"), 2u);

    channel->Stop();
    EXPECT_EQ(driver.CountContaining("Camera 127.0.0.1 is offline. Channel was stopped"), 1u);
    EXPECT_EQ(channel->GetChannelState(), dravnel::kChannelStopped);
    EXPECT_TRUE(camera->Rtsp().Log().WaitFor("TEARDOWN", 3000));
    channel.reset();
    EXPECT_EQ(allocator.allocated.load(), allocator.released.load());
    ExpectBackTo(threads, descriptors);
}

// A flood of another stream's packets on the RTP port from the camera's own
// address: memory stays bounded, and the frames come again afterwards.
TEST_F(LiveChannel, RtpFloodKeepsMemoryBoundedAndFramesResume) {
    StartCamera(DeviceProfile::Standard, false);
    ASSERT_TRUE(channel->Start(Params(352, 288, 10)));
    ASSERT_TRUE(sink.WaitForFrames(10, 15s)) << "frames: " << sink.FrameCount();
    const auto overflowed = [&] { return driver.CountContaining("Frame buffer overflow detected") >= 1; };
    const uint64_t before = dravnel::platform::CurrentProcessStats().residentBytes;
    dravnel::platform::Socket flood;
    ASSERT_TRUE(flood.Create(dravnel::platform::Socket::Kind::Udp));
    const sockaddr_in to{AF_INET, htons(channel->RtpPort()), {htonl(INADDR_LOOPBACK)}, {}};
    // FU-A starts that never end, on a foreign SSRC.
    std::vector<uint8_t> packet(1400, 0x5A);
    const uint8_t head[] = {0x80, 96, 0, 0, 0, 0, 0x10, 0, 0xBA, 0xD0, 0xBA, 0xD0, 0x7C, 0x85};
    std::copy(std::begin(head), std::end(head), packet.begin());
    uint64_t sent = 0, peak = before;
    // At least 2 s, and on until the endless frame has outgrown the buffer.
    const auto floodStart = std::chrono::steady_clock::now();
    for (uint16_t seq = 0; std::chrono::steady_clock::now() < floodStart + 2s ||
                           (std::chrono::steady_clock::now() < floodStart + 60s && (seq % 1024 != 0 || !overflowed()));
         ++seq) {
        packet[2] = static_cast<uint8_t>(seq >> 8);
        packet[3] = static_cast<uint8_t>(seq);
        packet[13] = seq % 64 == 0 ? 0x85 : 0x05;  // a start now and then, never an end
        if (flood.SendTo(to, packet)) ++sent;
        if (seq % 4096 == 0) peak = std::max(peak, dravnel::platform::CurrentProcessStats().residentBytes);
    }
    peak = std::max(peak, dravnel::platform::CurrentProcessStats().residentBytes);
    EXPECT_GT(sent, 10000u);
    if (kResidentMemoryMeasurable) {
        EXPECT_LT(peak - before, 48u << 20) << sent << " packets sent";
    }
    EXPECT_TRUE(overflowed());
    EXPECT_TRUE(FramesResume(30s)) << "after the flood";
    EXPECT_TRUE(WaitUntil([&] { return Streaming(); }, 10s));
}

// A Model B device, configured in two passes, over interleaved RTP: clean
// frames, which come again after junk, a bogus status line and a '$' frame
// announcing 65535 bytes (memory bounded), a dropped RTSP connection and a
// restart of the camera.
TEST_F(LiveChannel, ModelBInterleavedStreamDecodesAndSurvivesGarbageADroppedConnectionAndARestart) {
    StartCamera(DeviceProfile::ModelB, true);
    camera->Video().Set(1, 1, "gov_struct", "0");
    ASSERT_TRUE(channel->Start(Params()));
    ASSERT_TRUE(sink.WaitForFrames(40, 15s)) << "frames: " << sink.FrameCount();
    const auto sets = camera->Video().SetRequests();
    ASSERT_GE(sets.size(), 2u);
    EXPECT_EQ(sets[0],
              "/video/video.php?app=set&ch=1&strm=1&ch1_strm1_codec=H264BP&ch1_strm1_res=704x576"
              "&ch1_strm1_ratecontrol=cbr");
    EXPECT_EQ(sets[1],
              "/video/video.php?app=set&ch=1&strm=1&ch1_strm1_gop_struct=1&ch1_strm1_gov_struct=1"
              "&ch1_strm1_bitrate=2000");
    ExpectCleanFramesAndSetup("/1/stream0", true);

    const uint64_t before = dravnel::platform::CurrentProcessStats().residentBytes;
    std::string garbage = "\r\n\x01\x02\xfe\xff junk RTSP/1.0 999 Nonsense\r\nCSeq: x\r\n\r\n";
    garbage += std::string("$\x00\xff\xff", 4) + std::string(64, '\xab');
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(camera->Rtsp().SendGarbage(garbage)) << camera->Rtsp().LastError();
        EXPECT_TRUE(FramesResume(30s)) << "after garbage " << i;
    }
    if (kResidentMemoryMeasurable) {
        EXPECT_LT(dravnel::platform::CurrentProcessStats().residentBytes - before, 16u << 20);
    }
    EXPECT_GE(driver.CountContaining("that were neither an interleaved frame nor a reply"), 1u);
    camera->Rtsp().DropConnections();
    EXPECT_TRUE(FramesResume(15s)) << "after the dropped connection";
    ASSERT_TRUE(camera->Restart()) << camera->LastError();
    EXPECT_TRUE(FramesResume(20s)) << "after the restart";
    EXPECT_TRUE(WaitUntil([&] { return Streaming(); }, 5s));
}

// A scripted RTSP port that, once playing, streams interleaved RTP and
// answers nothing, TEARDOWN included: the stop returns and leaves no thread
// or descriptor. A stop that never returns fails the test, not hangs it.
TEST_F(LiveChannel, InterleavedStopReturnsWhileTheCameraStreamsAndIgnoresTeardown) {
    ScriptedCamera rtsp(RtspScript("200 OK", "200 OK", false));
    StartCamera(DeviceProfile::Standard, true);
    UseRtspPort(rtsp.Port());
    dravnel::platform::Event stopped(dravnel::platform::Event::Mode::Manual);
    channel.reset();
    const size_t threads = SettledCount("/proc/self/task");
    const size_t descriptors = SettledCount("/proc/self/fd");
    std::jthread pusher([&](std::stop_token silence) {  // also when an ASSERT leaves early
        const auto frame = dravnel::test::Interleaved(0, dravnel::test::RtpPacket(1, std::string(1000, 'p')));
        const std::string bytes(frame.begin(), frame.end());
        while (!silence.stop_requested())
            if (rtsp.Methods().empty() || rtsp.Methods().back() == "DESCRIBE" || !rtsp.Push(bytes))
                std::this_thread::sleep_for(1ms);
    });
    channel = std::make_unique<TestChannel>(driver, &sink);
    ASSERT_TRUE(channel->Start(Params()));
    ASSERT_TRUE(WaitUntil([&] { return channel->handled.load() > 100; }, 15s)) << channel->handled.load();

    dravnel::platform::Thread stopper;
    stopper.Start([&] {
        channel->Stop();
        stopped.Set();
    });
    const bool returned = stopped.Wait(3000);
    pusher.request_stop();
    pusher.join();
    stopper.Join();
    ASSERT_TRUE(returned) << "the stop waited on while the camera streamed";
    EXPECT_TRUE(rtsp.WaitFor("TEARDOWN", 1, 3000));
    EXPECT_EQ(driver.CountContaining("will be terminated"), 0u);
    channel.reset();
    ExpectBackTo(threads, descriptors);
}

// A camera whose RTSP side fails says why, the same reason only once.
TEST_F(LiveChannel, AChannelWithoutVideoSaysWhy) {
    const struct {
        const char *describe, *setup, *why;
    } cases[] = {
        {"401 Unauthorized", "200 OK", "login refused (RTSP DESCRIBE answered 401)"},
        {"404 Not Found", "200 OK", "RTSP DESCRIBE refused (status 404)"},
        {"200 OK", "461 Unsupported Transport", "RTSP SETUP refused (status 461)"},
        {"200 OK", "200 OK", "no RTP arriving"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ScriptedCamera rtsp(RtspScript(c.describe, c.setup, true));
        StartCamera(DeviceProfile::Standard, false);
        driver.device.HttpTimeout = 500;
        UseRtspPort(rtsp.Port());
        ASSERT_TRUE(channel->Start(Params()));
        const std::string line = "dravnel::CBaseRTSPChannel::ReportNoVideo: Camera 127.0.0.1 gets no video: ";
        EXPECT_TRUE(driver.WaitFor(line + c.why, 10s));
        channel->Stop();
        EXPECT_EQ(driver.CountContaining("gets no video"), driver.CountContaining(line + c.why));
        channel.reset();
        camera.reset();
        driver.ClearLines();
    }
}

// PrepareStream sends what differs, a frame rate the device lists, keeps the
// device's resolution for a size without a name, and reports a refusal. RTP
// from a second address is dropped.
TEST_F(LiveChannel, PrepareStreamSendsOnlyWhatDiffersAndReportsARefusal) {
    StartCamera(DeviceProfile::Standard, false);
    auto& video = camera->Video();
    video.Set(1, 1, "maxbr", "4000");
    channel->SetParams(Params());
    ASSERT_TRUE(channel->PrepareStream()) << video.LastRejection();
    // Quality 50 of 40 steps of 100 kbit/s: 100 x round(1 + 49 x 39 / 99).
    for (const auto& [key, value] : {std::pair{"codec", "H264MP"},
                                     {"res", "4CIF"},
                                     {"fps", "25"},
                                     {"gov", "25"},
                                     {"ratecontrol", "cbr"},
                                     {"bitrate", "2000"}})
        EXPECT_EQ(video.Get(1, 1, key), value) << key;
    size_t sets = video.SetRequestCount();
    ASSERT_TRUE(channel->PrepareStream());
    EXPECT_EQ(video.SetRequestCount(), sets);

    video.Set(1, 1, "fps_list", "5|10|15");
    channel->SetParams(Params(704, 576, 30));
    ASSERT_TRUE(channel->PrepareStream()) << video.LastRejection();
    EXPECT_EQ(video.Get(1, 1, "fps"), "15");
    EXPECT_EQ(video.Get(1, 1, "gov"), "15");
    EXPECT_EQ(video.SetRequests().back(), "/video/video.php?app=set&ch=1&ch1_strm1_fps=15&ch1_strm1_gov=15");

    sets = video.SetRequestCount();
    channel->SetParams(Params(1000, 700));
    ASSERT_TRUE(channel->PrepareStream());
    ASSERT_TRUE(channel->PrepareStream());
    EXPECT_EQ(video.Get(1, 1, "res"), "4CIF");
    EXPECT_EQ(video.SetRequestCount(), sets);
    EXPECT_EQ(driver.CountContaining("has no resolution for 1000x700"), 1u);  // logged once

    video.Set(1, 1, "res", "CIF");
    video.Set(1, 1, "res_list", "CIF|VGA");  // 4CIF is not offered
    channel->SetParams(Params());
    EXPECT_FALSE(channel->PrepareStream());
    EXPECT_EQ(driver.CountContaining(
                  "dravnel::CCommonChannelRTSP::RequestGet: Device 127.0.0.1:" + std::to_string(camera->WebPort()) +
                  " unable to process request \"/video/video.php?app=set&ch=1&ch1_strm1_res=4CIF\""
                  ", result code = 400"),
              1u);

    dravnel::CRTPPacket packet;
    const uint8_t bytes[] = {0x80, 0x60, 0x00, 0x01, 0, 0, 0, 1, 0, 0, 0, 2, 0x65, 0x88, 0x80};
    ASSERT_TRUE(packet.Parse(bytes, sizeof bytes));
    sockaddr_in from{AF_INET, 0, {htonl(0x7F000002)}, {}};  // 127.0.0.2
    channel->OnRTPPacket(&from, &packet);
    EXPECT_EQ(channel->handled.load(), 0);
    from.sin_addr.s_addr = htonl(0x7F000001);  // the device
    channel->OnRTPPacket(&from, &packet);
    EXPECT_EQ(channel->handled.load(), 1);
}

}  // namespace
