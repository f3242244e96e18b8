// The session description (RFC 4566) of a DESCRIBE reply, as far as the
// session needs it: per media kind the port, protocol, connection address,
// control URL and rtpmap, and the video's codec parameter sets from its
// "a=fmtp" line. Everything else is ignored. A parser lives for one parse.
//
// Thread-safety: an object is used by one thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rtsp/CodecConfig.h"
#include "rtsp/MediaDescription.h"
#include "rtsp/RTSPTypes.h"

namespace dravnel {

// Classification of one SDP line, tested on its lower-cased text in this
// order, each prefix at the start of the line.
enum class SdpLineType : uint32_t {
    Other = 0,
    Empty = 1,
    Media = 2,       // "m="
    Control = 3,     // "a=control"
    Fmtp = 4,        // "a=fmtp"
    Connection = 5,  // "c=in"
    RtpMap = 6,      // "a=rtpmap"
};

class CSDPResponseParser {
public:
    // Decoded parameter sets are at most this long; a longer one is dropped.
    static constexpr size_t kMaxParameterSetBytes = 256;

    virtual ~CSDPResponseParser() = default;

    // Clears the records, then reads the body line by line; false at the
    // first line that is malformed for this program. An empty body succeeds.
    bool Parse(std::string_view body);

    static SdpLineType Classify(std::string_view line);
    // Pairs of hexadecimal digits, high nibble first; a character that is not
    // a digit counts as 0 and an odd last digit is a byte of its own. Empty
    // when the result would exceed maxBytes.
    static std::vector<uint8_t> HexDecode(std::string_view text, size_t maxBytes);

    // Indexed by MediaKind - 1: video, audio, data.
    std::array<MediaDescription, 3> media;
    CodecConfig codecConfig;

private:
    bool OnMedia(std::string_view line);
    bool OnConnection(std::string_view line);
    bool OnControl(std::string_view line);
    bool OnFmtp(std::string_view line);
    bool OnRtpMap(std::string_view line);
    bool OnVideoFmtp(std::string_view line);
    MediaDescription* Current();

    MediaKind kind_ = MediaKind::None;
};

}  // namespace dravnel
