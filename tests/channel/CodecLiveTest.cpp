// The MJPEG, MPEG-4 and older Vista MPEG channels end to end against the
// simulated camera on loopback, each over RTP/UDP and interleaved, with
// Digest on the web pages and on RTSP: the device is configured as the
// channel wishes, and the frames decode in FFmpeg at the asked size.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include "channel/CMJPEGChannelRTSP.h"
#include "channel/CMPEG4ChannelRTSP.h"
#include "channel/CVistaMPEGChannelRTSP.h"
#include "sim/device/SimCamera.h"
#include "tests/support/DecodeH264.h"
#include "tests/support/DecodeVideo.h"
#include "tests/support/FakeDriver.h"
#include "tests/support/WaitUntil.h"
#include "tools/host/ChannelSink.h"
#include "tools/host/FrameAllocator.h"

namespace {

using namespace std::chrono_literals;
using dravnel::sim::DeviceProfile;

// Ports from a range of this process's own (another than the H.264 tests').
uint16_t PortBase() { return static_cast<uint16_t>(36000 + (getpid() % 2000) * 8); }

// A channel class with the capture loop's fixed waits shortened.
template <class Channel>
class Shortened : public Channel {
public:
    template <class... Args>
    explicit Shortened(Args&&... args) : Channel(std::forward<Args>(args)...) {
        this->loopWaitMs_ = 200;
        this->firstPort_ = PortBase();
        this->portLimit_ = static_cast<uint16_t>(PortBase() + 200);
        this->staleProbeMs_ = 200;
    }
    ~Shortened() override { this->Stop(); }
};

struct AlarmRecorder : dravnel::CVistaIOCallback {
    void OnAlarmBits(unsigned bits) override { last = bits; }
    std::atomic<unsigned> last{0x100};
};

struct Row {
    const char* name;
    DeviceProfile profile;
    bool vistaMpeg;
    const char* group;  // driver parameter 4
    uint32_t width, height;
    const char* format;                                             // FFmpeg's name of the delivered stream
    const char* path;                                               // of the RTSP URL
    std::function<std::string(dravnel::sim::SimCamera&)> settings;  // the device's afterwards
    const char* expected;
};

class CodecLive : public ::testing::TestWithParam<std::tuple<Row, bool>> {};

TEST_P(CodecLive, StreamsWhatTheChannelAskedFor) {
    if (!dravnel::test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    const auto& [row, interleaved] = GetParam();
    dravnel::sim::SimCameraOptions options;  // user "admin", password "admin"
    options.profile = row.profile;
    options.vistaMpeg = row.vistaMpeg;
    options.webAuth = dravnel::sim::WebAuth::Digest;
    options.rtspAuth = dravnel::sim::RtspServer::Auth::Digest;
    dravnel::sim::SimCamera camera(options);
    ASSERT_TRUE(camera.Start()) << camera.LastError();
    if (row.profile == DeviceProfile::ModelB) camera.Video().Set(1, 1, "res", "320x240");  // vga not free
    if (camera.VistaMpeg()) camera.VistaMpeg()->SetAlarmBits(0x05);

    dravnel::test::FakeDriver driver;
    dravnel::host::FrameAllocator allocator;
    dravnel::host::ChannelSink sink;
    AlarmRecorder alarms;
    driver.device.Port = camera.WebPort();
    driver.device.UserName = "admin";
    driver.device.Password = "admin";
    driver.device.HttpTimeout = 2000;
    driver.device.StreamTimeout = 3000;
    driver.parameters = {{1, "0"}, {2, "0"}, {3, std::to_string(camera.RtspPort())}, {4, row.group}};
    driver.hostContext = &allocator;
    if (interleaved) driver.hostDirectory = QUARNEL_SOURCE_DIR "/tests/data/interleaved/";

    std::unique_ptr<dravnel::ICameraChannel> channel;
    if (row.vistaMpeg)
        channel = std::make_unique<Shortened<dravnel::CVistaMPEGChannelRTSP>>(0, &driver, &sink, &alarms);
    else if (std::string(row.format) == "mjpeg")
        channel = std::make_unique<Shortened<dravnel::CMJPEGChannelRTSP>>(0, &driver, &sink);
    else
        channel = std::make_unique<Shortened<dravnel::CMPEG4ChannelRTSP>>(0, &driver, &sink);
    // 10 frames a second at quality 30.
    ASSERT_TRUE(channel->Start(dravnel::ChannelParams{0x700A, 30, row.width, row.height}));
    ASSERT_TRUE(sink.WaitForFrames(12, 20s)) << "frames: " << sink.FrameCount();
    channel->Stop();

    EXPECT_EQ(row.settings(camera), row.expected);
    const auto frames = sink.Frames();
    for (const auto& f : frames) {
        EXPECT_EQ(f.width, row.width);
        EXPECT_EQ(f.height, row.height);
    }
    const auto decoded = dravnel::test::DecodeVideo(frames, row.format);
    // A packet lost on the way (a full receive queue on a starved machine)
    // costs a frame; in a raw MPEG-4 stream FFmpeg then sees the VOP times
    // step back, so the counters go with the complaint.
    char status[160] = {};
    channel->DescribeStatus(status, sizeof status);
    EXPECT_EQ(decoded.errors, "") << "channel: " << status;
    EXPECT_EQ(decoded.probe,
              std::to_string(row.width) + "," + std::to_string(row.height) + "," + std::to_string(frames.size()));
    const auto setup = camera.Rtsp().Log().WaitFor("SETUP", 0);
    ASSERT_TRUE(setup);
    EXPECT_EQ(setup->AuthScheme(), "Digest");
    EXPECT_NE(setup->url.find(row.path), std::string::npos) << setup->url;
    EXPECT_EQ(setup->transport.find("interleaved") != std::string::npos, interleaved) << setup->transport;
    if (row.vistaMpeg) {
        EXPECT_EQ(alarms.last.load(), 0x05u);
    }
    channel.reset();
    EXPECT_EQ(allocator.allocated.load(), allocator.released.load());
}

std::string Values(dravnel::sim::SimCamera& camera, unsigned stream, std::initializer_list<const char*> names) {
    std::string text;
    for (const char* name : names)
        text += std::string(text.empty() ? "" : " ") + name + "=" + camera.Video().Get(1, stream, name);
    return text;
}

const Row kRows[] = {
    {"MjpegStandard", DeviceProfile::Standard, false, "1", 352, 288, "mjpeg", "/1/stream2",
     [](dravnel::sim::SimCamera& c) {
         return Values(c, 2, {"codec", "res", "quality", "fps"});
     },
     "codec=JPEG res=CIF quality=30 fps=10"},
    // stream 1 first takes the size, so that stream 2 may have it
    {"MjpegModelB", DeviceProfile::ModelB, false, "2", 640, 480, "mjpeg", "/1/stream1",
     [](dravnel::sim::SimCamera& c) {
         return Values(c, 1, {"codec", "res"}) + " " + Values(c, 2, {"en", "codec", "res", "bitrate", "fps"});
     },
     "codec=H264BP res=640x480 en=1 codec=MJPEG res=640x480 bitrate=1200 fps=10"},
    {"Mpeg4Standard", DeviceProfile::Standard, false, "1", 352, 288, "m4v", "/1/stream1",
     [](dravnel::sim::SimCamera& c) {
         return Values(c, 1, {"codec", "res", "fps", "gov", "ratecontrol"});
     },
     "codec=MPEG4SP res=CIF fps=10 gov=10 ratecontrol=cbr"},
    {"VistaMpeg", DeviceProfile::Standard, true, "0", 320, 240, "m4v", "/video",
     [](dravnel::sim::SimCamera& c) {
         auto& d = *c.VistaMpeg();
         return d.Get("size") + " " + d.Get("mpeg4_br") + " " + d.Get("mpeg4_fps") + " " + d.Get("mpeg4_gov");
     },
     "320x240 1000000 10 10"},
};

INSTANTIATE_TEST_SUITE_P(Channels, CodecLive, ::testing::Combine(::testing::ValuesIn(kRows), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Interleaved" : "Udp");
                         });

}  // namespace
