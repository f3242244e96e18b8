// RTP frames and replies cut out of an interleaved RTSP connection, however
// its bytes are split into blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClientFixture.h"
#include "rtsp/CRTSPStreamParser.h"

using namespace dravnel;
using namespace dravnel::test;

using Packets = std::vector<std::vector<uint8_t>>;

// Each stream is followed by a frame of RTP packet 3, which must be found
// and delivered after whatever comes first. Each is fed whole, and in blocks
// of 1, 2, 3, 5 and 64 bytes.
TEST(StreamParser, FramesAndRepliesInAnyBlocks) {
    const std::vector<uint8_t> rtp = {
        0x80, 0x60, 0x12, 0x34,  // V=2, PT 96, sequence 0x1234
        0x00, 0x00, 0x00, 0x10,  // time stamp
        0x11, 0x22, 0x33, 0x44,  // SSRC
        'a',  'b',  'c',         // payload
    };
    const std::string play = "RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 1234\r\n\r\n";
    // The body holds "$" 0 and a length, which must not start a frame.
    static const char kWithBody[] = "RTSP/1.0 200 OK\r\nCSeq: 5\r\ncontent-length:6\r\n\r\n$\0\0\x01xy";
    const std::string withBody(kWithBody, sizeof kWithBody - 1);
    // An RTCP frame whose body holds "$" 0 and a length: taken byte by byte,
    // those would start a false channel-0 frame and swallow the real one.
    std::vector<uint8_t> rtcp = {0x81, 0xC8, 0x00, 0x06, '$', 0x00, 0x00, 0x20};
    rtcp.resize(28, 0x55);
    // The stream, the RTP packets it carries before packet 3, the replies
    // handed on whole and those reported broken (above the 64 KiB limit).
    const struct {
        std::vector<uint8_t> stream;
        Packets packets;
        std::vector<std::string> replies;
        size_t broken;
    } cases[] = {
        {Cat({{0x24, 0x00, 0x00, 0x0F}, rtp}), {rtp}, {}, 0},  // "$", channel 0, 15 bytes
        {Cat({Bytes(play), Interleaved(0, RtpPacket(7)), Bytes(withBody)}), {RtpPacket(7)}, {play, withBody}, 0},
        {Interleaved(1, rtcp), {}, {}, 0},              // skipped whole by its length
        {{'$'}, {}, {}, 0},                             // "$$" 0 ...
        {{'$', 0, 0, 0}, {}, {}, 0},                    // zero length: resets, delivers nothing
        {Bytes("RTSX"), {}, {}, 0},                     // not a reply; the frame start after it counts
        {Interleaved(0, {0x80, 96, 0, 1}), {}, {}, 0},  // too short for RTP: dropped
        {Bytes("RTSP/1.0 200 OK\r\nContent-Length: 70000\r\n\r\n"), {}, {}, 1},
        {Bytes("RTSP/1.0 200 OK\r\n" + std::string(70000, 'x')), {}, {}, 1},  // a header block without end
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::vector<uint8_t> stream = Cat({cases[i].stream, Interleaved(0, RtpPacket(3))});
        Packets packets = cases[i].packets;
        packets.push_back(RtpPacket(3));
        std::vector<uint16_t> sequences;
        for (const auto& p : packets) sequences.push_back(static_cast<uint16_t>(p[2] << 8 | p[3]));
        for (size_t block : {stream.size(), size_t(1), size_t(2), size_t(3), size_t(5), size_t(64)}) {
            RecordingUser user;
            std::vector<std::string> whole, broken;
            CRTSPStreamParser parser(
                &user, [&](std::string_view text, bool complete) { (complete ? whole : broken).emplace_back(text); });
            for (size_t at = 0; at < stream.size(); at += block)
                parser.Parse(std::span<const uint8_t>(stream).subspan(at, std::min(block, stream.size() - at)));
            EXPECT_EQ(user.sequences, sequences) << "row " << i << ", blocks of " << block;
            EXPECT_EQ(user.frames, packets) << "row " << i << ", blocks of " << block;
            EXPECT_EQ(whole, cases[i].replies) << "row " << i << ", blocks of " << block;
            EXPECT_EQ(broken.size(), cases[i].broken) << "row " << i << ", blocks of " << block;
        }
    }
}
