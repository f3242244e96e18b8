// The H.264 channel end to end against the simulated camera on loopback: the
// device configured over its CGI pages, the RTSP session, RTP over UDP and
// interleaved, frames to the host, silence, reconnects and stop.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "channel/CH264ChannelRTSP.h"
#include "platform/Socket.h"
#include "platform/Terminal.h"
#include "quarnel/Types.h"
#include "sim/device/SimCamera.h"
#include "tests/support/FakeDriver.h"
#include "tests/support/WaitUntil.h"
#include "tools/host/ChannelSink.h"
#include "tools/host/FrameAllocator.h"

namespace {

using namespace std::chrono_literals;
using quarnel::sim::DeviceProfile;
using quarnel::sim::SimCamera;
using quarnel::sim::SimCameraOptions;
using quarnel::test::WaitUntil;

// The channel with the capture loop's fixed waits shortened.
class TestChannel : public dravnel::CH264ChannelRTSP {
public:
    TestChannel(quarnel::test::FakeDriver& driver, quarnel::host::ChannelSink* sink, uint16_t firstPort)
        : CH264ChannelRTSP(0, &driver, sink) {
        loopWaitMs_ = 200;
        firstPort_ = firstPort;
        portLimit_ = static_cast<uint16_t>(firstPort + 200);
        staleProbeMs_ = 200;
    }
    ~TestChannel() override { Stop(); }
    void HandleRTPPacket(dravnel::CRTPPacket* packet) override {
        ++handled;
        CH264ChannelRTSP::HandleRTPPacket(packet);
    }
    std::atomic<int> handled{0};
    using CBaseRTPChannel::OnRTPPacket;
    using CBaseRTPChannel::RtcpPort;
    using CBaseRTPChannel::RtpPort;
    using CBaseCameraChannel::SetParams;
    using CCommonChannelRTSP::BuildStreamPath;
    using CCommonChannelRTSP::PrepareStream;
    using CCommonChannelRTSP::RtspPort;
};

// Ports from a range of this process's own, so that tests run in parallel do
// not meet on the default 3556.
uint16_t PortBase() { return static_cast<uint16_t>(20000 + (getpid() % 2000) * 8); }

size_t CountEntries(const char* dir) {
    size_t n = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

// The count once it holds still: the simulated camera's web server, in this
// process, starts its worker threads after it reports itself running.
size_t SettledCount(const char* dir) {
    size_t last = CountEntries(dir);
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(100ms);
        const size_t now = CountEntries(dir);
        if (now == last) break;
        last = now;
    }
    return last;
}

struct Decoded {
    std::string errors;
    std::string probe;  // width,height,frames
};

// FFmpeg over the frames as the host received them, concatenated.
Decoded Decode(const std::vector<quarnel::host::FrameRecord>& frames) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("quarnel-live-" + std::to_string(getpid()) + ".h264")).string();
    {
        std::ofstream out(path, std::ios::binary);
        for (size_t i = 0; i < frames.size(); ++i) {
            size_t size = frames[i].data.size();
            // The last frame's trailing delimiter opens no access unit.
            if (i + 1 == frames.size() && size >= 5) size -= 5;
            out.write(reinterpret_cast<const char*>(frames[i].data.data()), static_cast<std::streamsize>(size));
        }
    }
    Decoded d;
    d.errors = platform::RunProgram("ffmpeg", {"-nostdin", "-v", "error", "-f", "h264", "-i", path, "-f", "null", "-"},
                                    60000)
                   .output;
    d.probe = platform::RunProgram("ffprobe", {"-v", "error", "-f", "h264", "-count_frames", "-select_streams", "v:0",
                                               "-show_entries", "stream=width,height,nb_read_frames", "-of",
                                               "csv=p=0", path},
                                   60000)
                  .output;
    while (!d.probe.empty() && (d.probe.back() == '\n' || d.probe.back() == '\r')) d.probe.pop_back();
    std::remove(path.c_str());
    return d;
}

class LiveChannel : public ::testing::Test {
protected:
    void StartCamera(DeviceProfile profile = DeviceProfile::Standard) {
        SimCameraOptions options;
        options.profile = profile;
        options.webAuth = quarnel::sim::WebAuth::Digest;
        options.rtspAuth = quarnel::sim::RtspServer::Auth::Digest;
        options.user = "admin";
        options.password = "s3cret";
        camera = std::make_unique<SimCamera>(options);
        ASSERT_TRUE(camera->Start()) << camera->LastError();
        driver.device.Address = "127.0.0.1";
        driver.device.Port = camera->WebPort();
        driver.device.UserName = "admin";
        driver.device.Password = "s3cret";
        driver.device.HttpTimeout = 2000;
        driver.device.StreamTimeout = 3000;
        driver.parameters = {{1, "0"}, {2, "0"}, {4, profile == DeviceProfile::ModelB ? "2" : "1"}};
        driver.hostContext = &allocator;
        hostDir = std::filesystem::temp_directory_path() / ("quarnel-live-" + std::to_string(getpid()));
        std::filesystem::create_directories(hostDir);
        driver.hostDirectory = hostDir.string() + "/";
    }
    void TearDown() override {
        channel.reset();
        if (camera) camera->Stop();
        std::error_code ec;
        std::filesystem::remove_all(hostDir, ec);
    }
    void UseTransport(const char* mode) {
        std::ofstream(hostDir / "Quarnel.xml") << "<Configuration><Default><RTPMode>" << mode
                                               << "</RTPMode></Default></Configuration>";
    }
    dravnel::ChannelParams Params(uint32_t width = 704, uint32_t height = 576, uint32_t fps = 25,
                                  uint32_t quality = 50) {
        return dravnel::ChannelParams{0x7000 | fps, quality, width, height};
    }
    void StartChannel(const dravnel::ChannelParams& params, uint16_t firstPort = 0) {
        channel = std::make_unique<TestChannel>(driver, &sink, firstPort ? firstPort : PortBase());
        ASSERT_TRUE(channel->Start(params));
    }
    // A channel that is not started, for PrepareStream alone.
    void MakeChannel(const dravnel::ChannelParams& params) {
        channel = std::make_unique<TestChannel>(driver, &sink, PortBase());
        channel->SetParams(params);
    }
    size_t Lines(const std::string& part) {
        size_t n = 0;
        for (const auto& line : driver.Lines()) n += line.text.find(part) != std::string::npos;
        return n;
    }
    bool Streaming() { return channel->GetChannelState() == dravnel::kChannelStreaming; }

    std::unique_ptr<SimCamera> camera;
    quarnel::test::FakeDriver driver;
    quarnel::host::FrameAllocator allocator;
    quarnel::host::ChannelSink sink;
    std::unique_ptr<TestChannel> channel;
    std::filesystem::path hostDir;
};

class LiveTransport : public LiveChannel, public ::testing::WithParamInterface<const char*> {};

TEST_P(LiveTransport, FramesReachTheHostAndDecodeCleanly) {
    StartCamera();
    UseTransport(GetParam());
    StartChannel(Params());
    ASSERT_TRUE(sink.WaitForFrames(40, 15s)) << "frames: " << sink.FrameCount();
    EXPECT_TRUE(WaitUntil([&] { return channel->GetChannelState() == dravnel::kChannelStreaming; }, 2s));
    EXPECT_TRUE(channel->IsCameraOnline());
    channel->Stop();

    const auto frames = sink.Frames();
    ASSERT_FALSE(frames.empty());
    // The first frame is a key frame with its parameter sets; every frame has
    // the size the channel asked for, a capture time and the driver's name.
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
    EXPECT_GE(keys, 1u);
    EXPECT_LT(keys, frames.size());
    const Decoded d = Decode(frames);
    EXPECT_EQ(d.errors, "");
    EXPECT_EQ(d.probe, "704,576," + std::to_string(frames.size()));

    // The session was set up with Digest and the transport of the settings file.
    const auto setup = camera->Rtsp().Log().WaitFor("SETUP", 0);
    ASSERT_TRUE(setup);
    EXPECT_EQ(setup->AuthScheme(), "Digest");
    EXPECT_NE(setup->url.find("/1/stream1"), std::string::npos) << setup->url;
    const bool interleaved = std::string(GetParam()) == "RTPoverRTSP";
    EXPECT_EQ(setup->transport.find("interleaved") != std::string::npos, interleaved) << setup->transport;
    EXPECT_TRUE(camera->Rtsp().Log().WaitFor("TEARDOWN", 3000));
    EXPECT_EQ(allocator.allocated.load(), allocator.released.load());
}

INSTANTIATE_TEST_SUITE_P(Live, LiveTransport, ::testing::Values("RTPoverUDP", "RTPoverRTSP"));

TEST_F(LiveChannel, PrepareStreamConfiguresTheDeviceAsAskedAndOnlyOnce) {
    StartCamera();
    camera->Video().Set(1, 1, "maxbr", "4000");
    MakeChannel(Params(704, 576, 25, 50));
    ASSERT_TRUE(channel->PrepareStream()) << camera->Video().LastRejection();
    EXPECT_EQ(camera->Video().Get(1, 1, "codec"), "H264MP");
    EXPECT_EQ(camera->Video().Get(1, 1, "res"), "4CIF");
    EXPECT_EQ(camera->Video().Get(1, 1, "fps"), "25");
    EXPECT_EQ(camera->Video().Get(1, 1, "gov"), "25");
    EXPECT_EQ(camera->Video().Get(1, 1, "ratecontrol"), "cbr");
    // Quality 50 of 40 steps of 100 kbit/s: 100 x round(1 + 49 x 39 / 99).
    EXPECT_EQ(camera->Video().Get(1, 1, "bitrate"), "2000");
    EXPECT_EQ(channel->RtspPort(), camera->RtspPort());
    EXPECT_EQ(channel->BuildStreamPath(), "/1/stream1");

    // A device that already matches gets no set request.
    const size_t sets = camera->Video().SetRequestCount();
    ASSERT_TRUE(channel->PrepareStream());
    EXPECT_EQ(camera->Video().SetRequestCount(), sets);
}

TEST_F(LiveChannel, TheFrameRateIsLoweredToTheDevicesList) {
    StartCamera();
    camera->Video().Set(1, 1, "fps_list", "5|10|15");
    MakeChannel(Params(704, 576, 30, 50));
    ASSERT_TRUE(channel->PrepareStream()) << camera->Video().LastRejection();
    EXPECT_EQ(camera->Video().Get(1, 1, "fps"), "15");
    EXPECT_EQ(camera->Video().Get(1, 1, "gov"), "15");
    const auto sets = camera->Video().SetRequests();
    ASSERT_FALSE(sets.empty());
    EXPECT_NE(sets.back().find("&ch1_strm1_fps=15&ch1_strm1_gov=15"), std::string::npos) << sets.back();
}

TEST_F(LiveChannel, ARefusedSettingFailsWithTheDevicesResultCode) {
    StartCamera();
    camera->Video().Set(1, 1, "res", "CIF");
    camera->Video().Set(1, 1, "res_list", "CIF|VGA");  // 4CIF is not offered
    MakeChannel(Params(704, 576, 25, 50));
    EXPECT_FALSE(channel->PrepareStream());
    EXPECT_EQ(Lines("dravnel::CCommonChannelRTSP::RequestGet: Device 127.0.0.1:" + std::to_string(camera->WebPort()) +
                    " unable to process request \"/video/video.php?app=set&ch=1&ch1_strm1_res=4CIF"),
              1u);
    EXPECT_EQ(Lines("result code = 400"), 1u);
}

TEST_F(LiveChannel, ASizeWithoutANameKeepsTheDevicesResolution) {
    StartCamera();
    MakeChannel(Params(1000, 700, 25, 50));
    const std::string before = camera->Video().Get(1, 1, "res");
    ASSERT_TRUE(channel->PrepareStream());
    ASSERT_TRUE(channel->PrepareStream());
    EXPECT_EQ(camera->Video().Get(1, 1, "res"), before);
    EXPECT_EQ(Lines("has no resolution for 1000x700"), 1u);  // logged once
    for (const auto& target : camera->Video().SetRequests()) EXPECT_EQ(target.find("_res="), std::string::npos);
}

TEST_F(LiveChannel, AModelBDeviceIsConfiguredInTwoPassesAndStreamsFromStream0) {
    StartCamera(DeviceProfile::ModelB);
    camera->Video().Set(1, 1, "gov_struct", "0");
    StartChannel(Params(704, 576, 25, 50));
    ASSERT_TRUE(sink.WaitForFrames(10, 15s)) << "frames: " << sink.FrameCount();
    EXPECT_EQ(camera->Video().Get(1, 1, "codec"), "H264BP");
    EXPECT_EQ(camera->Video().Get(1, 1, "res"), "704x576");
    EXPECT_EQ(camera->Video().Get(1, 1, "gov_struct"), "1");
    EXPECT_EQ(camera->Video().Get(1, 1, "fps"), "25");
    const auto sets = camera->Video().SetRequests();
    ASSERT_GE(sets.size(), 2u);
    EXPECT_EQ(sets[0].rfind("/video/video.php?app=set&ch=1&strm=1&", 0), 0u) << sets[0];
    EXPECT_NE(sets[0].find("ch1_strm1_res=704x576"), std::string::npos) << sets[0];
    EXPECT_NE(sets[1].find("ch1_strm1_gov_struct=1"), std::string::npos) << sets[1];
    const auto describe = camera->Rtsp().Log().WaitFor("DESCRIBE", 0);
    ASSERT_TRUE(describe);
    EXPECT_NE(describe->url.find("/1/stream0"), std::string::npos) << describe->url;
    EXPECT_EQ(sink.Frames().front().width, 704u);
}

TEST_F(LiveChannel, PacketsFromAnotherAddressAreDropped) {
    StartCamera();
    MakeChannel(Params());
    dravnel::CRTPPacket packet;
    const uint8_t bytes[] = {0x80, 0x60, 0x00, 0x01, 0, 0, 0, 1, 0, 0, 0, 2, 0x65, 0x88, 0x80};
    ASSERT_TRUE(packet.Parse(bytes, sizeof bytes));
    sockaddr_in stranger{};
    stranger.sin_family = AF_INET;
    stranger.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
    channel->OnRTPPacket(&stranger, &packet);
    EXPECT_EQ(channel->handled.load(), 0);
    sockaddr_in device = stranger;
    device.sin_addr.s_addr = htonl(0x7F000001);
    channel->OnRTPPacket(&device, &packet);
    EXPECT_EQ(channel->handled.load(), 1);
}

TEST_F(LiveChannel, WithPort3556TakenTheChannelBinds3558And3559) {
    platform::Socket taken;
    ASSERT_TRUE(taken.Create(platform::Socket::Kind::Udp));
    if (!taken.Bind(3556)) GTEST_SKIP() << "port 3556 is in use by another program";
    StartCamera();
    UseTransport("RTPoverUDP");
    StartChannel(Params(), 3556);
    ASSERT_TRUE(sink.WaitForFrames(5, 15s));
    EXPECT_EQ(channel->RtpPort(), 3558);
    EXPECT_EQ(channel->RtcpPort(), 3559);
}

TEST_F(LiveChannel, SilenceLosesTheSignalOnceAndTheStreamComesBack) {
    StartCamera();
    StartChannel(Params());
    ASSERT_TRUE(sink.WaitForFrames(10, 15s));
    ASSERT_TRUE(WaitUntil([&] { return Streaming(); }, 3s));
    const size_t describes = camera->Rtsp().Log().Count("DESCRIBE");

    camera->Rtsp().SetSendingRtp(false);
    // Half the stream time-out without a frame: signal lost, and reconnects.
    EXPECT_TRUE(WaitUntil([&] { return channel->GetChannelState() != dravnel::kChannelStreaming; }, 4s));
    EXPECT_TRUE(driver.WaitFor("Signal was lost for camera 127.0.0.1", 8s));
    EXPECT_GE(sink.SilenceCount(), 1u);
    EXPECT_GT(camera->Rtsp().Log().Count("DESCRIBE"), describes);
    EXPECT_FALSE(channel->IsCameraOnline());

    const size_t frames = sink.FrameCount();
    camera->Rtsp().SetSendingRtp(true);
    EXPECT_TRUE(sink.WaitForFrames(frames + 10, 15s));
    EXPECT_TRUE(WaitUntil([&] { return Streaming(); }, 5s));
    EXPECT_EQ(Lines("Signal was lost"), 1u);
    EXPECT_EQ(Lines("Camera 127.0.0.1 is online"), 2u);
}

TEST_F(LiveChannel, TheChannelSurvivesADroppedConnectionAndARestartOfTheCamera) {
    StartCamera();
    UseTransport("RTPoverRTSP");
    StartChannel(Params());
    ASSERT_TRUE(sink.WaitForFrames(10, 15s));

    camera->Rtsp().DropConnections();
    size_t frames = sink.FrameCount();
    EXPECT_TRUE(sink.WaitForFrames(frames + 10, 15s)) << "after the dropped connection";

    ASSERT_TRUE(camera->Restart()) << camera->LastError();
    frames = sink.FrameCount();
    EXPECT_TRUE(sink.WaitForFrames(frames + 10, 20s)) << "after the restart";
    EXPECT_TRUE(WaitUntil([&] { return Streaming(); }, 5s));
}

TEST_F(LiveChannel, StopLogsTheCameraOfflineAndLeavesNoThreadOrDescriptor) {
    StartCamera();
    const size_t threads = SettledCount("/proc/self/task");
    const size_t descriptors = SettledCount("/proc/self/fd");
    StartChannel(Params());
    ASSERT_TRUE(sink.WaitForFrames(5, 15s));
    EXPECT_GT(CountEntries("/proc/self/task"), threads);
    channel->Stop();
    EXPECT_EQ(Lines("Camera 127.0.0.1 is offline. Channel was stopped"), 1u);
    EXPECT_EQ(channel->GetChannelState(), dravnel::kChannelStopped);
    channel.reset();
    // The simulated camera's web side shares this process: its end of each
    // connection closes once it sees ours gone, so both counts settle.
    EXPECT_TRUE(WaitUntil([&] { return CountEntries("/proc/self/task") == threads; }, 5s))
        << CountEntries("/proc/self/task") << " threads, " << threads << " before";
    EXPECT_TRUE(WaitUntil([&] { return CountEntries("/proc/self/fd") == descriptors; }, 5s))
        << CountEntries("/proc/self/fd") << " descriptors, " << descriptors << " before";
}

}  // namespace
