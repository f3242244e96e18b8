// The H.264 depacketizer fed packet by packet, with frames going to the
// recording host objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/rtp/H264TestData.h"

namespace {

using quarnel::test::Bytes;
using quarnel::test::Cat;

const Bytes kStart{0x00, 0x00, 0x01};
const Bytes kTrailer{0x00, 0x00, 0x01, 0x09, 0x30};
const Bytes kSps = quarnel::test::FromHex(quarnel::test::kSps320x240);
const Bytes kPps{0x68, 0xCE, 0x3C, 0x80};
// NAL header 65 (IDR, NRI 3), first_mb_in_slice 0 (leading 1 bit)
const Bytes kIdr{0x65, 0x88, 0x84, 0x21, 0x43};
// NAL header 41 (non-IDR, NRI 2), first_mb_in_slice 0
const Bytes kPSlice{0x41, 0x9A, 0x02, 0x03};
// FU-A of a P slice (NRI 3): S=1 with first_mb_in_slice 0, then E=1
const Bytes kPStart{0x7C, 0x81, 0x9A, 0x01};
const Bytes kPEnd{0x7C, 0x41, 0x02};
// 2024-03-01 12:00:00 UTC in FILETIME units.
constexpr uint64_t kNow = 133537680000000000ull;

class H264Parser : public ::testing::Test, protected quarnel::test::Depacketizer {
protected:
    H264Parser() { parser.FrameClock().SetClock([] { return kNow; }); }

    void Send(Bytes payload, bool marker = false) {
        dravnel::CRTPPacket p = quarnel::test::Packet(sequence++, timeStamp, marker, std::move(payload));
        parser.ProcessPacket(&p);
    }
    // The last payload carries the marker bit.
    void SendFrame(std::initializer_list<Bytes> payloads) {
        size_t i = 0;
        for (const Bytes& p : payloads) Send(p, ++i == payloads.size());
        timeStamp += 3600;
    }
    void SetConfig(const Bytes& sps, const Bytes& pps) {
        dravnel::CodecConfig config;
        config.sps = sps;
        config.pps = pps;
        parser.SetCodecConfig(&config);
    }
    // A key frame from in-band parameter sets, so that the parser delivers.
    void DeliverKeyFrame() {
        SendFrame({kSps, kPps, kIdr});
        ASSERT_FALSE(parser.WaitingForKeyFrame());
    }
    std::vector<quarnel::host::FrameRecord> Frames() { return sink.Frames(); }
    Bytes FrameData(size_t i) {
        const auto frames = Frames();
        return i < frames.size() ? frames[i].data : Bytes{};
    }

    uint16_t sequence = 100;
    uint32_t timeStamp = 90000;
};

// FU-A fragments of an IDR picture that opens a frame get the session
// description's SPS and PPS in front; the frame ends with an access unit
// delimiter and reaches the host with its setters in the host's order.
TEST_F(H264Parser, KeyFrameFromFragmentsAndSessionDescription) {
    SetConfig(kSps, kPps);
    SendFrame({{0x7C, 0x85, 0x88, 0x84},  // FU indicator F=0 NRI=3 type 28; FU header S=1 type 5
               {0x7C, 0x05, 0x21},        // middle
               {0x7C, 0x45, 0x43}});      // E=1, marker
    // The next picture has no SPS: "I264" with the size of the last one,
    // 3600 ticks (39.96 ms) later.
    SendFrame({kPSlice});
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    const auto& f = frames[0];
    EXPECT_EQ(f.data, Cat({kStart, kSps, kStart, kPps, kStart, {0x65, 0x88, 0x84, 0x21, 0x43}, kTrailer}));
    EXPECT_EQ(f.allocationTag, dravnel::kCodecTagH264Key);
    EXPECT_EQ(f.codecTag, dravnel::kCodecTagH264Key);
    EXPECT_EQ(f.width, 320u);
    EXPECT_EQ(f.height, 240u);
    EXPECT_EQ(f.sizeClass, 2u);
    EXPECT_EQ(f.dataSize, f.data.size());
    EXPECT_EQ(f.streamName, "Quarnel");
    EXPECT_EQ(f.calls, (std::vector<std::string>{"width", "height", "class", "size", "tag", "time"}));
    EXPECT_EQ(f.time.wHour, 12);
    EXPECT_EQ(f.time.wMilliseconds, 0);

    EXPECT_EQ(frames[1].data, Cat({kStart, kPSlice, kTrailer}));
    EXPECT_EQ(frames[1].codecTag, dravnel::kCodecTagH264);
    EXPECT_EQ(frames[1].width, 320u);
    EXPECT_EQ(frames[1].time.wMilliseconds, 39);
    EXPECT_EQ(allocator.allocated.load(), 2u);
    EXPECT_EQ(allocator.released.load(), 2u);
}

// An SEI ahead of the IDR: the session's parameter sets go in front of it,
// so the frame is a key frame.
TEST_F(H264Parser, ParameterSetsGoInFrontOfLeadingSei) {
    SetConfig(kSps, kPps);
    const Bytes sei{0x06, 0x05, 0x01, 0xAA, 0x80};
    SendFrame({{0x09, 0xF0}, sei, {0x7C, 0x85, 0x88, 0x84}, {0x7C, 0x45, 0x21}});
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data, Cat({kStart, kSps, kStart, kPps, kStart, sei, kStart, {0x65, 0x88, 0x84, 0x21}, kTrailer}));
    EXPECT_EQ(frames[0].codecTag, dravnel::kCodecTagH264Key);
}

// Nothing reaches the host before a frame with an SPS: not P frames, and not
// an IDR when the session description's SPS gave no picture size.
TEST_F(H264Parser, NothingBeforeAKeyFrame) {
    SetConfig({0x67, 0x42}, kPps);
    SendFrame({kIdr});
    SendFrame({kPSlice});
    SendFrame({kPStart, kPEnd});
    EXPECT_TRUE(Frames().empty());
    EXPECT_EQ(allocator.allocated.load(), 0u);
    EXPECT_TRUE(parser.WaitingForKeyFrame());
}

// A marker bit on a parameter set of 128 bytes or less does not end the
// frame; on a longer one it does.
TEST_F(H264Parser, OnlyALongParameterSetEndsAFrame) {
    SetConfig(kSps, kPps);
    Send(kSps, true);
    Send(kPps);
    Send(kIdr, true);
    Bytes longSps = kSps;
    longSps.resize(200, 0x00);  // zeros after the RBSP stop bit
    Send(longSps, true);
    ASSERT_EQ(Frames().size(), 2u);
    // No second copy of the parameter sets: the frame did not open with the IDR.
    EXPECT_EQ(FrameData(0), Cat({kStart, kSps, kStart, kPps, kStart, kIdr, kTrailer}));
    EXPECT_EQ(FrameData(1), Cat({kStart, longSps, kTrailer}));
}

struct SequenceCase {
    const char* name;
    uint16_t first;
    uint16_t second;
    bool delivered;
};

class H264ParserSequence : public H264Parser, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(H264ParserSequence, BreakDropsThePartialFrame) {
    sequence = static_cast<uint16_t>(GetParam().first - 3);
    DeliverKeyFrame();  // three packets
    Send(kPStart);
    sequence = GetParam().second;
    Send(kPEnd, true);
    EXPECT_EQ(Frames().size(), GetParam().delivered ? 2u : 1u);
    EXPECT_EQ(parser.WaitingForKeyFrame(), !GetParam().delivered);
}

INSTANTIATE_TEST_SUITE_P(Numbers, H264ParserSequence,
                         ::testing::Values(SequenceCase{"Wrap", 65535, 0, true}, SequenceCase{"Gap", 10, 12, false},
                                           SequenceCase{"Repeat", 10, 10, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The stream's own access unit delimiters are dropped, in a STAP-A or alone:
// every frame ends with ours. One-byte units (end of sequence) are kept.
TEST_F(H264Parser, StreamDelimitersAreNotDoubled) {
    Bytes stap{0x78, 0x00, static_cast<uint8_t>(kSps.size())};  // STAP-A (NRI 3), size, SPS
    stap.insert(stap.end(), kSps.begin(), kSps.end());
    stap.insert(stap.end(), {0x00, 0x04, 0x68, 0xCE, 0x3C, 0x80});  // size 4, PPS
    stap.insert(stap.end(), {0x00, 0x02, 0x09, 0xF0});              // size 2, AUD
    SendFrame({stap, kIdr});
    SendFrame({{0x09, 0xF0}, kPSlice, {0x0A}});
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(FrameData(0), Cat({kStart, kSps, kStart, kPps, kStart, kIdr, kTrailer}));
    EXPECT_EQ(FrameData(1), Cat({kStart, kPSlice, kStart, {0x0A}, kTrailer}));
}

// Payloads the parser cannot take drop the frame and wait for a key frame.
class H264ParserMalformed : public H264Parser, public ::testing::WithParamInterface<std::pair<const char*, Bytes>> {};

TEST_P(H264ParserMalformed, ResetsTheParser) {
    DeliverKeyFrame();
    Send(kPStart);
    Send(GetParam().second);
    EXPECT_TRUE(parser.WaitingForKeyFrame());
    Send(kPEnd, true);
    SendFrame({kPSlice});
    EXPECT_EQ(Frames().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, H264ParserMalformed,
    ::testing::Values(std::make_pair("Empty", Bytes{}),
                      std::make_pair("Type0", Bytes{0x00, 0x01, 0x02}),
                      std::make_pair("FuB", Bytes{0x1D, 0x81, 0x00, 0x00, 0x9A}),  // type 29, next to FU-A
                      std::make_pair("ShortFuA", Bytes{0x7C, 0x01}),
                      std::make_pair("ShortStapA", Bytes{0x78, 0x00, 0x01}),
                      // first size 5, only 3 bytes follow
                      std::make_pair("StapAOversized", Bytes{0x78, 0x00, 0x05, 0x41, 0x9A, 0x01}),
                      // second size 9 after a good first unit
                      std::make_pair("StapASecondOversized", Bytes{0x78, 0x00, 0x02, 0x41, 0x9A, 0x00, 0x09, 0x01})),
    [](const auto& info) { return std::string(info.param.first); });

// The start of a fragmented slice with first_mb_in_slice 0 opens a new
// picture and drops what an unfinished frame left; a later slice of the same
// picture keeps the slices before it.
TEST_F(H264Parser, FragmentedSliceStart) {
    DeliverKeyFrame();
    Send({0x06, 0x05, 0x01, 0xAA});  // SEI, no marker: left over
    SendFrame({kPStart, kPEnd});
    // first_mb_in_slice 3 (bits 00100) in a fragment with NRI 2
    SendFrame({kPSlice, {0x5C, 0x81, 0x22, 0x05}, {0x5C, 0x41, 0x06}});
    ASSERT_EQ(Frames().size(), 3u);
    EXPECT_EQ(FrameData(1), Cat({kStart, {0x61, 0x9A, 0x01, 0x02}, kTrailer}));
    EXPECT_EQ(FrameData(2), Cat({kStart, kPSlice, kStart, {0x41, 0x22, 0x05, 0x06}, kTrailer}));
}

TEST_F(H264Parser, OversizedFrameIsLoggedOnceAndDropped) {
    DeliverKeyFrame();
    Bytes fragment(60000, 0x5A);
    fragment[0] = 0x7C;
    fragment[1] = 0x01;
    Send(kPStart);
    const size_t packets = dravnel::CRTPMediaParser::kMaxFrameBytes / (fragment.size() - 2) + 20;
    for (size_t i = 0; i < packets; ++i) Send(fragment);
    Send(kPEnd, true);
    EXPECT_EQ(Frames().size(), 1u);
    const auto lines = driver.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 1);
    EXPECT_EQ(lines[0].text,
              "dravnel::CRTPMediaParser::CheckBufferSize: Frame buffer overflow detected, device 127.0.0.1:80");
    EXPECT_TRUE(parser.WaitingForKeyFrame());
}

// A refused frame, or none from the host, and the parser waits for a key
// frame again; every frame it got is released.
TEST_F(H264Parser, HostRefusals) {
    sink.accept = false;
    SendFrame({kSps, kPps, kIdr});
    EXPECT_TRUE(parser.WaitingForKeyFrame());
    EXPECT_EQ(allocator.released.load(), 1u);
    sink.accept = true;
    SendFrame({kPSlice});
    allocator.allocate = false;
    SendFrame({kSps, kPps, kIdr});
    driver.hostContext = nullptr;
    SendFrame({kSps, kPps, kIdr});
    EXPECT_TRUE(Frames().empty());
    EXPECT_EQ(allocator.allocated.load(), allocator.released.load());
}

}  // namespace
