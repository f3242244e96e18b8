#include "rtp/CRTPPacket.h"

#include <cstring>

#include "rtp/ByteReader.h"

namespace dravnel {

void CRTPPacket::Clear() {
    // The buffers keep their capacity, so a recycled packet parses without
    // allocating.
    csrcCount = 0;
    csrc.clear();
    ssrc = 0;
    marker = 0;
    padding = 0;
    payloadType = 0;
    sequenceNumber = 0;
    timeStamp = 0;
    extensionProfile = 0;
    extensionLength = 0;
    extensionData.clear();
    payloadLength = 0;
    payload.clear();
}

bool CRTPPacket::Parse(const uint8_t* data, unsigned length) {
    Clear();
    if (!data || length <= 12 || (data[0] >> 6) != 2) return false;

    ByteReader r(std::span<const uint8_t>(data, length));
    const uint8_t b0 = r.U8();
    const uint8_t b1 = r.U8();
    const uint16_t sequence = r.U16();
    const uint32_t timeStamp32 = r.U32();
    const auto ssrcBytes = r.Bytes(4);

    const uint8_t cc = b0 & 0x0F;
    if (cc > 0) {
        if (4u * cc >= r.remaining()) return false;
        csrcCount = cc;
        csrc.resize(cc);
        std::memcpy(csrc.data(), r.Bytes(4u * cc).data(), 4u * cc);
    }
    if (b0 & 0x10) {
        if (r.remaining() < 4) return false;
        extensionProfile = r.U16();
        extensionLength = r.U16();
        if (extensionLength > 0) {
            const size_t bytes = 4u * extensionLength;
            if (bytes > r.remaining()) return false;
            auto ext = r.Bytes(bytes);
            extensionData.assign(ext.begin(), ext.end());
        }
    }

    std::memcpy(&ssrc, ssrcBytes.data(), 4);
    marker = b1 >> 7;
    padding = (b0 >> 5) & 1;
    payloadType = b1 & 0x7F;
    sequenceNumber = sequence;
    timeStamp = timeStamp32;

    const size_t position = r.position();
    const size_t paddingSize = padding ? data[length - 1] : 0;
    if (position + paddingSize > length) return false;
    const size_t payloadSize = length - paddingSize - position;
    payload.assign(data + position, data + position + payloadSize);
    payloadLength = static_cast<uint32_t>(payloadSize);
    return true;
}

}  // namespace dravnel
