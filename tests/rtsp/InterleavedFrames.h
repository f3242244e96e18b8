// Interleaved frames (RFC 2326 section 10.12) around small RTP packets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rtp/ByteReader.h"

namespace quarnel::test {

// V=2, PT 96, the given sequence number, time stamp 0x10, SSRC 0x11223344,
// then the payload.
inline std::vector<uint8_t> RtpPacket(uint16_t sequence, const std::string& payload = "abc") {
    std::vector<uint8_t> out;
    dravnel::ByteWriter w(out);
    w.U8(0x80).U8(96).U16(sequence).U32(0x10).U32(0x11223344);
    w.Bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(payload.data()), payload.size()));
    return out;
}

// "$", channel, length, body.
inline std::vector<uint8_t> Interleaved(uint8_t channel, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out;
    dravnel::ByteWriter(out).U8('$').U8(channel).U16(static_cast<uint16_t>(body.size())).Bytes(body);
    return out;
}

inline std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

inline void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

}  // namespace quarnel::test
