// Interop with peers written elsewhere: H.264 RTP recorded from GStreamer's
// rtph264pay (tests/data/make_h264_rtp.sh) goes through the receiver and the
// depacketizer, and FFmpeg must decode what we deliver; Wireshark's RTCP
// dissector must read our receiver reports and BYE as well formed.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <tuple>

#include "platform/Terminal.h"
#include "rtp/ByteReader.h"
#include "rtp/CRTPReceiver.h"
#include "tests/rtp/RtpPeers.h"
#include "tests/support/DecodeH264.h"

namespace {

using dravnel::test::Bytes;
using dravnel::test::ReadRecording;

std::string DataFile(const std::string& name) {
    std::ifstream in(std::string(QUARNEL_SOURCE_DIR) + "/tests/data/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Over loopback UDP through the receiver, a few packets in flight at a time
// so that the socket buffer never overflows. The frames, concatenated, decode
// without an error into the recording's pictures, each as GStreamer's own
// depayloader gave it (the .md5 file).
TEST(H264Interop, ThroughTheReceiverDecodesCleanly) {
    if (!dravnel::test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    // name, frames, key frames, width, height
    const std::tuple<std::string, size_t, long, uint32_t, uint32_t> kRecordings[] = {{"h264_fua", 50, 2, 320, 240},
                                                                                     {"h264_slices", 40, 2, 352, 288}};
    for (const auto& [name, frameCount, keyFrames, width, height] : kRecordings) {
        SCOPED_TRACE(name);
        const auto packets = ReadRecording(name + ".rtpstream");
        dravnel::test::Depacketizer<> depacketizer;
        dravnel::test::Recorder channel;
        channel.onRtpPacket = [&](dravnel::CRTPPacket* packet) { depacketizer.parser.ProcessPacket(packet); };
        dravnel::CRTPReceiver receiver(&depacketizer.driver);
        receiver.SetUser(&channel);
        ASSERT_TRUE(receiver.Start(0));
        dravnel::test::LoopbackPeer camera;
        for (size_t i = 0; i < packets.size(); ++i) {
            ASSERT_TRUE(camera.SendTo(receiver.GetPort(), packets[i]));
            ASSERT_TRUE(i < 8 || channel.WaitCount(i - 7));  // at most 8 in flight
        }
        ASSERT_TRUE(channel.WaitCount(packets.size()));
        receiver.Stop();

        const auto frames = depacketizer.sink.Frames();
        ASSERT_EQ(frames.size(), frameCount);
        EXPECT_EQ(frames[0].codecTag, dravnel::kCodecTagH264Key);
        EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                                [](const auto& f) { return f.codecTag == dravnel::kCodecTagH264Key; }),
                  keyFrames);
        for (const auto& f : frames) EXPECT_EQ(std::make_pair(f.width, f.height), std::make_pair(width, height));
        const dravnel::test::DecodedH264 d = dravnel::test::DecodeH264(frames);
        EXPECT_EQ(d.errors, "");
        EXPECT_EQ(d.probe, std::to_string(width) + "," + std::to_string(height) + "," + std::to_string(frameCount));
        std::string hashes;
        for (const std::string& h : d.pictureHashes) hashes += h + "\n";
        EXPECT_EQ(hashes, DataFile(name + ".md5"));
    }
}

// Our receiver report and BYE, byte for byte as the RTCP handler sends them,
// in a capture file whose link type (147, user 0) tshark is told to read as
// RTCP.
TEST(RTCPInterop, TsharkReadsOurReportsAsWellFormed) {
    if (dravnel::platform::RunProgram("tshark", {"-v"}, 10000).exitCode != 0) GTEST_SKIP() << "tshark is needed";
    Bytes file;
    dravnel::ByteWriter w(file);
    // pcap file header, big-endian: magic, version 2.4, time zone, accuracy,
    // snap length, link type
    w.U32(0xA1B2C3D4).U16(2).U16(4).U32(0).U32(0).U32(65535).U32(147);
    for (const Bytes& packet : {dravnel::test::kReceiverReport, dravnel::test::kBye}) {
        // record header: seconds, microseconds, captured and original length
        const auto size = static_cast<uint32_t>(packet.size());
        w.U32(1700000000).U32(0).U32(size).U32(size).Bytes(packet);
    }
    const std::string path =
        (std::filesystem::temp_directory_path() / ("quarnel-rtcp-" + std::to_string(getpid()) + ".pcap")).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    const std::string userLinkType = R"x(uat:user_dlts:"User 0 (DLT=147)","rtcp","0","","0","")x";
    const std::string out =
        dravnel::platform::RunProgram("tshark", {"-n", "-r", path, "-o", userLinkType, "-V"}, 60000).output;
    std::remove(path.c_str());

    for (const char* field :
         {"Packet type: Receiver Report (201)", "Packet type: Goodbye (203)",
          "Extended highest sequence number received: 65537", "Last SR timestamp: 2122322484 (0x7e801234)"}) {
        EXPECT_NE(out.find(field), std::string::npos) << field << "\n" << out;
    }
    for (const char* warning : {"Malformed", "Expert Info"}) EXPECT_EQ(out.find(warning), std::string::npos) << out;
}

}  // namespace
