// One RTP packet (RFC 3550 section 5.1), parsed from the bytes of a datagram or
// an interleaved frame.
//
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |V=2|P|X|  CC   |M|     PT      |       sequence number         |
//   |                           timestamp                           |
//   |                             SSRC                              |
//   |                  CSRC list (CC words) ...                     |
//   |   extension profile (X)       |   extension length (words)    |
//   |                  extension data ...                           |
//   |                  payload ...          | padding ... | P count |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//
// Thread-safety: a packet is used by one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace dravnel {

class CRTPPacket {
public:
    virtual ~CRTPPacket() = default;

    // Clears every field, then parses. False for a malformed packet: 12 bytes
    // or fewer, version not 2, or CSRC, extension or padding sizes that do not
    // fit.
    bool Parse(const uint8_t* data, unsigned length);
    bool Parse(std::span<const uint8_t> data) { return Parse(data.data(), static_cast<unsigned>(data.size())); }
    void Clear();

    uint8_t csrcCount = 0;
    std::vector<uint32_t> csrc;  // as received (network byte order)
    uint32_t ssrc = 0;           // as received (network byte order)
    uint8_t marker = 0;
    uint8_t padding = 0;
    uint8_t payloadType = 0;
    uint16_t sequenceNumber = 0;
    uint32_t timeStamp = 0;
    uint16_t extensionProfile = 0;
    uint16_t extensionLength = 0;  // 32-bit words
    std::vector<uint8_t> extensionData;
    uint32_t payloadLength = 0;
    std::vector<uint8_t> payload;  // without padding
};

}  // namespace dravnel
