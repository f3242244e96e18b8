// One RTSP 1.0 reply (RFC 2326 section 7): status line, header lines and, for
// DESCRIBE, the SDP body. Every reply of a session is parsed into the same
// object, so a field keeps its value until a later reply sets it again; the
// session's next request is built from these fields.
//
// Thread-safety: an object is used by one thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "rtsp/CodecConfig.h"
#include "rtsp/MediaDescription.h"
#include "rtsp/RTSPTypes.h"

namespace dravnel {

// Classification of a header line by its name (the text before the first
// ":", trimmed, in any case).
enum class RTSPHeaderType : uint32_t {
    Unknown = 0,
    CSeq = 1,
    Date = 2,
    ContentBase = 3,
    ContentType = 4,
    ContentLength = 5,
    Transport = 6,
    Session = 7,
    Range = 8,
    RtpInfo = 9,
    Empty = 10,  // ends the header block
    Server = 11,
    AcceptRanges = 12,
    RtcpInterval = 13,
    WwwAuthenticate = 14,
};

class CRTSPResponseParser {
public:
    virtual ~CRTSPResponseParser() = default;

    // True when the reply is well formed for this program and its status is
    // 200 or 401; the caller judges the status. `reply` is the header block
    // and the announced body. Fields set by earlier lines of a failing reply
    // keep their new values.
    bool Parse(std::string_view reply, RTSPMethod method);
    // Empties every field, as at the start of a session.
    void Clear();

    static RTSPHeaderType ClassifyHeader(std::string_view line);

    // Indexed by MediaKind - 1; replaced as a whole by each good SDP body.
    std::array<MediaDescription, 3> media;
    CodecConfig codecConfig;
    std::string protocolVersion;  // not checked
    uint32_t statusCode = 0;
    uint32_t cseq = 0;  // the session also counts it up per request
    std::string contentBase;
    std::string contentType;  // lower-cased
    uint32_t contentLength = 0;
    std::string sessionId;
    uint32_t sessionTimeoutSec = 0;  // 0 until a reply names one
    AuthScheme authScheme = AuthScheme::None;
    std::string realm;  // quotes removed
    std::string nonce;
    // Further parameters of the last Digest challenge; empty when it gave
    // none. qop is "auth" when the challenge offers it, else empty.
    std::string algorithm;
    std::string qop;
    std::string opaque;

private:
    bool OnCSeq(std::string_view line);
    bool OnContentBase(std::string_view line);
    bool OnContentType(std::string_view line);
    bool OnContentLength(std::string_view line);
    bool OnSession(std::string_view line);
    bool OnWwwAuthenticate(std::string_view line);
};

}  // namespace dravnel
