// CRTPPacket::Parse against hand-made packets whose every field is spelled out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "rtp/CRTPPacket.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Sequence 0x1234, time stamp 1000, SSRC 11 22 33 44, then the rest.
Bytes Wire(uint8_t first, uint8_t second, const Bytes& rest) {
    Bytes p{first, second, 0x12, 0x34, 0x00, 0x00, 0x03, 0xE8, 0x11, 0x22, 0x33, 0x44};
    std::copy(rest.begin(), rest.end(), std::back_inserter(p));  // insert() trips g++ 12's -Warray-bounds
    return p;
}

struct PacketCase {
    std::string name;
    Bytes wire;
    std::optional<Bytes> payload;  // none: the packet is dropped
};

// First byte: V(2) P X CC(4); second: M PT(7).
const PacketCase kCases[] = {
    {"HeaderOnly", Wire(0x80, 0x60, {}), std::nullopt},
    {"OnePayloadByte", Wire(0x80, 0x60, {0xAA}), Bytes{0xAA}},
    {"Version1", Wire(0x40, 0x60, {0xAA}), std::nullopt},
    // P: payload AA BB, padding 00 02 (the count includes itself)
    {"Padding", Wire(0xA0, 0x60, {0xAA, 0xBB, 0x00, 0x02}), Bytes{0xAA, 0xBB}},
    // P: count 3 is all bytes after the header: an empty payload, still a packet
    {"PaddingIsAll", Wire(0xA0, 0x60, {0x03, 0x03, 0x03}), Bytes{}},
    {"PaddingTooLarge", Wire(0xA0, 0x60, {0x01, 0x02, 0x05}), std::nullopt},
    // X: profile BE DE, length 0 words, payload CC
    {"ExtensionLength0", Wire(0x90, 0x60, {0xBE, 0xDE, 0x00, 0x00, 0xCC}), Bytes{0xCC}},
    // X: length 2 words announced, 5 bytes left
    {"ExtensionTooLong", Wire(0x90, 0x60, {0x10, 0x00, 0x00, 0x02, 0x01, 0x02, 0x03, 0x04, 0xCC}), std::nullopt},
    // X with only 2 bytes after the header
    {"ExtensionHeaderCut", Wire(0x90, 0x60, {0x10, 0x00}), std::nullopt},
    // CC=2 announces 8 bytes and exactly 8 remain: the CSRC list must leave a byte
    {"CsrcFillsPacket", Wire(0x82, 0x60, Bytes(8, 0x01)), std::nullopt},
};

class RTPPacketParse : public ::testing::TestWithParam<PacketCase> {};

TEST_P(RTPPacketParse, Payload) {
    dravnel::CRTPPacket packet;
    ASSERT_EQ(packet.Parse(GetParam().wire), GetParam().payload.has_value());
    if (!GetParam().payload) return;
    EXPECT_EQ(packet.payload, *GetParam().payload);
    EXPECT_EQ(packet.payloadLength, packet.payload.size());
}

INSTANTIATE_TEST_SUITE_P(Golden, RTPPacketParse, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

// Every field at once; a packet object parsed again (the receiver reuses
// them) keeps nothing of the one before.
TEST(RTPPacket, AllFieldsThenAPlainPacket) {
    const Bytes wire = Wire(0xB1, 0xFF, {0x0A, 0x0B, 0x0C, 0x0D,                          // V=2 P X CC=1; M PT=127; CSRC
                                         0x10, 0x00, 0x00, 0x01, 0x01, 0x02, 0x03, 0x04,  // extension 1000, 1 word
                                         0x55, 0x66, 0x77,                                // payload
                                         0x00, 0x02});                                    // padding
    dravnel::CRTPPacket packet;
    ASSERT_TRUE(packet.Parse(wire));
    EXPECT_EQ(packet.marker, 1);
    EXPECT_EQ(packet.padding, 1);
    EXPECT_EQ(packet.payloadType, 127);
    EXPECT_EQ(packet.sequenceNumber, 0x1234);
    EXPECT_EQ(packet.timeStamp, 1000u);
    EXPECT_EQ(packet.extensionProfile, 0x1000);
    EXPECT_EQ(packet.extensionLength, 1);
    EXPECT_EQ(packet.extensionData, (Bytes{0x01, 0x02, 0x03, 0x04}));
    EXPECT_EQ(packet.payload, (Bytes{0x55, 0x66, 0x77}));
    // SSRC and CSRC stay in network order, as received.
    EXPECT_EQ(std::memcmp(&packet.ssrc, "\x11\x22\x33\x44", 4), 0);
    ASSERT_EQ(packet.csrcCount, 1);
    ASSERT_EQ(packet.csrc.size(), 1u);
    EXPECT_EQ(std::memcmp(packet.csrc.data(), "\x0A\x0B\x0C\x0D", 4), 0);

    ASSERT_TRUE(packet.Parse(Wire(0x80, 0x60, {0x01})));
    EXPECT_EQ(packet.csrcCount, 0);
    EXPECT_TRUE(packet.csrc.empty());
    EXPECT_EQ(packet.extensionProfile, 0);
    EXPECT_EQ(packet.extensionLength, 0);
    EXPECT_TRUE(packet.extensionData.empty());
    EXPECT_EQ(packet.marker, 0);
    EXPECT_EQ(packet.padding, 0);
    EXPECT_EQ(packet.payloadType, 96);
    EXPECT_EQ(packet.payload, Bytes{0x01});
}

}  // namespace
