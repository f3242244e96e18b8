// What turns RTP packets into frames: the frame clock, driven by a clock the
// test sets; the SPS reader; and the H.264 depacketizer fed packet by packet,
// with frames going to the recording host objects.
#include <gtest/gtest.h>

#include <algorithm>

#include <optional>
#include <string>
#include <tuple>

#include "rtp/CTimeStampConverter.h"
#include "rtp/H264Sps.h"
#include "rtp/TStatisticsHelper.h"
#include "tests/rtp/RtpPeers.h"

namespace {

constexpr uint64_t kNow = dravnel::test::kTestNow;
constexpr uint64_t kMs = 10'000;

struct FrameClock {
    uint64_t now = kNow;
    dravnel::CTimeStampConverter converter{[this] { return now; }};
};

// Steps: how far the wall clock moves on, the time stamp, then the output
// time after kNow and the lead.
using Steps = std::vector<std::tuple<uint64_t, uint32_t, uint64_t, uint64_t>>;

// While at most 100 increments are known a tick is 111 x 100 ns.
TEST(TimeStampConverter, StepsWhileLearning) {
    const std::pair<const char*, Steps> kCases[] = {
        {"learning steps", {{0, 1000, 0, 0}, {0, 4600, 399'600, 0}, {0, 8200, 799'200, 0}}},  // small leads not kept
        {"zero is no start", {{0, 0, 0, 0}, {5 * kMs, 3600, 5 * kMs, 0}}},
        {"repeated advances 1 ms", {{0, 1000, 0, 0}, {0, 1000, kMs, kMs}, {0, 500, 2 * kMs, 2 * kMs}}},
        {"backwards not behind the wall clock", {{0, 1000, 0, 0}, {100 * kMs, 500, 100 * kMs, 0}}},
        // 90 091 ticks x 111 = 10 000 101 > 9 999 999: restart from the wall clock
        {"a second or more restarts", {{0, 1000, 0, 0}, {3 * kMs, 1000 + 90'091, 3 * kMs, 0}}},
        // 90 090 ticks x 111 = 9 999 990 is still a step, and a lead worth keeping
        {"just under a second", {{0, 1000, 0, 0}, {0, 1000 + 90'090, 9'999'990, 9'999'990}}},
    };
    for (const auto& [name, steps] : kCases) {
        FrameClock c;
        for (const auto& [wallAdvance, timeStamp, output, lead] : steps) {
            c.now += wallAdvance;
            c.converter.Convert(timeStamp);
            EXPECT_EQ(c.converter.OutputTime() - kNow, output) << name << ", time stamp " << timeStamp;
            EXPECT_EQ(c.converter.Lead(), lead) << name << ", time stamp " << timeStamp;
        }
    }
}

// After 100 increments the measured pace is used; a burst of frames puts the
// output ahead of the wall clock, and the lead is paid back by at most a tenth
// of each step (at least 1 ms) until the output meets the wall clock again.
// Then a camera whose time stamps jump ahead (a new RTP session behind the
// same parser) restarts from the wall clock instead of dating frames an hour
// ahead.
TEST(TimeStampConverter, LeadIsPaidBackSlowlyAndAJumpRestarts) {
    FrameClock c;
    // 25 frames/s at 90 kHz with the wall clock keeping pace, so that the
    // measured rate takes over.
    uint32_t ts = 90'000;
    for (int i = 0; i < 101; ++i, ts += 3600, c.now += 40 * kMs) {
        c.converter.Convert(ts);
        EXPECT_EQ(c.converter.OutputTime(), c.now);  // 39.96 ms steps fall behind: the wall clock
    }
    for (int i = 0; i < 10; ++i, ts += 3600) c.converter.Convert(ts);  // the wall clock stands still
    const uint64_t lead = c.converter.Lead();
    EXPECT_GE(lead, 2'500'001u);
    EXPECT_EQ(c.converter.OutputTime() - c.now, lead);

    int frames = 0;
    for (; c.converter.Lead() > 0 && frames < 1000; ++frames, ts += 3600) {
        const auto [previousOutput, previousLead] = std::make_pair(c.converter.OutputTime(), c.converter.Lead());
        c.now += 40 * kMs;
        c.converter.Convert(ts);
        EXPECT_GE(c.converter.OutputTime(), c.now);
        if (c.converter.Lead() > 0) {
            // The measured step is close to 40 ms; a tenth of it comes off.
            EXPECT_GT(c.converter.OutputTime() - previousOutput, 30 * kMs);
            EXPECT_LT(c.converter.OutputTime() - previousOutput, 40 * kMs);
            EXPECT_LT(c.converter.Lead(), previousLead);
        }
    }
    EXPECT_EQ(c.converter.Lead(), 0u);
    EXPECT_GT(frames, 5);  // no jump back to the wall clock

    c.now += 40 * kMs;
    c.converter.Convert(ts + 3600u * 90'000u);
    EXPECT_EQ(c.converter.OutputTime(), c.now);
    EXPECT_EQ(c.converter.Lead(), 0u);
}

// The running sum stays exact while the oldest values drop out of the window.
TEST(StatisticsHelper, MeanOfTheLastThousand) {
    dravnel::TStatisticsHelper<unsigned> s;
    EXPECT_EQ(s.Mean(), 0.0);
    for (unsigned v : {1u, 2u, 3u}) s.Add(v);
    EXPECT_DOUBLE_EQ(s.Mean(), 2.0);
    for (int i = 0; i < 1000; ++i) s.Add(4'000'000'000u);
    EXPECT_EQ(s.Count(), 1000u);
    EXPECT_DOUBLE_EQ(s.Mean(), 4'000'000'000.0);
}

using dravnel::test::Bytes;

using dravnel::test::Cat;
using dravnel::test::FromHex;

const Bytes kStart{0x00, 0x00, 0x01};
const Bytes kTrailer{0x00, 0x00, 0x01, 0x09, 0x30};
// An SPS as x264 (through GStreamer's x264enc) wrote it. 67: NAL header;
// 42 c0 0d: Constrained Baseline, level 1.3; 20 x 15 macroblocks (320 x 240).
const Bytes kSps = FromHex("6742c00dda0507ec05a8303035280000030008000003019478a155");
const Bytes kPps{0x68, 0xCE, 0x3C, 0x80};
// NAL header 65 (IDR, NRI 3), first_mb_in_slice 0 (leading 1 bit)
const Bytes kIdr{0x65, 0x88, 0x84, 0x21, 0x43};
// NAL header 41 (non-IDR, NRI 2), first_mb_in_slice 0
const Bytes kPSlice{0x41, 0x9A, 0x02, 0x03};
// FU-A of a P slice (NRI 3): S=1 with first_mb_in_slice 0, then E=1
const Bytes kPStart{0x7C, 0x81, 0x9A, 0x01};
const Bytes kPEnd{0x7C, 0x41, 0x02};

// The picture size read from an SPS as "width x height", or "none".
std::string SpsSize(const Bytes& nal) {
    dravnel::PictureSize size;
    if (!dravnel::ReadSpsSize(nal, size)) return "none";
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

// x264's own output (through GStreamer's x264enc and FFmpeg's libx264), sets
// with what x264 does not put into an SPS (scaling lists, POC type 1),
// written bit by bit, and bytes that give no picture size.
TEST(H264Sps, ReadsThePictureSize) {
    // 67: NAL header; then profile_idc, constraint flags, level_idc.
    const std::pair<Bytes, std::string> kSets[] = {
        // 64 00 28: High, level 4.0; 120 x 68 macroblocks (1920 x 1088) cropped
        // by 4 chroma rows at the bottom; the VUI behind it holds 00 00 03 twice.
        {FromHex("67640028acd940780227e5c05a808080a0000003002000000651e30632c0"), "1920x1080"},
        {kSps, "320x240"},
        // x264 --interlaced: frame_mbs_only_flag 0, so 34 map units are 68
        // macroblock rows (1088), and the 2 crop units at the bottom are 4 luma
        // rows each.
        {FromHex("67640028acd94078044fde0220000003002000000643e2c5b2c0"), "1920x1080"},
        // f4 00 0d: High 4:4:4 Predictive; 20 x 15 macroblocks, of which 2
        // columns on the right are cropped: 4:4:4 crops in luma samples.
        {FromHex("67f4000d919b28283fdf80880000030008000003019078a14cb0"), "318x240"},
        // 64 00 1e: High; seq_scaling_matrix_present_flag with 8 list flags,
        // lists 0, 2, 4, 6 sent (deltas +8, -16: 16s ended early); POC type 0;
        // 20 x 15 macroblocks.
        {FromHex("6764001ead84010a1004284010a10042da0507e4"), "320x240"},
        // f4 00 1e: High 4:4:4 Predictive, chroma_format_idc 3: 12 list flags,
        // lists 0, 2, 4, 6, 8, 10 sent as above; 20 x 15 macroblocks.
        {FromHex("67f4001e91b08021420085080214200850802142008568141f90"), "320x240"},
        // 42 00 1e: Baseline; POC type 1 with offset_for_non_ref_pic -2^24 (25
        // leading zero bits), so emulation prevention bytes (00 00 03) come
        // before the picture size, 40 x 30 macroblocks. Read with them left in,
        // the size would be 16 x 32.
        {FromHex("6742001ed00000030100000300d00004000501407b20"), "640x480"},
        {{}, "none"},
        {kPps, "none"},
        {FromHex("6742c00dda0507"), "none"},  // cut inside pic_height_in_map_units_minus1
        // the same, then a start code: read on into the unit behind it, the
        // size would be 320 x 448
        {FromHex("6742c00dda0507"
                 "000001"
                 "6800"),
         "none"},
        {FromHex("6742001eda0507f028814740"), "none"},  // 20 x 15 macroblocks, 80 crop units left and right
        {FromHex("6742001eda0004e207e4"), "none"},      // 5000 macroblocks (80 000 columns) wide
    };
    for (const auto& [nal, size] : kSets) EXPECT_EQ(SpsSize(nal), size) << ::testing::PrintToString(nal);
}

// The H.264 depacketizer, given packets in sequence one frame interval apart.
struct Feed : dravnel::test::Depacketizer<> {
    // The session description's parameter sets.
    void SetConfig(const Bytes& sps) {
        const dravnel::CodecConfig config{sps, kPps, {}};
        parser.SetCodecConfig(&config);
    }
};

class H264Parser : public ::testing::Test, protected Feed {};

// FU-A fragments of an IDR picture that opens a frame get the session
// description's SPS and PPS in front; the frame ends with an access unit
// delimiter and reaches the host with its setters in the host's order.
TEST_F(H264Parser, KeyFrameFromFragmentsAndSessionDescription) {
    SetConfig(kSps);
    SendFrame({{0x7C, 0x85, 0x88, 0x84},  // FU indicator F=0 NRI=3 type 28; FU header S=1 type 5
               {0x7C, 0x05, 0x21},        // middle
               {0x7C, 0x45, 0x43}});      // E=1, marker
    // The next picture has no SPS: "I264" with the size of the last one,
    // 3600 ticks (39.96 ms) later.
    SendFrame({kPSlice});
    // An SEI ahead of the next IDR: the parameter sets go in front of it, so
    // the frame is a key frame.
    const Bytes sei{0x06, 0x05, 0x01, 0xAA, 0x80};
    SendFrame({{0x09, 0xF0}, sei, {0x7C, 0x85, 0x88, 0x84}, {0x7C, 0x45, 0x21}});
    EXPECT_EQ(FrameData(),
              (std::vector<Bytes>{
                  Cat({kStart, kSps, kStart, kPps, kStart, {0x65, 0x88, 0x84, 0x21, 0x43}, kTrailer}),
                  Cat({kStart, kPSlice, kTrailer}),
                  Cat({kStart, kSps, kStart, kPps, kStart, sei, kStart, {0x65, 0x88, 0x84, 0x21}, kTrailer})}));
    // Allocation and codec tags, width, height, size class, time of day.
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, int, int>> fields;
    for (const auto& f : sink.Frames()) {
        fields.emplace_back(f.allocationTag, f.codecTag, f.width, f.height, f.sizeClass, f.time.wHour,
                            f.time.wMilliseconds);
        EXPECT_EQ(f.dataSize, f.data.size());
        EXPECT_EQ(f.streamName, "Quarnel");
        EXPECT_EQ(f.calls, (std::vector<std::string>{"width", "height", "class", "size", "tag", "time"}));
    }
    using dravnel::kCodecTagH264Key, dravnel::kCodecTagH264;
    EXPECT_EQ(fields, (decltype(fields){{kCodecTagH264Key, kCodecTagH264Key, 320, 240, 2, 12, 0},
                                        {kCodecTagH264, kCodecTagH264, 320, 240, 2, 12, 39},
                                        {kCodecTagH264Key, kCodecTagH264Key, 320, 240, 2, 12, 79}}));
    EXPECT_EQ(allocator.allocated.load(), 3u);
    EXPECT_EQ(allocator.released.load(), 3u);
}

// Nothing reaches the host before a frame with an SPS: not P frames, and not
// an IDR when the session description's SPS gave no picture size. A refused
// frame, or none from the host, and the parser waits for a key frame again;
// every frame it got is released.
TEST_F(H264Parser, NothingWithoutAKeyFrameTheHostTakes) {
    SetConfig({0x67, 0x42});
    SendFrame({kIdr});
    SendFrame({kPSlice});
    SendFrame({kPStart, kPEnd});
    EXPECT_EQ(allocator.allocated.load(), 0u);
    EXPECT_TRUE(parser.WaitingForKeyFrame());
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
    EXPECT_TRUE(sink.Frames().empty());
    EXPECT_EQ(allocator.allocated.load(), allocator.released.load());
}

// A marker bit on a parameter set of 128 bytes or less does not end the
// frame; on a longer one it does. The stream's own access unit delimiters are
// dropped, in a STAP-A or alone: every frame ends with ours. One-byte units
// (end of sequence) are kept.
TEST_F(H264Parser, InBandParameterSetsAndDelimiters) {
    SetConfig(kSps);
    Send(kSps, true);
    Send(kPps);
    Send(kIdr, true);
    const Bytes longSps = Cat({kSps, Bytes(200 - kSps.size(), 0x00)});  // zeros after the RBSP stop bit
    Send(longSps, true);
    // STAP-A (NRI 3): the SPS (size 27), the PPS (size 4) and an AUD (size 2)
    SendFrame({Cat({{0x78, 0x00, 0x1B}, kSps, {0x00, 0x04}, kPps, {0x00, 0x02, 0x09, 0xF0}}), kIdr});
    SendFrame({{0x09, 0xF0}, kPSlice, {0x0A}});
    // No second copy of the session's parameter sets: the frames did not open
    // with the IDR.
    const Bytes keyFrame = Cat({kStart, kSps, kStart, kPps, kStart, kIdr, kTrailer});
    EXPECT_EQ(FrameData(), (std::vector<Bytes>{keyFrame, Cat({kStart, longSps, kTrailer}), keyFrame,
                                               Cat({kStart, kPSlice, kStart, {0x0A}, kTrailer})}));
}

// Between the start and the end of a fragmented P frame after a key frame:
// 65535 then 0 is in sequence; a sequence break, or a payload the parser
// cannot take, drops the frame, and nothing more is delivered before the next
// key frame.
TEST(H264ParserBreak, DropsTheFrameAndWaitsForAKeyFrame) {
    const std::tuple<const char*, uint16_t, uint16_t, std::optional<Bytes>, bool> kCases[] = {
        // name, sequence number of the P frame's start, then of its end, payload between, delivered
        {"65535 then 0", 65535, 0, std::nullopt, true},
        {"10 then 12", 10, 12, std::nullopt, false},
        {"10 then 10", 10, 10, std::nullopt, false},
        {"empty", 10, 12, Bytes{}, false},
        {"FU-B", 10, 12, Bytes{0x1D, 0x81, 0x00, 0x00, 0x9A}, false},  // type 29: unsupported, as 0, 25-27, 30, 31
        {"short FU-A", 10, 12, Bytes{0x7C, 0x01}, false},
        // first size 5, only 3 bytes follow
        {"STAP-A oversized", 10, 12, Bytes{0x78, 0x00, 0x05, 0x41, 0x9A, 0x01}, false},
        // second size 9 after a good first unit
        {"STAP-A second oversized", 10, 12, Bytes{0x78, 0x00, 0x02, 0x41, 0x9A, 0x00, 0x09, 0x01}, false},
    };
    for (const auto& [name, start, end, between, delivered] : kCases) {
        SCOPED_TRACE(name);
        Feed f;
        f.sequence = static_cast<uint16_t>(start - 3);
        f.SendFrame({kSps, kPps, kIdr});
        f.Send(kPStart);
        if (between) f.Send(*between);
        f.sequence = end;
        f.Send(kPEnd, true);
        f.SendFrame({kPSlice});
        EXPECT_EQ(f.sink.Frames().size(), delivered ? 3u : 1u);
        EXPECT_EQ(f.parser.WaitingForKeyFrame(), !delivered);
    }
}

// The start of a fragmented slice with first_mb_in_slice 0 opens a new
// picture and drops what an unfinished frame left; a later slice of the same
// picture keeps the slices before it.
TEST_F(H264Parser, FragmentedSliceStart) {
    SendFrame({kSps, kPps, kIdr});
    Send({0x06, 0x05, 0x01, 0xAA});  // SEI, no marker: left over
    SendFrame({kPStart, kPEnd});
    // first_mb_in_slice 3 (bits 00100) in a fragment with NRI 2
    SendFrame({kPSlice, {0x5C, 0x81, 0x22, 0x05}, {0x5C, 0x41, 0x06}});
    EXPECT_EQ(FrameData(), (std::vector<Bytes>{Cat({kStart, kSps, kStart, kPps, kStart, kIdr, kTrailer}),
                                               Cat({kStart, {0x61, 0x9A, 0x01, 0x02}, kTrailer}),
                                               Cat({kStart, kPSlice, kStart, {0x41, 0x22, 0x05, 0x06}, kTrailer})}));
}

// The runaway frame is dropped with one line; its buffer never grows much
// past the limit, and does not stay that large once ordinary frames follow.
TEST_F(H264Parser, OversizedFrameIsLoggedOnceAndDropped) {
    SendFrame({kSps, kPps, kIdr});
    const Bytes fragment = Cat({{0x7C, 0x01}, Bytes(59998, 0x5A)});  // FU-A, neither start nor end
    Send(kPStart);
    const size_t packets = dravnel::CRTPMediaParser::kMaxFrameBytes / (fragment.size() - 2) + 20;
    size_t largest = 0;
    for (size_t i = 0; i < packets; ++i) {
        Send(fragment);
        largest = std::max(largest, parser.FrameCapacity());
    }
    Send(kPEnd, true);
    EXPECT_EQ(sink.Frames().size(), 1u);
    const auto lines = driver.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 1);
    EXPECT_EQ(lines[0].text,
              "dravnel::CRTPMediaParser::CheckBufferSize: Frame buffer overflow detected, device 127.0.0.1:80");
    EXPECT_TRUE(parser.WaitingForKeyFrame());
    EXPECT_LT(largest, dravnel::CRTPMediaParser::kMaxFrameBytes + 0x20000);

    // By the end of the window after the runaway frame's.
    constexpr size_t kFrames = 2 * dravnel::CRTPMediaParser::kCapacityWindow;
    for (size_t i = 0; i < kFrames; ++i) SendFrame({kSps, kPps, kIdr});
    EXPECT_EQ(sink.Frames().size(), kFrames + 1);
    EXPECT_LE(parser.FrameCapacity(), dravnel::CRTPMediaParser::kKeptCapacity);
}

}  // namespace
