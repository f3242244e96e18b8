// Codes shared by the RTSP session, its reply parsers and the channel.
//
// Thread-safety: constants and a pure function.
#pragma once

#include <cstdint>

namespace dravnel {

// The requests of one session (RFC 2326 section 10).
enum class RTSPMethod : uint32_t {
    Describe = 1,
    Setup = 2,
    Play = 3,
    Teardown = 4,
    Options = 5,
    Pause = 6,
};

// "DESCRIBE" ... "PAUSE"; empty for any other code.
const char* MethodName(RTSPMethod method);

// How requests authenticate: none, RFC 7617 Basic, RFC 2617 Digest (without qop).
enum class AuthScheme : uint32_t {
    None = 0,
    Basic = 1,
    Digest = 2,
};

// The media of an SDP "m=" line. None: no m= line seen yet.
enum class MediaKind : uint32_t {
    None = 0,
    Video = 1,
    Audio = 2,
    Data = 3,
};

// Where RTP travels: UDP datagrams, separate TCP connections (both announced
// with client_port), or interleaved on the RTSP connection (RFC 2326 10.12).
enum class RTSPTransportMode : uint32_t {
    Udp = 0,
    Tcp = 1,
    Interleaved = 2,
};

}  // namespace dravnel
