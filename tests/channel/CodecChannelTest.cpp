// The codec channels' own rules without a device: the older Vista MPEG
// device's configuration request and alarm bits, the MJPEG channel's stream
// paths and Model B size check, the MPEG-4 channel's refusal of Model B.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "channel/CMJPEGChannelRTSP.h"
#include "channel/CMPEG4ChannelRTSP.h"
#include "channel/CVistaMPEGChannelRTSP.h"
#include "tests/support/FakeDriver.h"
#include "tools/host/ChannelSink.h"
#include "tools/host/FrameAllocator.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct AlarmRecorder : dravnel::CVistaIOCallback {
    void OnAlarmBits(unsigned bits) override { received.push_back(bits); }
    std::vector<unsigned> received;
};

class VistaChannel : public dravnel::CVistaMPEGChannelRTSP {
public:
    using CBaseCameraChannel::SetParams;
    using CVistaMPEGChannelRTSP::CVistaMPEGChannelRTSP;
    using CVistaMPEGChannelRTSP::HandleRTPPacket;
    using CVistaMPEGChannelRTSP::PrepareRTSPSettings;
};

// Size only for a standard size of the channel's video standard; 35 kbit/s
// per quality step in whole 100 kbit/s, at least 100; the frame rate twice
// unless the interval is 0.
TEST(VistaMpegChannel, ConfigurationRequest) {
    struct Row {
        bool ntsc;
        uint32_t width, height, quality, interval;
        const char* path;
    };
    const Row kRows[] = {
        {false, 704, 576, 100, 0x7019, "/admin/mpeg4.html?app=set&mpeg4_br=3500000&mpeg4_fps=25&mpeg4_gov=25"},
        {false, 720, 576, 1, 40, "/admin/mpeg4.html?app=set&size=720x576&mpeg4_br=100000&mpeg4_fps=25&mpeg4_gov=25"},
        {true, 720, 480, 50, 0, "/admin/mpeg4.html?app=set&size=720x480&mpeg4_br=1700000"},
        {true, 160, 112, 3, 0x700F, "/admin/mpeg4.html?app=set&mpeg4_br=100000&mpeg4_fps=15&mpeg4_gov=15"},
        {false, 160, 112, 60, 100, "/admin/mpeg4.html?app=set&size=160x112&mpeg4_br=2100000&mpeg4_fps=10&mpeg4_gov=10"},
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.path);
        dravnel::test::FakeDriver driver;
        driver.parameterFlag = row.ntsc;
        VistaChannel channel(0, &driver, nullptr, nullptr);
        channel.SetParams({row.interval, row.quality, row.width, row.height});
        EXPECT_EQ(channel.ConfigurationPath(), row.path);
    }
}

// The RTSP port is parameter 3, 554 when it names no port; the path "video".
TEST(VistaMpegChannel, RtspSettings) {
    const std::pair<std::optional<std::string>, uint16_t> kPorts[] = {
        {"8554", 8554}, {std::nullopt, 554}, {"(none)", 554}, {"0", 554}, {"70000", 554}};
    for (const auto& [parameter, port] : kPorts) {
        dravnel::test::FakeDriver driver;
        if (parameter) driver.parameters[3] = *parameter;
        VistaChannel channel(0, &driver, nullptr, nullptr);
        dravnel::RTSPConnectionSettings settings;
        channel.PrepareRTSPSettings(settings);
        EXPECT_EQ(settings.serverPort, port) << parameter.value_or("absent");
        EXPECT_EQ(settings.streamPath, "video");
    }
}

// The byte 9 bytes behind the first user data start code, when one more
// byte follows it.
TEST(VistaMpegChannel, AlarmBitsOfAFrame) {
    const Bytes block{0x00, 0x00, 0x01, 0xB2, 1, 2, 3, 4, 5, 0xA5, 7, 8};
    const auto first = [&](size_t n) { return Bytes(block.begin(), block.begin() + long(n)); };
    const auto cat = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::tuple<const char*, Bytes, std::optional<uint8_t>> kFrames[] = {
        {"12 bytes", block, 0xA5},
        {"11 bytes", first(11), 0xA5},
        {"10 bytes", first(10), std::nullopt},
        {"behind a VOP", cat({0x00, 0x00, 0x01, 0xB6, 0x10}, block), 0xA5},
        {"only the first block counts", cat(first(6), block), 0xB2},  // byte 9 lies in the second
        {"no user data", {0x00, 0x00, 0x01, 0xB6, 0x10, 0, 0, 0, 0, 0, 0, 0}, std::nullopt},
        {"3 bytes", first(3), std::nullopt},
    };
    for (const auto& [name, frame, bits] : kFrames)
        EXPECT_EQ(dravnel::CVistaMPEGChannelRTSP::AlarmBitsOf(frame), bits) << name;
}

// A frame from the stream hands its alarm bits to the sink before the host
// gets the frame, whether the host takes it or not; without a sink the frame
// goes to the host all the same.
TEST(VistaMpegChannel, AlarmBitsReachTheSink) {
    // avenc_mpeg4's headers for 320 x 240, a user data block with the alarm
    // bits 0x05, an I-VOP.
    const Bytes config{0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01, 0xB5, 0x89, 0x13, 0x00, 0x00, 0x01, 0x00,
                       0x00, 0x00, 0x01, 0x20, 0x00, 0xC4, 0x8D, 0x8F, 0xFF, 0xFD, 0x0A, 0x04, 0x1E, 0x14, 0x63};
    const Bytes userData{0x00, 0x00, 0x01, 0xB2, 'A', 'L', 'A', 'R', 'M', 0x05, 0xFF, 0xFF};
    const Bytes vop{0x00, 0x00, 0x01, 0xB6, 0x10, 0x0C, 0x12, 0x34};
    dravnel::test::FakeDriver driver;
    dravnel::host::FrameAllocator allocator;
    driver.hostContext = &allocator;
    dravnel::host::ChannelSink sink;
    AlarmRecorder alarms;
    VistaChannel channel(0, &driver, &sink, &alarms);
    uint16_t sequence = 1;
    const auto send = [&](const Bytes& payload) {
        dravnel::CRTPPacket packet;
        packet.sequenceNumber = sequence++;
        packet.marker = 1;
        packet.payload = payload;
        channel.HandleRTPPacket(&packet);
    };
    Bytes key = config;
    key.insert(key.end(), userData.begin(), userData.end());
    key.insert(key.end(), vop.begin(), vop.end());
    send(key);
    sink.accept = false;
    send(key);
    EXPECT_EQ(alarms.received, (std::vector<unsigned>{0x05, 0x05}));
    EXPECT_EQ(sink.FrameCount(), 1u);
    sink.accept = true;
    channel.SetAlarmSink(nullptr);
    send(key);
    EXPECT_EQ(sink.FrameCount(), 2u);
}

class MjpegChannel : public dravnel::CMJPEGChannelRTSP {
public:
    using CBaseCameraChannel::SetParams;
    using CMJPEGChannelRTSP::BuildStreamPath;
    using CMJPEGChannelRTSP::CMJPEGChannelRTSP;
};

// Standard devices stream MJPEG from stream 2, Model B devices from their
// second stream, "stream1"; there a frame of another width than the
// channel's is dropped and the signal counts as lost.
TEST(MjpegChannel, StreamPathAndModelBSizeCheck) {
    for (const char* group : {"1", "2"}) {
        SCOPED_TRACE(group);
        const bool modelB = std::string(group) == "2";
        dravnel::test::FakeDriver driver;
        driver.parameters[4] = group;
        dravnel::host::ChannelSink sink;
        MjpegChannel channel(0, &driver, &sink);
        channel.SetParams({40, 50, 704, 576});
        EXPECT_EQ(channel.BuildStreamPath(), modelB ? "/1/stream1" : "/1/stream2");
        dravnel::host::HostFrame frame(dravnel::kCodecTagJpeg, 16, "Quarnel");
        frame.width = 640;
        EXPECT_EQ(channel.OnFrame(&frame), !modelB);
        EXPECT_EQ(channel.GetChannelState(), modelB ? dravnel::kChannelSignalLost : dravnel::kChannelStopped);
        frame.width = 704;
        EXPECT_TRUE(channel.OnFrame(&frame));
        EXPECT_EQ(sink.FrameCount(), modelB ? 1u : 2u);
    }
}

class Mpeg4Channel : public dravnel::CMPEG4ChannelRTSP {
public:
    using CMPEG4ChannelRTSP::CMPEG4ChannelRTSP;
    using CMPEG4ChannelRTSP::PrepareStream;
};

// Model B devices have no MPEG-4: every attempt fails with a warning.
TEST(Mpeg4Channel, ModelBIsRefusedOnEveryAttempt) {
    dravnel::test::FakeDriver driver;
    driver.parameters[4] = "2";
    Mpeg4Channel channel(0, &driver, nullptr);
    EXPECT_FALSE(channel.PrepareStream());
    EXPECT_FALSE(channel.PrepareStream());
    EXPECT_EQ(driver.CountContaining("dravnel::CMPEG4ChannelRTSP::SetHitronStreamParameters_ModelB: Model_B devices "
                                     "127.0.0.1:80 doesn't support MPEG-4 encoding"),
              2u);
}

}  // namespace
