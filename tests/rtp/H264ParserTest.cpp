// The H.264 depacketizer fed packet by packet, with frames going to the
// recording host allocator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtp/CH264RTPMediaParser.h"
#include "tests/rtp/H264TestData.h"
#include "tests/rtp/StubDriver.h"
#include "tools/host/FrameAllocator.h"

namespace {

using quarnel::test::Bytes;
using quarnel::test::Cat;
using quarnel::test::Packet;
using quarnel::test::SpsFields;
using quarnel::test::SpsNal;

struct Frame {
    Bytes data;
    uint32_t allocationTag = 0;
    uint32_t tag = 0;
    uint32_t width = 0, height = 0, sizeClass = 0, dataSize = 0;
    std::string streamName;
    std::vector<std::string> calls;
    dravnel::SYSTEMTIME time{};
};

class RecordingClient : public dravnel::IMediaParserClient {
public:
    bool OnFrame(dravnel::ipcapture::IHostFrame* f) override {
        auto* h = dynamic_cast<quarnel::host::HostFrame*>(f);
        Frame r;
        r.data.assign(h->buffer.begin(), h->buffer.begin() + h->dataSize);
        r.allocationTag = h->allocationTag;
        r.tag = h->codecTag;
        r.width = h->width;
        r.height = h->height;
        r.sizeClass = h->sizeClass;
        r.dataSize = h->dataSize;
        r.streamName = h->streamName;
        r.calls = h->calls;
        r.time = h->time;
        frames.push_back(r);
        return accept;
    }
    std::pair<uint32_t, uint32_t> GetFrameSize() override { return {0, 0}; }

    std::vector<Frame> frames;
    bool accept = true;
};

const Bytes kStart{0x00, 0x00, 0x01};
const Bytes kTrailer{0x00, 0x00, 0x01, 0x09, 0x30};
const Bytes kPps{0x68, 0xCE, 0x3C, 0x80};
// NAL header 65 (IDR, NRI 3), first_mb_in_slice 0 (leading 1 bit)
const Bytes kIdr{0x65, 0x88, 0x84, 0x21, 0x43};
// NAL header 41 (non-IDR, NRI 2), first_mb_in_slice 0
const Bytes kPSlice{0x41, 0x9A, 0x02, 0x03};
// The same picture's next slice: first_mb_in_slice 3 (bits 00100)
const Bytes kPSliceCont{0x41, 0x22, 0x05, 0x06};

class H264Parser : public ::testing::Test {
protected:
    H264Parser() { parser.SetClient(&client); }

    void Send(Bytes payload, bool marker = false) {
        dravnel::CRTPPacket p = Packet(sequence++, timeStamp, marker, std::move(payload));
        parser.ProcessPacket(&p);
    }
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
        SendFrame({sps, kPps, kIdr});
        ASSERT_FALSE(parser.WaitingForKeyFrame());
    }

    const Bytes sps = SpsNal(SpsFields{});  // 320 x 240
    quarnel::host::FrameAllocator allocator;
    quarnel::test::StubDriver driver{&allocator};
    dravnel::CH264RTPMediaParser parser{&driver, "Quarnel"};
    RecordingClient client;
    uint16_t sequence = 100;
    uint32_t timeStamp = 90000;
};

// FU-A fragments of an IDR picture that opens a frame get the session
// description's SPS and PPS in front; the frame ends with an access unit
// delimiter and reaches the host with its setters in the host's order.
TEST_F(H264Parser, KeyFrameFromFragmentsAndSessionDescription) {
    SetConfig(sps, kPps);
    EXPECT_EQ(parser.Width(), 320u);
    SendFrame({{0x7C, 0x85, 0x88, 0x84},  // FU indicator F=0 NRI=3 type 28; FU header S=1 type 5
               {0x7C, 0x05, 0x21},        // middle
               {0x7C, 0x45, 0x43}});      // E=1, marker
    ASSERT_EQ(client.frames.size(), 1u);
    const Frame& f = client.frames[0];
    EXPECT_EQ(f.data, Cat({kStart, sps, kStart, kPps, kStart, {0x65, 0x88, 0x84, 0x21, 0x43}, kTrailer}));
    EXPECT_EQ(f.allocationTag, dravnel::kCodecTagH264Key);
    EXPECT_EQ(f.tag, dravnel::kCodecTagH264Key);
    EXPECT_EQ(f.width, 320u);
    EXPECT_EQ(f.height, 240u);
    EXPECT_EQ(f.sizeClass, 2u);
    EXPECT_EQ(f.dataSize, f.data.size());
    EXPECT_EQ(f.streamName, "Quarnel");
    EXPECT_EQ(f.calls, (std::vector<std::string>{"width", "height", "class", "size", "tag", "time"}));
    EXPECT_EQ(allocator.allocated.load(), 1u);
    EXPECT_EQ(allocator.released.load(), 1u);

    // The next picture has no SPS: "I264" with the size of the last one.
    SendFrame({kPSlice});
    ASSERT_EQ(client.frames.size(), 2u);
    EXPECT_EQ(client.frames[1].data, Cat({kStart, kPSlice, kTrailer}));
    EXPECT_EQ(client.frames[1].tag, dravnel::kCodecTagH264);
    EXPECT_EQ(client.frames[1].width, 320u);
    EXPECT_EQ(allocator.released.load(), 2u);
}

// An SEI ahead of the IDR: the session's parameter sets go in front of it,
// so the frame is a key frame.
TEST_F(H264Parser, ParameterSetsGoInFrontOfLeadingSei) {
    SetConfig(sps, kPps);
    const Bytes sei{0x06, 0x05, 0x01, 0xAA, 0x80};
    SendFrame({{0x09, 0xF0}, sei, {0x7C, 0x85, 0x88, 0x84}, {0x7C, 0x45, 0x21}});
    ASSERT_EQ(client.frames.size(), 1u);
    EXPECT_EQ(client.frames[0].data,
              Cat({kStart, sps, kStart, kPps, kStart, sei, kStart, {0x65, 0x88, 0x84, 0x21}, kTrailer}));
    EXPECT_EQ(client.frames[0].tag, dravnel::kCodecTagH264Key);
    // A second IDR slice of the same picture gets none.
    SendFrame({kIdr, {0x7C, 0x85, 0x08, 0x84}, {0x7C, 0x45, 0x21}});
    ASSERT_EQ(client.frames.size(), 2u);
    EXPECT_EQ(client.frames[1].data, Cat({kStart, sps, kStart, kPps, kStart, kIdr, kStart, {0x65, 0x08, 0x84, 0x21}, kTrailer}));
}

// Fragments whose start was lost are no place to put parameter sets in front
// of: the frame stays without an SPS and is dropped.
TEST_F(H264Parser, NoParameterSetsInFrontOfAStrayFragment) {
    SetConfig(sps, kPps);
    SendFrame({{0x7C, 0x05, 0x11, 0x12}, kIdr});
    EXPECT_TRUE(client.frames.empty());
    EXPECT_TRUE(parser.WaitingForKeyFrame());
}

TEST_F(H264Parser, PFramesWaitForAKeyFrame) {
    SendFrame({kPSlice});
    SendFrame({{0x7C, 0x81, 0x9A, 0x01}, {0x7C, 0x41, 0x02}});  // FU-A P slice
    EXPECT_TRUE(client.frames.empty());
    EXPECT_EQ(allocator.allocated.load(), 0u);
    EXPECT_TRUE(parser.WaitingForKeyFrame());
}

TEST_F(H264Parser, InBandParameterSetsNeedNoSessionDescription) {
    SetConfig(sps, kPps);
    // The short SPS carries the marker bit, yet does not end the frame.
    Send(sps, true);
    Send(kPps);
    Send(kIdr, true);
    ASSERT_EQ(client.frames.size(), 1u);
    // No second copy of the parameter sets: the frame did not start with the IDR.
    EXPECT_EQ(client.frames[0].data, Cat({kStart, sps, kStart, kPps, kStart, kIdr, kTrailer}));
}

TEST_F(H264Parser, ParameterSetOver128BytesEndsTheFrame) {
    Bytes longSps = sps;
    longSps.resize(200, 0x00);  // zeros after the RBSP stop bit
    Send(longSps, true);
    ASSERT_EQ(client.frames.size(), 1u);
    EXPECT_EQ(client.frames[0].data, Cat({kStart, longSps, kTrailer}));
    EXPECT_EQ(client.frames[0].tag, dravnel::kCodecTagH264Key);
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
    ASSERT_EQ(sequence, GetParam().first);
    Send({0x7C, 0x81, 0x9A, 0x01});
    sequence = GetParam().second;
    Send({0x7C, 0x41, 0x02}, true);
    EXPECT_EQ(client.frames.size(), GetParam().delivered ? 2u : 1u);
    EXPECT_EQ(parser.WaitingForKeyFrame(), !GetParam().delivered);
}

INSTANTIATE_TEST_SUITE_P(Numbers, H264ParserSequence,
                         ::testing::Values(SequenceCase{"Wrap", 65535, 0, true},
                                           SequenceCase{"Next", 10, 11, true},
                                           SequenceCase{"Gap", 10, 12, false},
                                           SequenceCase{"Late", 10, 9, false},
                                           SequenceCase{"Repeat", 10, 10, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(H264Parser, StapACarriesTheParameterSets) {
    Bytes stap{0x78};  // STAP-A, NRI 3
    stap.push_back(0);
    stap.push_back(static_cast<uint8_t>(sps.size()));
    stap.insert(stap.end(), sps.begin(), sps.end());
    stap.insert(stap.end(), {0x00, 0x04});
    stap.insert(stap.end(), kPps.begin(), kPps.end());
    stap.insert(stap.end(), {0x00, 0x02, 0x09, 0xF0});  // the stream's own AUD
    SendFrame({stap, kIdr});
    ASSERT_EQ(client.frames.size(), 1u);
    EXPECT_EQ(client.frames[0].data, Cat({kStart, sps, kStart, kPps, kStart, kIdr, kTrailer}));
}

// Payloads the parser cannot take drop the frame and wait for a key frame.
class H264ParserMalformed : public H264Parser, public ::testing::WithParamInterface<std::pair<const char*, Bytes>> {};

TEST_P(H264ParserMalformed, ResetsTheParser) {
    DeliverKeyFrame();
    Send({0x7C, 0x81, 0x9A, 0x01});
    Send(GetParam().second);
    EXPECT_TRUE(parser.WaitingForKeyFrame());
    Send({0x7C, 0x41, 0x02}, true);
    SendFrame({kPSlice});
    EXPECT_EQ(client.frames.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, H264ParserMalformed,
    ::testing::Values(std::make_pair("Empty", Bytes{}),
                      std::make_pair("Type0", Bytes{0x00, 0x01, 0x02}),
                      std::make_pair("StapB", Bytes{0x19, 0x00, 0x00, 0x01, 0x41}),
                      std::make_pair("Mtap16", Bytes{0x1A, 0x00, 0x00, 0x01, 0x41}),
                      std::make_pair("Mtap24", Bytes{0x1B, 0x00, 0x00, 0x01, 0x41}),
                      std::make_pair("FuB", Bytes{0x1D, 0x81, 0x00, 0x00, 0x9A}),
                      std::make_pair("Type30", Bytes{0x1E, 0x01, 0x02}),
                      std::make_pair("Type31", Bytes{0x1F, 0x01, 0x02}),
                      std::make_pair("ShortFuA", Bytes{0x7C, 0x01}),
                      std::make_pair("ShortStapA", Bytes{0x78, 0x00, 0x01}),
                      // first size 5, only 3 bytes follow
                      std::make_pair("StapAOversized", Bytes{0x78, 0x00, 0x05, 0x41, 0x9A, 0x01}),
                      // second size 9 after a good first unit
                      std::make_pair("StapASecondOversized", Bytes{0x78, 0x00, 0x02, 0x41, 0x9A, 0x00, 0x09, 0x01})),
    [](const auto& info) { return std::string(info.param.first); });

TEST_F(H264Parser, FragmentedPictureStartDiscardsLeftovers) {
    DeliverKeyFrame();
    Send({0x06, 0x05, 0x01, 0xAA});  // SEI, no marker: left over
    SendFrame({{0x7C, 0x81, 0x9A, 0x01}, {0x7C, 0x41, 0x02}});
    ASSERT_EQ(client.frames.size(), 2u);
    EXPECT_EQ(client.frames[1].data, Cat({kStart, {0x61, 0x9A, 0x01, 0x02}, kTrailer}));
}

// The second slice of a picture, fragmented, keeps the first one.
TEST_F(H264Parser, FragmentedLaterSliceKeepsThePicture) {
    DeliverKeyFrame();
    SendFrame({kPSlice, {0x5C, 0x81, 0x22, 0x05}, {0x5C, 0x41, 0x06}});
    ASSERT_EQ(client.frames.size(), 2u);
    EXPECT_EQ(client.frames[1].data, Cat({kStart, kPSlice, kStart, kPSliceCont, kTrailer}));
}

TEST_F(H264Parser, StreamDelimitersAreNotDoubled) {
    DeliverKeyFrame();
    SendFrame({{0x09, 0xF0}, kPSlice});
    ASSERT_EQ(client.frames.size(), 2u);
    EXPECT_EQ(client.frames[1].data, Cat({kStart, kPSlice, kTrailer}));
    // One-byte NAL units (end of sequence) are kept.
    SendFrame({kPSlice, {0x0A}});
    ASSERT_EQ(client.frames.size(), 3u);
    EXPECT_EQ(client.frames[2].data, Cat({kStart, kPSlice, kStart, {0x0A}, kTrailer}));
}

TEST_F(H264Parser, OversizedFrameIsLoggedOnceAndDropped) {
    DeliverKeyFrame();
    Bytes fragment(60000, 0x5A);
    fragment[0] = 0x7C;
    fragment[1] = 0x01;
    Send({0x7C, 0x81, 0x9A, 0x01});
    const size_t packets = dravnel::CRTPMediaParser::kMaxFrameBytes / (fragment.size() - 2) + 20;
    for (size_t i = 0; i < packets; ++i) Send(fragment);
    Send({0x7C, 0x41, 0x02}, true);
    EXPECT_EQ(client.frames.size(), 1u);
    const auto lines = driver.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "1 dravnel::CRTPMediaParser::CheckBufferSize: Frame buffer overflow detected, device 127.0.0.1:8080");
    EXPECT_TRUE(parser.WaitingForKeyFrame());
}

TEST_F(H264Parser, RefusedFrameResets) {
    client.accept = false;
    SendFrame({sps, kPps, kIdr});
    EXPECT_EQ(client.frames.size(), 1u);
    EXPECT_TRUE(parser.WaitingForKeyFrame());
    EXPECT_EQ(allocator.released.load(), 1u);
    client.accept = true;
    SendFrame({kPSlice});
    EXPECT_EQ(client.frames.size(), 1u);
}

TEST_F(H264Parser, NoFrameFromTheHost) {
    allocator.allocate = false;
    SendFrame({sps, kPps, kIdr});
    EXPECT_TRUE(client.frames.empty());
    driver.SetAllocator(nullptr);
    SendFrame({sps, kPps, kIdr});
    EXPECT_TRUE(client.frames.empty());
}

TEST_F(H264Parser, SessionDescriptionWithoutPictureSizeIsIgnored) {
    SetConfig({0x67, 0x42}, kPps);
    EXPECT_TRUE(parser.GetCodecConfig().sps.empty());
    SendFrame({kIdr});
    EXPECT_TRUE(client.frames.empty());  // no SPS anywhere: still waiting
    SetConfig(sps, {});
    EXPECT_TRUE(parser.GetCodecConfig().sps.empty());
}

TEST_F(H264Parser, FrameTimeComesFromTheFrameClock) {
    uint64_t now = 133537680000000000ull;  // 2024-03-01 12:00:00 UTC
    parser.FrameClock().SetClock([&] { return now; });
    DeliverKeyFrame();
    SendFrame({kPSlice});  // 3600 ticks later: + 39.96 ms
    ASSERT_EQ(client.frames.size(), 2u);
    EXPECT_EQ(client.frames[0].time.wHour, 12);
    EXPECT_EQ(client.frames[0].time.wMilliseconds, 0);
    EXPECT_EQ(client.frames[1].time.wMilliseconds, 39);
}

TEST(MediaParser, SizeClass) {
    struct Case {
        uint32_t width, height, sizeClass;
    };
    const Case cases[] = {{176, 144, 1}, {199, 100, 1}, {352, 240, 2}, {399, 100, 2}, {704, 240, 3},
                          {704, 480, 4}, {704, 352, 4}, {1023, 100, 3}, {1024, 100, 4}, {1920, 1080, 4}};
    for (const Case& c : cases) {
        EXPECT_EQ(dravnel::CRTPMediaParser::SizeClass(c.width, c.height), c.sizeClass) << c.width << "x" << c.height;
    }
}

}  // namespace
