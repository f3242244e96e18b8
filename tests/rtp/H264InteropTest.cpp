// Interop with peers written elsewhere: H.264 RTP recorded from GStreamer's
// rtph264pay (tests/data/make_h264_rtp.sh) goes through the receiver and the
// depacketizer, and FFmpeg must decode what we deliver; Wireshark's RTCP
// dissector must read our receiver reports and BYE as well formed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/Terminal.h"
#include "rtp/CRTCPHandler.h"
#include "rtp/CRTPReceiver.h"
#include "tests/rtp/H264TestData.h"
#include "tests/rtp/LoopbackPeer.h"
#include "tests/rtp/Recorder.h"
#include "tests/support/DecodeH264.h"

namespace {

using quarnel::test::Bytes;

std::string DataFile(const std::string& name) {
    std::ifstream in(std::string(QUARNEL_SOURCE_DIR) + "/tests/data/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// RFC 4571 framing as rtpstreampay writes it: 16-bit length, packet.
std::vector<Bytes> ReadRecording(const std::string& name) {
    const std::string all = DataFile(name);
    std::vector<Bytes> packets;
    for (size_t at = 0; at + 2 <= all.size();) {
        const size_t length = size_t{static_cast<uint8_t>(all[at])} << 8 | static_cast<uint8_t>(all[at + 1]);
        if (at + 2 + length > all.size()) break;
        packets.emplace_back(all.begin() + static_cast<long>(at + 2), all.begin() + static_cast<long>(at + 2 + length));
        at += 2 + length;
    }
    return packets;
}

struct Recording {
    const char* file;
    size_t frames;
    size_t keyFrames;
    uint32_t width;
    uint32_t height;
};

const Recording kRecordings[] = {{"h264_fua.rtpstream", 50, 2, 320, 240}, {"h264_slices.rtpstream", 40, 2, 352, 288}};

// The frames, concatenated, decode without an error into the recording's
// pictures, each as GStreamer's own depayloader gave it (the .md5 file).
void ExpectDecodes(const std::vector<quarnel::host::FrameRecord>& frames, const Recording& r) {
    size_t keyFrames = 0;
    for (const auto& f : frames) {
        keyFrames += f.codecTag == dravnel::kCodecTagH264Key;
        EXPECT_EQ(f.width, r.width);
        EXPECT_EQ(f.height, r.height);
    }
    EXPECT_EQ(frames.size(), r.frames);
    EXPECT_EQ(keyFrames, r.keyFrames);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].codecTag, dravnel::kCodecTagH264Key);
    const quarnel::test::DecodedH264 d = quarnel::test::DecodeH264(frames);
    EXPECT_EQ(d.errors, "");
    EXPECT_EQ(d.probe, std::to_string(r.width) + "," + std::to_string(r.height) + "," + std::to_string(r.frames));
    std::string hashes;
    for (const std::string& h : d.pictureHashes) hashes += h + "\n";
    const std::string file = r.file;
    EXPECT_EQ(hashes, DataFile(file.substr(0, file.find('.')) + ".md5"));
}

class H264Decoding : public ::testing::Test {
protected:
    void SetUp() override {
        if (!quarnel::test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    }
};

class H264Interop : public H264Decoding, public ::testing::WithParamInterface<Recording> {};

// Over loopback UDP through the receiver, a few packets in flight at a time
// so that the socket buffer never overflows.
TEST_P(H264Interop, ThroughTheReceiverDecodesCleanly) {
    const auto packets = ReadRecording(GetParam().file);
    ASSERT_FALSE(packets.empty());
    quarnel::test::Depacketizer depacketizer;
    quarnel::test::Recorder channel;
    channel.onRtpPacket = [&](dravnel::CRTPPacket* packet) { depacketizer.parser.ProcessPacket(packet); };
    dravnel::CRTPReceiver receiver(&depacketizer.driver);
    receiver.SetUser(&channel);
    ASSERT_TRUE(receiver.Start(0));
    quarnel::test::LoopbackPeer camera;
    constexpr size_t kWindow = 8;
    for (size_t i = 0; i < packets.size(); ++i) {
        ASSERT_TRUE(camera.SendTo(receiver.GetPort(), packets[i]));
        if (i >= kWindow) {
            ASSERT_TRUE(channel.WaitCount(i + 1 - kWindow));
        }
    }
    ASSERT_TRUE(channel.WaitCount(packets.size()));
    receiver.Stop();
    ExpectDecodes(depacketizer.sink.Frames(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Recordings, H264Interop, ::testing::ValuesIn(kRecordings), [](const auto& info) {
    const std::string file = info.param.file;
    return file.substr(5, file.find('.') - 5);
});

// A camera that sends its parameter sets only in the session description:
// the recording without its in-band SPS and PPS packets (renumbered, so no
// loss shows) still decodes, the IDR pictures getting them from the SDP.
TEST_F(H264Decoding, ParameterSetsFromTheSessionDescription) {
    const Recording& r = kRecordings[0];  // its parameter sets travel alone, not in STAP-A
    dravnel::CodecConfig config;
    uint16_t sequence = 1;
    std::vector<dravnel::CRTPPacket> packets;
    for (const Bytes& wire : ReadRecording(r.file)) {
        dravnel::CRTPPacket p;
        ASSERT_TRUE(p.Parse(wire));
        const uint8_t type = p.payload[0] & 0x1F;
        if (type == 7 || type == 8) {
            (type == 7 ? config.sps : config.pps) = p.payload;
            continue;
        }
        p.sequenceNumber = sequence++;
        packets.push_back(std::move(p));
    }
    ASSERT_FALSE(config.sps.empty());
    quarnel::test::Depacketizer depacketizer;
    depacketizer.parser.SetCodecConfig(&config);
    for (auto& p : packets) depacketizer.parser.ProcessPacket(&p);
    ExpectDecodes(depacketizer.sink.Frames(), r);
}

// Our receiver report and BYE, as sent to a camera, in a capture file whose
// link type (147, user 0) tshark is told to read as RTCP.
TEST(RTCPInterop, TsharkReadsOurReportsAsWellFormed) {
    if (platform::RunProgram("tshark", {"-v"}, 10000).exitCode != 0) GTEST_SKIP() << "tshark is needed";
    quarnel::test::LoopbackPeer camera;
    Bytes file;
    // Little-endian fields of the given sizes.
    auto le = [&](std::initializer_list<std::pair<uint32_t, int>> fields) {
        for (const auto& [value, bytes] : fields) {
            for (int i = 0; i < bytes; ++i) file.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    };
    // pcap file header: magic, version 2.4, zone, accuracy, snap length, link type
    le({{0xA1B2C3D4, 4}, {2, 2}, {4, 2}, {0, 4}, {0, 4}, {65535, 4}, {147, 4}});
    auto record = [&](const std::optional<Bytes>& datagram) {
        ASSERT_TRUE(datagram);
        // seconds, microseconds, captured and original length
        const auto size = static_cast<uint32_t>(datagram->size());
        le({{1700000000, 4}, {0, 4}, {size, 4}, {size, 4}});
        file.insert(file.end(), datagram->begin(), datagram->end());
    };
    {
        dravnel::CRTCPHandler handler(nullptr);
        ASSERT_TRUE(handler.Start(quarnel::test::Loopback(), 0));
        for (uint16_t n = 65000; n != 200; ++n) handler.UpdateSequence(n);
        // SR: SSRC 0C 0D 0E 0F, NTP 83 AA 7E 80 . 12 34 56 78, RTP 90000, 10 packets, 4096 octets
        const Bytes sr{0x80, 0xC8, 0x00, 0x06, 0x0C, 0x0D, 0x0E, 0x0F, 0x83, 0xAA, 0x7E, 0x80, 0x12, 0x34,
                       0x56, 0x78, 0x00, 0x01, 0x5F, 0x90, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x10, 0x00};
        ASSERT_TRUE(camera.SendTo(handler.GetPort(), sr));
        record(camera.Receive(2000));
        handler.Stop();
        record(camera.Receive(2000));  // the BYE
    }
    const std::string path =
        (std::filesystem::temp_directory_path() / ("quarnel-rtcp-" + std::to_string(getpid()) + ".pcap")).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                static_cast<std::streamsize>(file.size()));
    const std::string userLinkType = R"x(uat:user_dlts:"User 0 (DLT=147)","rtcp","0","","0","")x";
    const std::string out = platform::RunProgram("tshark", {"-n", "-r", path, "-o", userLinkType, "-V"}, 60000).output;
    std::remove(path.c_str());

    EXPECT_NE(out.find("Packet type: Receiver Report (201)"), std::string::npos) << out;
    EXPECT_NE(out.find("Packet type: Goodbye (203)"), std::string::npos) << out;
    EXPECT_NE(out.find("Extended highest sequence number received: 65735"), std::string::npos) << out;
    EXPECT_NE(out.find("Last SR timestamp: 2122322484 (0x7e801234)"), std::string::npos) << out;
    EXPECT_EQ(out.find("Malformed"), std::string::npos) << out;
    EXPECT_EQ(out.find("Expert Info"), std::string::npos) << out;
}

}  // namespace
