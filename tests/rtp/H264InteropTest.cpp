// Interop with peers written elsewhere: H.264 RTP recorded from GStreamer's
// rtph264pay (tests/data/make_h264_rtp.sh) goes through the receiver and the
// depacketizer, and FFmpeg must decode what we deliver; Wireshark's RTCP
// dissector must read our receiver reports and BYE as well formed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "rtp/CH264RTPMediaParser.h"
#include "rtp/CRTCPHandler.h"
#include "rtp/CRTPReceiver.h"
#include "tests/rtp/LoopbackPeer.h"
#include "tests/rtp/StubDriver.h"
#include "tools/host/FrameAllocator.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// RFC 4571 framing as rtpstreampay writes it: 16-bit length, packet.
std::vector<Bytes> ReadRecording(const std::string& name) {
    std::ifstream in(std::string(QUARNEL_SOURCE_DIR) + "/tests/data/" + name, std::ios::binary);
    const Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Bytes> packets;
    size_t at = 0;
    while (at + 2 <= all.size()) {
        const size_t length = size_t{all[at]} << 8 | all[at + 1];
        if (at + 2 + length > all.size()) break;
        packets.emplace_back(all.begin() + static_cast<long>(at + 2), all.begin() + static_cast<long>(at + 2 + length));
        at += 2 + length;
    }
    return packets;
}

// Runs a command and returns what it wrote to stdout and stderr.
std::string RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return "popen failed";
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
    pclose(pipe);
    return output;
}

bool HaveTool(const char* name) { return RunCommand(std::string("command -v ") + name).find(name) != std::string::npos; }

std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "quarnel_" + std::to_string(getpid()) + "_" + name;
}

// What the channel does with the stream, short of the host: every packet
// goes to the parser, every frame is appended to one Annex B stream.
class ParsingChannel : public dravnel::IRTPReceiverUser, public dravnel::IMediaParserClient {
public:
    ParsingChannel() { parser.SetClient(this); }

    void OnInterleavedPacket(dravnel::CRTPPacket*, const std::vector<uint8_t>*) override {}
    void OnRTPPacket(const sockaddr_in*, dravnel::CRTPPacket* packet) override {
        parser.ProcessPacket(packet);
        {
            std::lock_guard<std::mutex> guard(mutex);
            ++packets;
        }
        changed.notify_all();
    }
    void OnTimeout() override {}
    void OnClosed() override {}
    void OnSessionDescription(const dravnel::CodecConfig* config) override { parser.SetCodecConfig(config); }

    bool OnFrame(dravnel::ipcapture::IHostFrame* frame) override {
        auto* f = dynamic_cast<quarnel::host::HostFrame*>(frame);
        stream.insert(stream.end(), f->buffer.begin(), f->buffer.begin() + f->dataSize);
        tags.push_back(f->codecTag);
        sizes.emplace_back(f->width, f->height);
        return true;
    }
    std::pair<uint32_t, uint32_t> GetFrameSize() override { return {0, 0}; }

    bool WaitPackets(size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 2s, [&] { return packets >= n; });
    }

    quarnel::host::FrameAllocator allocator;
    quarnel::test::StubDriver driver{&allocator};
    dravnel::CH264RTPMediaParser parser{&driver, "Quarnel"};
    std::mutex mutex;
    std::condition_variable changed;
    size_t packets = 0;
    Bytes stream;
    std::vector<uint32_t> tags;
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
};

struct Decoded {
    std::string errors;               // what ffmpeg reported at level "error"
    std::string probe;                // width,height,frames
    std::vector<std::string> hashes;  // MD5 of each decoded picture
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// The pictures of the stream as GStreamer's depayloader rebuilt it.
std::vector<std::string> ReferenceHashes(const std::string& recording) {
    std::ifstream in(std::string(QUARNEL_SOURCE_DIR) + "/tests/data/" +
                     recording.substr(0, recording.find('.')) + ".md5");
    return Lines(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

// Every frame ends with the access unit delimiter that opens the next access
// unit; at the end of the concatenation it stands alone and is left out, as
// a decoder fed frame by frame never sees it without a picture.
Decoded Decode(const Bytes& stream, const std::string& name) {
    const Bytes trailer{0x00, 0x00, 0x01, 0x09, 0x30};
    size_t size = stream.size();
    if (size >= trailer.size() && std::equal(trailer.begin(), trailer.end(), stream.end() - 5)) size -= 5;
    const std::string path = TempPath(name + ".h264");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                                static_cast<std::streamsize>(size));
    Decoded d;
    d.errors = RunCommand("ffmpeg -nostdin -v error -f h264 -i '" + path + "' -f null -");
    d.probe = RunCommand("ffprobe -v error -f h264 -count_frames -select_streams v:0 "
                  "-show_entries stream=width,height,nb_read_frames -of csv=p=0 '" + path + "'");
    // framemd5 lines: stream, dts, pts, duration, size, hash
    for (const std::string& line : Lines(RunCommand("ffmpeg -nostdin -v error -f h264 -i '" + path + "' -f framemd5 -"))) {
        if (line.empty() || line[0] == '#') continue;
        d.hashes.push_back(line.substr(line.rfind(' ') + 1));
    }
    std::remove(path.c_str());
    while (!d.probe.empty() && (d.probe.back() == '\n' || d.probe.back() == '\r')) d.probe.pop_back();
    return d;
}

size_t Count(const std::vector<uint32_t>& tags, uint32_t tag) {
    size_t n = 0;
    for (uint32_t t : tags) n += t == tag;
    return n;
}

struct Recording {
    const char* file;
    size_t frames;
    size_t keyFrames;
    uint32_t width;
    uint32_t height;
};

class H264Interop : public ::testing::TestWithParam<Recording> {
protected:
    void SetUp() override {
        if (!HaveTool("ffmpeg") || !HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    }
};

// Over loopback UDP through the receiver, a few packets in flight at a time
// so that the socket buffer never overflows.
TEST_P(H264Interop, ThroughTheReceiverDecodesCleanly) {
    const Recording& r = GetParam();
    const auto packets = ReadRecording(r.file);
    ASSERT_FALSE(packets.empty());

    ParsingChannel channel;
    dravnel::CRTPReceiver receiver(&channel.driver);
    receiver.SetUser(&channel);
    ASSERT_TRUE(receiver.Start(0));
    quarnel::test::LoopbackPeer camera;
    constexpr size_t kWindow = 8;
    for (size_t i = 0; i < packets.size(); ++i) {
        ASSERT_TRUE(camera.SendTo(receiver.GetPort(), packets[i]));
        if (i >= kWindow) {
            ASSERT_TRUE(channel.WaitPackets(i + 1 - kWindow));
        }
    }
    ASSERT_TRUE(channel.WaitPackets(packets.size()));
    receiver.Stop();

    EXPECT_EQ(channel.tags.size(), r.frames);
    EXPECT_EQ(Count(channel.tags, dravnel::kCodecTagH264Key), r.keyFrames);
    ASSERT_FALSE(channel.tags.empty());
    EXPECT_EQ(channel.tags[0], dravnel::kCodecTagH264Key);
    for (const auto& size : channel.sizes) EXPECT_EQ(size, std::make_pair(r.width, r.height));

    const Decoded d = Decode(channel.stream, r.file);
    EXPECT_EQ(d.errors, "");
    EXPECT_EQ(d.probe, std::to_string(r.width) + "," + std::to_string(r.height) + "," + std::to_string(r.frames));
    // Picture for picture what GStreamer's own depayloader gives: no slice lost.
    EXPECT_EQ(d.hashes, ReferenceHashes(r.file));
}

INSTANTIATE_TEST_SUITE_P(Recordings, H264Interop,
                         ::testing::Values(Recording{"h264_fua.rtpstream", 50, 2, 320, 240},
                                           Recording{"h264_slices.rtpstream", 40, 2, 352, 288}),
                         [](const auto& info) {
                             const std::string file = info.param.file;
                             return file.substr(5, file.find('.') - 5);
                         });

// A camera that sends its parameter sets only in the session description:
// the recording without its in-band SPS and PPS packets (renumbered, so no
// loss shows) still decodes, the IDR pictures getting them from the SDP.
TEST(H264InteropSdp, ParameterSetsFromTheSessionDescription) {
    if (!HaveTool("ffmpeg") || !HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    ParsingChannel channel;
    dravnel::CodecConfig config;
    uint16_t sequence = 1;
    size_t parameterSets = 0;
    std::vector<dravnel::CRTPPacket> packets;
    for (const Bytes& wire : ReadRecording("h264_fua.rtpstream")) {
        dravnel::CRTPPacket p;
        ASSERT_TRUE(p.Parse(wire));
        const uint8_t type = p.payload[0] & 0x1F;
        if (type == 7 || type == 8) {
            (type == 7 ? config.sps : config.pps) = p.payload;
            ++parameterSets;
            continue;
        }
        p.sequenceNumber = sequence++;
        packets.push_back(std::move(p));
    }
    ASSERT_EQ(parameterSets, 4u);
    channel.OnSessionDescription(&config);
    for (auto& p : packets) channel.OnRTPPacket(nullptr, &p);

    EXPECT_EQ(channel.tags.size(), 50u);
    EXPECT_EQ(Count(channel.tags, dravnel::kCodecTagH264Key), 2u);
    const Decoded d = Decode(channel.stream, "sdp");
    EXPECT_EQ(d.errors, "");
    EXPECT_EQ(d.probe, "320,240,50");
    EXPECT_EQ(d.hashes, ReferenceHashes("h264_fua.rtpstream"));
}

// Our receiver report and BYE, as sent to a camera, in a capture file with
// made-up IPv4 and UDP headers, read by tshark's RTCP dissector.
TEST(RTCPInterop, TsharkReadsOurReportsAsWellFormed) {
    if (!HaveTool("tshark")) GTEST_SKIP() << "tshark is needed";
    quarnel::test::LoopbackPeer camera;
    std::vector<Bytes> sent;
    {
        dravnel::CRTCPHandler handler(nullptr);
        ASSERT_TRUE(handler.Start(quarnel::test::Loopback(), 0));
        for (uint16_t n = 65000; n != 200; ++n) handler.UpdateSequence(n);
        // SR: SSRC 0C 0D 0E 0F, NTP 83 AA 7E 80 . 12 34 56 78, RTP 90000, 10 packets, 4096 octets
        const Bytes sr{0x80, 0xC8, 0x00, 0x06, 0x0C, 0x0D, 0x0E, 0x0F, 0x83, 0xAA, 0x7E, 0x80, 0x12, 0x34,
                       0x56, 0x78, 0x00, 0x01, 0x5F, 0x90, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x10, 0x00};
        ASSERT_TRUE(camera.SendTo(handler.GetPort(), sr));
        auto report = camera.Receive(2000);
        ASSERT_TRUE(report);
        sent.push_back(*report);
        handler.Stop();
        auto bye = camera.Receive(2000);
        ASSERT_TRUE(bye);
        sent.push_back(*bye);
    }

    // pcap file header, link type 101 (raw IPv4), then one record per datagram.
    Bytes file;
    auto le32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto le16 = [&](uint16_t v) {
        file.push_back(static_cast<uint8_t>(v));
        file.push_back(static_cast<uint8_t>(v >> 8));
    };
    le32(0xA1B2C3D4);
    le16(2);
    le16(4);
    le32(0);
    le32(0);
    le32(65535);
    le32(101);
    constexpr uint16_t kCameraPort = 5001;
    constexpr uint16_t kOurPort = 3557;
    uint32_t second = 1700000000;
    for (const Bytes& payload : sent) {
        Bytes ip;
        const uint16_t total = static_cast<uint16_t>(20 + 8 + payload.size());
        // IPv4: version 4, IHL 5, length, id 1, TTL 64, UDP, 127.0.0.1 -> 127.0.0.1
        ip = {0x45, 0x00, static_cast<uint8_t>(total >> 8), static_cast<uint8_t>(total), 0x00, 0x01, 0x00, 0x00,
              0x40, 0x11, 0x00, 0x00, 127, 0, 0, 1, 127, 0, 0, 1};
        uint32_t sum = 0;
        for (size_t i = 0; i < 20; i += 2) sum += uint32_t{ip[i]} << 8 | ip[i + 1];
        while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
        ip[10] = static_cast<uint8_t>(~sum >> 8);
        ip[11] = static_cast<uint8_t>(~sum);
        // UDP: our RTCP port to the camera's, length, no checksum
        const uint16_t udpLength = static_cast<uint16_t>(8 + payload.size());
        ip.insert(ip.end(), {static_cast<uint8_t>(kOurPort >> 8), static_cast<uint8_t>(kOurPort & 0xFF),
                             static_cast<uint8_t>(kCameraPort >> 8), static_cast<uint8_t>(kCameraPort & 0xFF),
                             static_cast<uint8_t>(udpLength >> 8), static_cast<uint8_t>(udpLength), 0, 0});
        ip.insert(ip.end(), payload.begin(), payload.end());
        le32(second++);
        le32(0);
        le32(static_cast<uint32_t>(ip.size()));
        le32(static_cast<uint32_t>(ip.size()));
        file.insert(file.end(), ip.begin(), ip.end());
    }
    const std::string path = TempPath("rtcp.pcap");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                static_cast<std::streamsize>(file.size()));
    const std::string out = RunCommand("tshark -n -r '" + path + "' -d udp.port==" + std::to_string(kOurPort) + ",rtcp -V");
    std::remove(path.c_str());

    EXPECT_NE(out.find("Packet type: Receiver Report (201)"), std::string::npos) << out;
    EXPECT_NE(out.find("Packet type: Goodbye (203)"), std::string::npos) << out;
    EXPECT_NE(out.find("Extended highest sequence number received: 65735"), std::string::npos) << out;
    EXPECT_NE(out.find("Last SR timestamp: 2122322484 (0x7e801234)"), std::string::npos) << out;
    EXPECT_EQ(out.find("Malformed"), std::string::npos) << out;
    EXPECT_EQ(out.find("Expert Info"), std::string::npos) << out;
}

}  // namespace
