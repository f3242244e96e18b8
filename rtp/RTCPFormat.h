// RTCP packets (RFC 3550 section 6) as the receiving side of a session needs
// them: the walk over a compound packet, the fields of a sender report that a
// receiver report echoes, and the receiver report and BYE we send.
//
// Thread-safety: pure functions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "rtp/ByteReader.h"

namespace dravnel::rtcp {

constexpr uint8_t kTypeSenderReport = 200;
constexpr uint8_t kTypeReceiverReport = 201;
constexpr uint8_t kTypeBye = 203;

using Ssrc = std::array<uint8_t, 4>;  // as on the wire

// Calls visit(type, packet) for each packet of a compound packet, where
// `packet` spans 4 + 4 x its length field. A packet that does not fit ends
// the walk. Returns the number of packets visited.
//
//   |V=2|P|  RC   |      PT       |            length             |
template <class Visit>
size_t ForEachPacket(std::span<const uint8_t> compound, Visit&& visit) {
    ByteReader r(compound);
    size_t visited = 0;
    while (r.remaining() >= 4) {
        const auto header = compound.subspan(r.position(), 4);
        const size_t span = 4 + 4 * size_t{static_cast<uint16_t>(header[2] << 8 | header[3])};
        const auto packet = r.Bytes(span);
        if (!r.ok()) break;
        ++visited;
        visit(header[1], packet);
    }
    return visited;
}

struct SenderReport {
    uint8_t versionBits = 0;  // the two top bits of the first byte
    Ssrc ssrc{};
    std::array<uint8_t, 4> lsr{};  // middle 32 bits of the NTP time stamp
};

// A sender report of at least the 28 bytes of its sender info:
//
//   0  |V=2|P|  RC   |   PT=SR=200   |            length             |
//   4  |                         SSRC of sender                        |
//   8  |              NTP timestamp, most significant word             |
//   12 |             NTP timestamp, least significant word             |
//   16 |                         RTP timestamp                         |
//   20 |                     sender's packet count                     |
//   24 |                      sender's octet count                     |
std::optional<SenderReport> ParseSenderReport(std::span<const uint8_t> packet);

struct ReceiverReportFields {
    uint8_t versionBits = 0x80;
    Ssrc ownSsrc{};
    Ssrc sourceSsrc{};
    uint32_t extendedHighestSequence = 0;
    std::array<uint8_t, 4> lsr{};
    uint32_t dlsr = 0;  // 1/65536 s
};

// 32 bytes: one report block; fraction lost, cumulative lost and jitter are 0.
std::vector<uint8_t> BuildReceiverReport(const ReceiverReportFields& fields);
// 8 bytes: our SSRC says goodbye.
std::vector<uint8_t> BuildBye(uint8_t versionBits, const Ssrc& ownSsrc);

// Milliseconds since the last sender report in units of 1/65536 s, rounded.
uint32_t DelaySinceLastReport(uint32_t elapsedMs);

}  // namespace dravnel::rtcp
