// One media of a session description (RFC 4566): what SETUP needs from it.
//
// Thread-safety: a plain value.
#pragma once

#include <cstdint>
#include <string>

namespace dravnel {

struct MediaDescription {
    uint16_t port = 0;              // second word of "m="
    std::string protocol;           // third word of "m=", e.g. RTP/AVP
    std::string connectionAddress;  // "c=IN IP4" address without its "/ttl"
    std::string control;            // "a=control:" value
    std::string rtpmap;             // encoding/clock rate, e.g. H264/90000

    void Clear() { *this = MediaDescription(); }
};

}  // namespace dravnel
