#include "rtp/RTCPFormat.h"

#include <algorithm>

namespace dravnel::rtcp {

namespace {
constexpr size_t kSenderInfoBytes = 28;
}

std::optional<SenderReport> ParseSenderReport(std::span<const uint8_t> packet) {
    if (packet.size() < kSenderInfoBytes || packet[1] != kTypeSenderReport) return std::nullopt;
    SenderReport sr;
    sr.versionBits = packet[0] & 0xC0;
    std::copy_n(packet.begin() + 4, 4, sr.ssrc.begin());
    std::copy_n(packet.begin() + 10, 4, sr.lsr.begin());
    return sr;
}

//   0  |V=2|P| RC=1  |   PT=RR=201   |          length = 7           |
//   4  |                     SSRC of packet sender                     |
//   8  |                 SSRC_1 (SSRC of first source)                 |
//   12 | fraction lost |       cumulative number of packets lost       |
//   16 |           extended highest sequence number received           |
//   20 |                      interarrival jitter                      |
//   24 |                         last SR (LSR)                         |
//   28 |                   delay since last SR (DLSR)                  |
std::vector<uint8_t> BuildReceiverReport(const ReceiverReportFields& f) {
    std::vector<uint8_t> out;
    out.reserve(32);
    ByteWriter(out)
        .U8(static_cast<uint8_t>(f.versionBits | 1))
        .U8(kTypeReceiverReport)
        .U16(7)
        .Bytes(f.ownSsrc)
        .Bytes(f.sourceSsrc)
        .U32(0)
        .U32(f.extendedHighestSequence)
        .U32(0)
        .Bytes(f.lsr)
        .U32(f.dlsr);
    return out;
}

//   0  |V=2|P| SC=1  |   PT=BYE=203  |          length = 1           |
//   4  |                           SSRC/CSRC                           |
std::vector<uint8_t> BuildBye(uint8_t versionBits, const Ssrc& ownSsrc) {
    std::vector<uint8_t> out;
    out.reserve(8);
    ByteWriter(out).U8(static_cast<uint8_t>(versionBits | 1)).U8(kTypeBye).U16(1).Bytes(ownSsrc);
    return out;
}

uint32_t DelaySinceLastReport(uint32_t elapsedMs) {
    return static_cast<uint32_t>((uint64_t{elapsedMs} * 65536 + 500) / 1000);
}

}  // namespace dravnel::rtcp
