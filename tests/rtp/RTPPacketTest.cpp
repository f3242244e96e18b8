// CRTPPacket::Parse against hand-made packets whose every field is spelled out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <tuple>
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

// The payload of a packet that parses, with its length field checked.
std::optional<Bytes> PayloadOf(const Bytes& wire) {
    dravnel::CRTPPacket packet;
    if (!packet.Parse(wire)) return std::nullopt;
    EXPECT_EQ(packet.payloadLength, packet.payload.size());
    return packet.payload;
}

// The fields in host order: CSRC count and list size, marker, padding,
// payload type, sequence number, time stamp, extension profile, length and
// data, payload length and payload.
auto Fields(const dravnel::CRTPPacket& p) {
    return std::make_tuple(p.csrcCount, p.csrc.size(), p.marker, p.padding, p.payloadType, p.sequenceNumber,
                           p.timeStamp, p.extensionProfile, p.extensionLength, p.extensionData, p.payloadLength,
                           p.payload);
}

// First byte: V(2) P X CC(4); second: M PT(7). No payload: the packet is
// dropped.
TEST(RTPPacket, PayloadOfGoldenPackets) {
    const std::tuple<const char*, Bytes, std::optional<Bytes>> kCases[] = {
        {"header only", Wire(0x80, 0x60, {}), std::nullopt},
        {"one payload byte", Wire(0x80, 0x60, {0xAA}), Bytes{0xAA}},
        {"version 1", Wire(0x40, 0x60, {0xAA}), std::nullopt},
        // P: payload AA BB, padding 00 02 (the count includes itself)
        {"padding", Wire(0xA0, 0x60, {0xAA, 0xBB, 0x00, 0x02}), Bytes{0xAA, 0xBB}},
        // P: count 3 is all bytes after the header: an empty payload, still a packet
        {"padding is all", Wire(0xA0, 0x60, {0x03, 0x03, 0x03}), Bytes{}},
        {"padding too large", Wire(0xA0, 0x60, {0x01, 0x02, 0x05}), std::nullopt},
        // X: profile BE DE, length 0 words, payload CC
        {"extension length 0", Wire(0x90, 0x60, {0xBE, 0xDE, 0x00, 0x00, 0xCC}), Bytes{0xCC}},
        // X: length 2 words announced, 5 bytes left
        {"extension too long", Wire(0x90, 0x60, {0x10, 0x00, 0x00, 0x02, 0x01, 0x02, 0x03, 0x04, 0xCC}), std::nullopt},
        // X with only 2 bytes after the header
        {"extension header cut", Wire(0x90, 0x60, {0x10, 0x00}), std::nullopt},
        // CC=2 announces 8 bytes and exactly 8 remain: the CSRC list must leave a byte
        {"CSRC list fills the packet", Wire(0x82, 0x60, Bytes(8, 0x01)), std::nullopt},
    };
    for (const auto& [name, wire, payload] : kCases) EXPECT_EQ(PayloadOf(wire), payload) << name;
}

// Every field at once; a packet object parsed again (the receiver reuses
// them) keeps nothing of the one before.
TEST(RTPPacket, AllFieldsThenAPlainPacket) {
    const Bytes wire = Wire(0xB1, 0xFF, {0x0A, 0x0B, 0x0C, 0x0D,                          // V=2 P X CC=1; M PT=127; CSRC
                                         0x10, 0x00, 0x00, 0x01, 0x01, 0x02, 0x03, 0x04,  // extension 1000, 1 word
                                         0x55, 0x66, 0x77,                                // payload
                                         0x00, 0x02});                                    // padding
    dravnel::CRTPPacket packet;
    ASSERT_TRUE(packet.Parse(wire));
    EXPECT_EQ(Fields(packet), std::make_tuple(1u, 1u, 1u, 1u, 127u, 0x1234u, 1000u, 0x1000u, 1u, Bytes{1, 2, 3, 4}, 3u,
                                              Bytes{0x55, 0x66, 0x77}));
    // SSRC and CSRC stay in network order, as received.
    EXPECT_EQ(std::memcmp(&packet.ssrc, "\x11\x22\x33\x44", 4), 0);
    ASSERT_EQ(packet.csrc.size(), 1u);
    EXPECT_EQ(std::memcmp(packet.csrc.data(), "\x0A\x0B\x0C\x0D", 4), 0);

    ASSERT_TRUE(packet.Parse(Wire(0x80, 0x60, {0x01})));
    EXPECT_EQ(Fields(packet), std::make_tuple(0u, 0u, 0u, 0u, 96u, 0x1234u, 1000u, 0u, 0u, Bytes{}, 1u, Bytes{0x01}));
}

}  // namespace
