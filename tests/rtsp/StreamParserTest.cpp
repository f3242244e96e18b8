// RTP frames and replies cut out of an interleaved RTSP connection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClientFixture.h"
#include "rtsp/CRTSPStreamParser.h"

using namespace dravnel;
using namespace quarnel::test;

namespace {

// What the parser hands its reply handler.
struct Replies {
    std::vector<std::string> whole, broken;
    CRTSPStreamParser::ReplyHandler Handler() {
        return [this](std::string_view text, bool complete) { (complete ? whole : broken).emplace_back(text); };
    }
};

void Feed(CRTSPStreamParser& parser, const std::vector<uint8_t>& bytes, const std::vector<size_t>& cuts) {
    size_t from = 0;
    for (size_t cut : cuts) {
        parser.Parse(std::span<const uint8_t>(bytes.data() + from, cut - from));
        from = cut;
    }
    parser.Parse(std::span<const uint8_t>(bytes.data() + from, bytes.size() - from));
}

}  // namespace

TEST(StreamParser, GoldenFrame) {
    const std::vector<uint8_t> stream = {
        0x24, 0x00, 0x00, 0x0F,  // "$", channel 0, 15 bytes
        0x80, 0x60, 0x12, 0x34,  // V=2, PT 96, sequence 0x1234
        0x00, 0x00, 0x00, 0x10,  // time stamp
        0x11, 0x22, 0x33, 0x44,  // SSRC
        'a',  'b',  'c',         // payload
    };
    RecordingUser user;
    CRTSPStreamParser parser(&user);
    // Split after "$", between the length bytes and inside the payload.
    Feed(parser, stream, {1, 3, 17});
    ASSERT_EQ(user.Sequences(), std::vector<uint16_t>{0x1234});
    EXPECT_EQ(user.Frames()[0], std::vector<uint8_t>(stream.begin() + 4, stream.end()));
}

TEST(StreamParser, RepliesAreHandedOnWholeAndNeverDelivered) {
    const std::string play = "RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 1234\r\n\r\n";
    // The body holds "$" 0 and a length, which must not start a frame.
    static const char kWithBody[] = "RTSP/1.0 200 OK\r\nCSeq: 5\r\ncontent-length:6\r\n\r\n$\0\0\x01xy";
    const std::string withBody(kWithBody, sizeof kWithBody - 1);
    std::vector<uint8_t> stream = Bytes(play);
    Append(stream, Interleaved(0, RtpPacket(7)));
    Append(stream, Bytes(withBody));
    Append(stream, Interleaved(0, RtpPacket(8)));
    for (size_t cut = 0; cut < stream.size(); cut += 3) {
        RecordingUser user;
        Replies replies;
        CRTSPStreamParser parser(&user, replies.Handler());
        Feed(parser, stream, {cut});
        ASSERT_EQ(user.Sequences(), (std::vector<uint16_t>{7, 8})) << cut;
        ASSERT_EQ(replies.whole, (std::vector<std::string>{play, withBody})) << cut;
    }
}

// Whatever comes first, the frame after it is found and delivered alone.
TEST(StreamParser, ResynchronisesOnOddBytes) {
    // An RTCP frame whose body holds "$" 0 and a length: taken byte by byte,
    // those would start a false channel-0 frame and swallow the real one.
    std::vector<uint8_t> rtcp = {0x81, 0xC8, 0x00, 0x06, '$', 0x00, 0x00, 0x20};
    rtcp.resize(28, 0x55);
    const std::vector<uint8_t> prefixes[] = {
        Interleaved(1, rtcp),              // skipped whole by its length
        Bytes("xyz\r\n"),
        {'$'},                             // "$$" 0 ...
        {'$', 0, 0, 0},                    // zero length: resets, delivers nothing
        Bytes("RTSX"),                     // not a reply; the frame start after it counts
        Interleaved(0, {0x80, 96, 0, 1}),  // too short for RTP: dropped
    };
    for (size_t i = 0; i < std::size(prefixes); ++i) {
        std::vector<uint8_t> stream = prefixes[i];
        Append(stream, Interleaved(0, RtpPacket(3)));
        RecordingUser user;
        Replies replies;
        CRTSPStreamParser parser(&user, replies.Handler());
        parser.Parse(stream);
        EXPECT_EQ(user.Sequences(), std::vector<uint16_t>{3}) << "prefix " << i;
        EXPECT_TRUE(replies.whole.empty()) << "prefix " << i;
    }
}

TEST(StreamParser, OversizedRepliesAreReportedBroken) {
    RecordingUser user;
    Replies replies;
    CRTSPStreamParser parser(&user, replies.Handler());
    std::vector<uint8_t> stream = Bytes("RTSP/1.0 200 OK\r\nContent-Length: 70000\r\n\r\n");
    Append(stream, Interleaved(0, RtpPacket(4)));
    parser.Parse(stream);
    EXPECT_EQ(replies.broken.size(), 1u);
    EXPECT_EQ(user.Sequences(), std::vector<uint16_t>{4});

    std::vector<uint8_t> endless = Bytes("RTSP/1.0 200 OK\r\n");
    endless.resize(70000, 'x');
    parser.Parse(endless);
    parser.Parse(Interleaved(0, RtpPacket(5)));
    EXPECT_EQ(replies.broken.size(), 2u);
    EXPECT_EQ(user.Sequences(), (std::vector<uint16_t>{4, 5}));
}
