// What the client's tests share: a user that records what the client hands
// it, a camera's description, interleaved frames, settings for a local
// camera and a fast clock.
#pragma once

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
#include "tests/support/WaitUntil.h"

namespace quarnel::test {

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
    "a=control:*\r\n"        // dropped for the same reason
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
    return [=] {
        return 133000000000000000ull + (platform::MonotonicMs() - startMs) * scale * platform::kFileTimePerMs;
    };
}

// Credentials go out only when the settings name a scheme or a camera asks.
inline dravnel::RTSPConnectionSettings LocalSettings(uint16_t port) {
    return {.serverPort = port, .clientRtpPort = 5000, .clientRtcpPort = 5001, .host = "127.0.0.1",
            .userName = "admin", .password = "secret", .connectTimeoutMs = 1000, .receiveTimeoutMs = 2000,
            .streamPath = "/h264", .reserved = {}};
}

}  // namespace quarnel::test
