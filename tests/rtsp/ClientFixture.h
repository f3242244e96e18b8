// What the RTSP tests share: a user that records what the client hands it,
// a camera's description, interleaved frames, settings for a local camera, a
// fast clock, and a scripted camera with a client for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "rtp/ByteReader.h"
#include "rtp/IRTPClient.h"
#include "rtsp/CBaseRTSPClient.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/ScriptedTcpServer.h"
#include "tests/support/WaitUntil.h"

namespace dravnel::test {

// Records what the client hands its user. Thread-safety: the client's thread
// records under `mutex`; read the records through the waits and Count while
// the client runs.
struct RecordingUser : dravnel::IRTPReceiverUser {
    void OnInterleavedPacket(dravnel::CRTPPacket* packet, const std::vector<uint8_t>* frame) override {
        std::lock_guard<std::mutex> guard(mutex);
        sequences.push_back(packet->sequenceNumber);
        frames.push_back(*frame);
    }
    void OnRTPPacket(const sockaddr_in*, dravnel::CRTPPacket*) override {}
    void OnTimeout() override {}
    void OnClosed() override {}
    void OnSessionDescription(const dravnel::CodecConfig* config) override {
        std::lock_guard<std::mutex> guard(mutex);
        configs.push_back(*config);
    }

    size_t Count() {
        std::lock_guard<std::mutex> guard(mutex);
        return sequences.size();
    }
    bool WaitForPackets(size_t count, int timeoutMs) {
        return WaitUntil([&] { return Count() >= count; }, std::chrono::milliseconds(timeoutMs));
    }

    std::mutex mutex;
    std::vector<uint16_t> sequences;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<dravnel::CodecConfig> configs;
};

inline std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The parts one after the other.
inline std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A camera's H.264 description: session-level lines, then video and audio.
inline const std::string kCameraSdp =
    "v=0\r\n"
    "c=IN IP4 0.0.0.0\r\n"  // session level: no media to hold it
    "a=control:*\r\n"       // dropped for the same reason
    "m=video 0 RTP/AVP 96\r\n"
    "c=IN IP4 239.0.0.1/16\r\n"
    "a=rtpmap:96 H264/90000\r\n"
    "a=fmtp:96 packetization-mode=1;profile-level-id=42001f;sprop-parameter-sets=Z0IAH5WoFAFuQA==,aM48gA==\r\n"
    "a=control:trackID=1\r\n"
    "m=audio 5004 RTP/AVP 0\r\n"
    "a=fmtp:0 anything\r\n"
    "a=control:trackID=2\r\n";

// V=2, PT 96, the given sequence number, time stamp 0x10, SSRC 0x11223344,
// then the payload.
inline std::vector<uint8_t> RtpPacket(uint16_t sequence, const std::string& payload = "abc") {
    std::vector<uint8_t> out;
    dravnel::ByteWriter(out).U8(0x80).U8(96).U16(sequence).U32(0x10).U32(0x11223344).Bytes(Bytes(payload));
    return out;
}

// An interleaved frame (RFC 2326 section 10.12): "$", channel, length, body.
inline std::vector<uint8_t> Interleaved(uint8_t channel, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out;
    dravnel::ByteWriter(out).U8('$').U8(channel).U16(static_cast<uint16_t>(body.size())).Bytes(body);
    return out;
}

// A wall clock (FILETIME units) that runs `scale` times faster than real time.
inline std::function<uint64_t()> FastClock(uint64_t scale) {
    const uint32_t startMs = platform::MonotonicMs();
    return
        [=] { return 133000000000000000ull + (platform::MonotonicMs() - startMs) * scale * platform::kFileTimePerMs; };
}

// A wall clock (FILETIME units) that moves only when the test moves it, and
// counts its readings, so a test knows when a reader has seen a new time.
// Thread-safety: any thread may read, move or wait.
class ManualClock {
public:
    std::function<uint64_t()> Function() {
        return [this] {
            ++reads_;
            return now_.load();
        };
    }
    void AdvanceMs(uint64_t ms) { now_ += ms * platform::kFileTimePerMs; }
    // Until the clock has been read `count` more times than before the call.
    bool WaitReads(uint64_t count, int timeoutMs = 5000) {
        const uint64_t target = reads_.load() + count;
        return WaitUntil([&] { return reads_.load() >= target; }, std::chrono::milliseconds(timeoutMs));
    }

private:
    std::atomic<uint64_t> now_{133000000000000000ull};
    std::atomic<uint64_t> reads_{0};
};

// Credentials go out only when the settings name a scheme or a camera asks.
inline dravnel::RTSPConnectionSettings LocalSettings(uint16_t port) {
    return {.serverPort = port,
            .clientRtpPort = 5000,
            .clientRtcpPort = 5001,
            .host = "127.0.0.1",
            .userName = "admin",
            .password = "secret",
            .connectTimeoutMs = 1000,
            .receiveTimeoutMs = 2000,
            .streamPath = "/h264",
            .reserved = {}};
}

// A scripted camera (see ScriptedTcpServer) and a client for it, started with
// settings for this camera, handing what it gets to a recording user and
// logging to a recording log.
class ScriptedCamera : public ScriptedTcpServer {
public:
    explicit ScriptedCamera(Script script) : ScriptedTcpServer(std::move(script)), settings(LocalSettings(Port())) {}
    // The client goes first, so that its TEARDOWN still finds the camera.
    ~ScriptedCamera() { client.StopClient(); }

    bool Start(dravnel::RTSPTransportMode mode = dravnel::RTSPTransportMode::Udp) {
        return client.StartClient(settings, &user, mode);
    }
    // The client's URL while no reply names a Content-Base.
    std::string Base() const { return "rtsp://127.0.0.1:" + std::to_string(Port()) + "/h264"; }

    // "RTSP/1.0 <status>" with the request's CSeq, the extra header lines
    // (each ending in CR LF) and a body with its Content-Length.
    static std::string Reply(const Request& request, const std::string& status = "200 OK",
                             const std::string& headers = "", const std::string& body = "") {
        std::string text = "RTSP/1.0 " + status + "\r\nCSeq: " + request.Header("CSeq") + "\r\n" + headers;
        if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        return text + "\r\n" + body;
    }

    dravnel::RTSPConnectionSettings settings;
    RecordingUser user;
    RecordingLog log;  // what the client logs
    dravnel::CBaseRTSPClient client{&log};
};

}  // namespace dravnel::test
