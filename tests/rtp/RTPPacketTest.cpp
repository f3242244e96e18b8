// CRTPPacket::Parse against hand-made packets whose every field is spelled out.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "rtp/CRTPPacket.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct PacketCase {
    PacketCase(std::string n, Bytes w, bool o, Bytes p)
        : name(std::move(n)), wire(std::move(w)), ok(o), payload(std::move(p)) {}
    std::string name;
    Bytes wire;
    bool ok;
    Bytes payload;
    uint8_t marker = 0;
    uint8_t padding = 0;
    uint8_t payloadType = 96;
    uint16_t sequence = 0x1234;
    uint32_t timeStamp = 0x000003E8;
    uint8_t csrcCount = 0;
    uint16_t extensionProfile = 0;
    uint16_t extensionLength = 0;
    Bytes extensionData;
};

// Sequence 0x1234, time stamp 1000, SSRC 11 22 33 44.
Bytes Header(uint8_t first, uint8_t second) {
    return {first, second, 0x12, 0x34, 0x00, 0x00, 0x03, 0xE8, 0x11, 0x22, 0x33, 0x44};
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<PacketCase> Cases() {
    std::vector<PacketCase> c;
    // V=2 P=0 X=0 CC=0 | M=0 PT=96
    c.push_back(PacketCase{"HeaderOnly", Header(0x80, 0x60), false, {}});
    c.push_back(PacketCase{"OnePayloadByte", Cat(Header(0x80, 0x60), {0xAA}), true, {0xAA}});
    // V=1
    c.push_back(PacketCase{"Version1", Cat(Header(0x40, 0x60), {0xAA}), false, {}});
    // V=3
    c.push_back(PacketCase{"Version3", Cat(Header(0xC0, 0x60), {0xAA}), false, {}});
    // M=1 PT=96, M=0 PT=127
    {
        PacketCase m{"Marker", Cat(Header(0x80, 0xE0), {0x01, 0x02}), true, {0x01, 0x02}};
        m.marker = 1;
        c.push_back(m);
        PacketCase pt{"PayloadType127", Cat(Header(0x80, 0x7F), {0x01}), true, {0x01}};
        pt.payloadType = 127;
        c.push_back(pt);
    }
    // P=1: payload AA BB, padding 00 02 (count 2 includes itself)
    {
        PacketCase p{"Padding", Cat(Header(0xA0, 0x60), {0xAA, 0xBB, 0x00, 0x02}), true, {0xAA, 0xBB}};
        p.padding = 1;
        c.push_back(p);
        // padding count 3 == all bytes after the header: empty payload, still a packet
        PacketCase e{"PaddingIsAll", Cat(Header(0xA0, 0x60), {0x03, 0x03, 0x03}), true, {}};
        e.padding = 1;
        c.push_back(e);
        c.push_back(PacketCase{"PaddingTooLarge", Cat(Header(0xA0, 0x60), {0x01, 0x02, 0x05}), false, {}});
    }
    // X=1: profile BE DE, length 0 words, then payload CC
    {
        PacketCase x{"ExtensionLength0", Cat(Header(0x90, 0x60), {0xBE, 0xDE, 0x00, 0x00, 0xCC}), true, {0xCC}};
        x.extensionProfile = 0xBEDE;
        c.push_back(x);
        // profile 10 00, length 1 word: 01 02 03 04, payload CC DD
        PacketCase y{"ExtensionOneWord",
                     Cat(Header(0x90, 0x60), {0x10, 0x00, 0x00, 0x01, 0x01, 0x02, 0x03, 0x04, 0xCC, 0xDD}),
                     true,
                     {0xCC, 0xDD}};
        y.extensionProfile = 0x1000;
        y.extensionLength = 1;
        y.extensionData = {0x01, 0x02, 0x03, 0x04};
        c.push_back(y);
        // length 2 words announced, 5 bytes left
        c.push_back(PacketCase{"ExtensionTooLong",
                     Cat(Header(0x90, 0x60), {0x10, 0x00, 0x00, 0x02, 0x01, 0x02, 0x03, 0x04, 0xCC}),
                     false,
                     {}});
        // X=1 with only 2 bytes after the header
        c.push_back(PacketCase{"ExtensionHeaderCut", Cat(Header(0x90, 0x60), {0x10, 0x00}), false, {}});
        // the extension fills the packet exactly: empty payload
        PacketCase z{"ExtensionFillsPacket", Cat(Header(0x90, 0x60), {0xBE, 0xDE, 0x00, 0x00}), true, {}};
        z.extensionProfile = 0xBEDE;
        c.push_back(z);
    }
    // CC=1: CSRC 0A 0B 0C 0D, payload EE
    {
        PacketCase s{"OneCsrc", Cat(Header(0x81, 0x60), {0x0A, 0x0B, 0x0C, 0x0D, 0xEE}), true, {0xEE}};
        s.csrcCount = 1;
        c.push_back(s);
        // CC=2 announces 8 bytes, exactly 8 remain: the CSRC list must leave a byte
        c.push_back(PacketCase{"CsrcFillsPacket", Cat(Header(0x82, 0x60), Bytes(8, 0x01)), false, {}});
    }
    // CC=1, X=1 (length 1), P=1 with count 2: everything at once
    {
        PacketCase all{"CsrcExtensionPadding",
                       Cat(Header(0xB1, 0xE0), {0x0A, 0x0B, 0x0C, 0x0D,                          // CSRC
                                                0x10, 0x00, 0x00, 0x01, 0x01, 0x02, 0x03, 0x04,  // extension
                                                0x55, 0x66, 0x77,                                // payload
                                                0x00, 0x02}),                                    // padding
                       true,
                       {0x55, 0x66, 0x77}};
        all.marker = 1;
        all.padding = 1;
        all.csrcCount = 1;
        all.extensionProfile = 0x1000;
        all.extensionLength = 1;
        all.extensionData = {0x01, 0x02, 0x03, 0x04};
        c.push_back(all);
    }
    return c;
}

class RTPPacketParse : public ::testing::TestWithParam<PacketCase> {};

TEST_P(RTPPacketParse, Fields) {
    const PacketCase& c = GetParam();
    dravnel::CRTPPacket packet;
    ASSERT_EQ(packet.Parse(c.wire), c.ok);
    if (!c.ok) return;
    EXPECT_EQ(packet.payload, c.payload);
    EXPECT_EQ(packet.payloadLength, c.payload.size());
    EXPECT_EQ(packet.marker, c.marker);
    EXPECT_EQ(packet.padding, c.padding);
    EXPECT_EQ(packet.payloadType, c.payloadType);
    EXPECT_EQ(packet.sequenceNumber, c.sequence);
    EXPECT_EQ(packet.timeStamp, c.timeStamp);
    EXPECT_EQ(packet.csrcCount, c.csrcCount);
    EXPECT_EQ(packet.csrc.size(), c.csrcCount);
    EXPECT_EQ(packet.extensionProfile, c.extensionProfile);
    EXPECT_EQ(packet.extensionLength, c.extensionLength);
    EXPECT_EQ(packet.extensionData, c.extensionData);
    // SSRC and CSRC stay in network order, as received.
    EXPECT_EQ(std::memcmp(&packet.ssrc, "\x11\x22\x33\x44", 4), 0);
    if (c.csrcCount) {
        EXPECT_EQ(std::memcmp(packet.csrc.data(), "\x0A\x0B\x0C\x0D", 4), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Golden, RTPPacketParse, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

TEST(RTPPacket, ParseClearsThePreviousPacket) {
    dravnel::CRTPPacket packet;
    const Bytes withExtension = Cat(Header(0xB1, 0xE0), {0x0A, 0x0B, 0x0C, 0x0D, 0x10, 0x00, 0x00, 0x01, 0x01, 0x02,
                                                         0x03, 0x04, 0x55, 0x00, 0x02});
    ASSERT_TRUE(packet.Parse(withExtension));
    ASSERT_TRUE(packet.Parse(Cat(Header(0x80, 0x60), {0x01})));
    EXPECT_EQ(packet.csrcCount, 0);
    EXPECT_TRUE(packet.csrc.empty());
    EXPECT_EQ(packet.extensionLength, 0);
    EXPECT_TRUE(packet.extensionData.empty());
    EXPECT_EQ(packet.marker, 0);
    EXPECT_EQ(packet.padding, 0);
    EXPECT_EQ(packet.payload, Bytes{0x01});
}

TEST(RTPPacket, NullDataFails) {
    dravnel::CRTPPacket packet;
    EXPECT_FALSE(packet.Parse(nullptr, 20));
}

}  // namespace
