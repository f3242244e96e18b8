// A client, a scripted camera and a recording user, wired for one test.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "RecordingUser.h"
#include "ScriptedRtspServer.h"
#include "platform/Clock.h"
#include "rtsp/CBaseRTSPClient.h"

namespace quarnel::test {

using Request = ScriptedRtspServer::Request;

// An H.264 description with one video and one audio media.
inline const std::string kCameraSdp =
    "v=0\r\n"
    "o=- 1 1 IN IP4 127.0.0.1\r\n"
    "s=Session\r\n"
    "m=video 0 RTP/AVP 96\r\n"
    "a=rtpmap:96 H264/90000\r\n"
    "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAH5WoFAFuQA==,aM48gA==\r\n"
    "a=control:trackID=1\r\n"
    "m=audio 0 RTP/AVP 0\r\n"
    "a=control:trackID=2\r\n";

// Answers like a camera that needs no authentication.
inline std::vector<std::string> CameraAnswer(const Request& r, const std::string& session = "1234;timeout=60") {
    if (r.method == "DESCRIBE")
        return {ScriptedRtspServer::Reply(r, "200 OK", "Content-Type: application/sdp\r\n", kCameraSdp)};
    if (r.method == "SETUP") return {ScriptedRtspServer::Reply(r, "200 OK", "Session: " + session + "\r\n")};
    return {ScriptedRtspServer::Reply(r, "200 OK", "Session: " + session.substr(0, session.find(';')) + "\r\n")};
}

// A wall clock (FILETIME units) that runs `scale` times faster than real time.
inline std::function<uint64_t()> FastClock(uint64_t scale) {
    const uint32_t startMs = platform::MonotonicMs();
    return [=] {
        return 133000000000000000ull + (platform::MonotonicMs() - startMs) * scale * platform::kFileTimePerMs;
    };
}

inline bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    const uint32_t start = platform::MonotonicMs();
    while (!done()) {
        if (platform::MonotonicMs() - start > timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline dravnel::RTSPConnectionSettings LocalSettings(uint16_t port) {
    dravnel::RTSPConnectionSettings s;
    s.host = "127.0.0.1";
    s.serverPort = port;
    s.streamPath = "/h264";
    s.clientRtpPort = 5000;
    s.clientRtcpPort = 5001;
    s.receiveTimeoutMs = 2000;
    s.connectTimeoutMs = 1000;
    return s;
}

}  // namespace quarnel::test
