// What the RTSP tests share: a user that records what the client hands it,
// a camera's description, interleaved frames, settings for a local camera, a
// fast clock, and a scripted camera with a client for it.
#pragma once

#include "platform/InetAddress.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "rtp/ByteReader.h"
#include "rtp/IRTPClient.h"
#include "rtsp/CBaseRTSPClient.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/WaitUntil.h"
#include "web/HUtils.h"

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

// A scripted camera and a client for it. The camera listens on 127.0.0.1,
// serves one connection at a time, records every request byte for byte and
// answers each one as its script says: any bytes, in any number of writes,
// or a hang-up. Tests may also push bytes of their own (interleaved frames)
// at any time; pushes and answers never interleave inside each other. The
// client starts with settings for this camera and hands what it gets to a
// recording user and logs to a recording log.
//
// Thread-safety: every public operation may be called from any thread; the
// script runs on the camera's thread.
class ScriptedCamera {
public:
    // The client's requests carry no body.
    struct Request {
        std::string text;       // as received, up to its empty line
        std::string method;     // first word
        std::string url;        // second word
        size_t connection = 0;  // 1 for the first connection
        // The value after "name: ", empty when absent.
        std::string Header(const std::string& name) const {
            return dravnel::HUtils::GetValue(text, name, ": ", "\r\n");
        }
    };
    // What to write in answer: each element is one write, with a short pause
    // between writes; an empty element hangs up, an empty list answers nothing.
    using Writes = std::vector<std::string>;
    using Script = std::function<Writes(const Request&)>;

    explicit ScriptedCamera(Script script) : script_(std::move(script)) {
        if (listener_.Create(platform::Socket::Kind::Tcp) && listener_.Bind(0, htonl(INADDR_LOOPBACK)) &&
            listener_.Listen(4))
            thread_.Start([this] { Run(); });
        settings = LocalSettings(listener_.LocalPort());
    }
    // The client goes first, so that its TEARDOWN still finds the camera.
    ~ScriptedCamera() {
        client.StopClient();
        stop_.Set();
        thread_.Join();
    }

    bool Start(dravnel::RTSPTransportMode mode = dravnel::RTSPTransportMode::Udp) {
        return client.StartClient(settings, &user, mode);
    }
    // The client's URL while no reply names a Content-Base.
    std::string Base() const { return "rtsp://127.0.0.1:" + std::to_string(listener_.LocalPort()) + "/h264"; }

    std::vector<Request> Requests() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return requests_;
    }
    std::vector<std::string> Methods() const {
        std::vector<std::string> methods;
        for (const auto& r : Requests()) methods.push_back(r.method);
        return methods;
    }
    // Waits until `count` requests of `method` arrived.
    bool WaitFor(const std::string& method, size_t count, uint32_t timeoutMs) const {
        const auto arrived = [&] {
            const auto methods = Methods();
            return size_t(std::count(methods.begin(), methods.end(), method)) >= count;
        };
        return WaitUntil(arrived, std::chrono::milliseconds(timeoutMs));
    }
    // Writes on the current connection; false without one or when it fails.
    bool Push(const std::string& bytes) {
        std::lock_guard<std::mutex> guard(mutex_);
        return connection_ && connection_->SendAll(bytes);
    }

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

private:
    void Run() {
        for (size_t number = 1; listener_.WaitReadable(platform::kInfinite, &stop_) == platform::IoStatus::Ok;) {
            platform::Socket connection = listener_.Accept();
            if (!connection.IsOpen()) continue;
            connection.SetSendTimeout(2000);
            Serve(connection, number++);
            std::lock_guard<std::mutex> guard(mutex_);
            connection_ = nullptr;
        }
    }
    // Cuts requests out of what arrives and answers each as the script says.
    void Serve(platform::Socket& connection, size_t number) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            connection_ = &connection;
        }
        std::string buffer;
        uint8_t chunk[4096];
        while (connection.WaitReadable(platform::kInfinite, &stop_) == platform::IoStatus::Ok) {
            const platform::IoResult got = connection.Receive(chunk);
            if (!got) return;
            buffer.append(reinterpret_cast<const char*>(chunk), got.bytes);
            for (size_t end; (end = buffer.find("\r\n\r\n")) != std::string::npos;) {
                Request request{buffer.substr(0, end + 4), "", "", number};
                buffer.erase(0, end + 4);
                std::istringstream(request.text) >> request.method >> request.url;
                {
                    std::lock_guard<std::mutex> guard(mutex_);
                    requests_.push_back(request);
                }
                const Writes writes = script_(request);
                for (size_t i = 0; i < writes.size(); ++i) {
                    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    if (writes[i].empty()) connection.Shutdown();
                    if (writes[i].empty() || !Push(writes[i])) return;
                }
            }
        }
    }

    Script script_;
    platform::Socket listener_;
    platform::Event stop_{platform::Event::Mode::Manual};
    platform::Thread thread_;

    mutable std::mutex mutex_;  // guards what follows
    std::vector<Request> requests_;
    platform::Socket* connection_ = nullptr;
};

}  // namespace dravnel::test
