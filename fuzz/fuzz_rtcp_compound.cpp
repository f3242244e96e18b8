// The walk over an RTCP compound packet and the sender report fields a
// receiver report echoes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "rtp/RTCPFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace dravnel::rtcp;
    size_t covered = 0;
    ForEachPacket(std::span<const uint8_t>(data, size), [&](uint8_t type, std::span<const uint8_t> packet) {
        if (packet.size() < 4 || packet.data() != data + covered) __builtin_trap();
        covered += packet.size();
        if (type != kTypeSenderReport) return;
        if (const auto sr = ParseSenderReport(packet)) {
            ReceiverReportFields f;
            f.versionBits = sr->versionBits;
            f.sourceSsrc = sr->ssrc;
            f.lsr = sr->lsr;
            if (BuildReceiverReport(f).size() != 32) __builtin_trap();
        }
    });
    if (covered > size) __builtin_trap();
    return 0;
}
