// CRTPPacket::Parse over arbitrary datagrams.
#include <cstddef>
#include <cstdint>

#include "rtp/CRTPPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static dravnel::CRTPPacket packet;  // reused, as the receiver reuses its packets
    if (!packet.Parse(data, static_cast<unsigned>(size))) return 0;
    if (size <= 12) __builtin_trap();
    if (packet.payloadLength != packet.payload.size()) __builtin_trap();
    if (packet.csrc.size() != packet.csrcCount) __builtin_trap();
    if (packet.extensionData.size() != 4u * packet.extensionLength) __builtin_trap();
    if (12 + 4 * packet.csrc.size() + packet.extensionData.size() + packet.payload.size() > size) __builtin_trap();
    return 0;
}
