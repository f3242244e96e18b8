// What the channel tells the RTSP client about one session.
//
// Thread-safety: a plain value; the client keeps its own copy.
#pragma once

#include <cstdint>
#include <string>

#include "rtsp/RTSPTypes.h"

namespace dravnel {

struct RTSPConnectionSettings {
    uint16_t serverPort = 554;
    uint16_t clientRtpPort = 0;  // only for the "client_port" transport parameter
    uint16_t clientRtcpPort = 0;
    std::string host;  // name or dotted address
    std::string userName;
    std::string password;
    uint32_t connectTimeoutMs = 5000;
    uint32_t receiveTimeoutMs = 5000;
    uint32_t receiveBufferBytes = 65536;
    uint32_t sendTimeoutMs = 1000;
    uint32_t defaultSessionTimeoutSec = 60;    // when no reply names one
    AuthScheme authScheme = AuthScheme::None;  // replaced by the server's after a 401
    std::string streamPath;                    // appended to "rtsp://host:port/"
    MediaKind media = MediaKind::Video;        // the one media that is set up
    std::string reserved;                      // carried for the channel, unused here
    uint32_t blockSize = 0;                    // "Blocksize" is sent only above 100
};

}  // namespace dravnel
