// The peers of the RTP code in tests: a UDP socket on 127.0.0.1 that plays
// the camera or the network, a recording user of a packet source or of the
// RTP receiver, a depacketizer among recording host objects, and the
// byte helpers and recordings the RTP tests feed them.
#pragma once

#include <arpa/inet.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Socket.h"
#include "rtp/ByteReader.h"
#include "rtp/CH264RTPMediaParser.h"
#include "rtp/IRTPClient.h"
#include "tests/support/FakeDriver.h"
#include "tests/support/WaitUntil.h"
#include "tools/host/ChannelSink.h"
#include "tools/host/FrameAllocator.h"

namespace dravnel::test {

using Bytes = std::vector<uint8_t>;

inline uint32_t Loopback() { return htonl(INADDR_LOOPBACK); }

// Sender report: V=2 RC=0 PT=200 length 6, SSRC 0C 0D 0E 0F, NTP time stamp
// 83 AA 7E 80 . 12 34 56 78, RTP time stamp 90000, 10 packets, 4096 octets.
inline const Bytes kSenderReport{0x80, 0xC8, 0x00, 0x06, 0x0C, 0x0D, 0x0E, 0x0F, 0x83, 0xAA, 0x7E, 0x80, 0x12, 0x34,
                                 0x56, 0x78, 0x00, 0x01, 0x5F, 0x90, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x10, 0x00};

// Our answer to it with the SSRC A1 B2 C3 D4, the sequence numbers 65534,
// 65535, 0, 1 and the report built 7 ms after the sender report came.
inline const Bytes kReceiverReport{0x81, 0xC9, 0x00, 0x07,   // V=2 RC=1, PT=201 (RR), length 7
                                   0xA1, 0xB2, 0xC3, 0xD4,   // our SSRC
                                   0x0C, 0x0D, 0x0E, 0x0F,   // the camera's SSRC
                                   0x00, 0x00, 0x00, 0x00,   // fraction lost, cumulative lost
                                   0x00, 0x01, 0x00, 0x01,   // extended highest sequence number: 65537
                                   0x00, 0x00, 0x00, 0x00,   // jitter
                                   0x7E, 0x80, 0x12, 0x34,   // LSR: middle of the SR's NTP time stamp
                                   0x00, 0x00, 0x01, 0xCB};  // DLSR: 7 ms = 458.752/65536 s, rounded
// Our BYE: V=2 SC=1, PT=203, length 1, our SSRC.
inline const Bytes kBye{0x81, 0xCB, 0x00, 0x01, 0xA1, 0xB2, 0xC3, 0xD4};

// Thread-safety: one thread at a time.
class LoopbackPeer {
public:
    LoopbackPeer() {
        socket_.Create(platform::Socket::Kind::Udp);
        socket_.Bind(0, Loopback());
    }

    uint16_t Port() const { return socket_.LocalPort(); }

    bool SendTo(uint16_t port, const Bytes& bytes) {
        const sockaddr_in to{.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {Loopback()}, .sin_zero = {}};
        return socket_.SendTo(to, bytes);
    }

    // The next datagram, or nothing within the time-out.
    std::optional<Bytes> Receive(uint32_t timeoutMs) {
        if (socket_.WaitReadable(timeoutMs) != platform::IoStatus::Ok) return std::nullopt;
        Bytes buffer(65536);
        sockaddr_in from{};
        const auto r = socket_.ReceiveFrom(buffer, from);
        if (r.status != platform::IoStatus::Ok) return std::nullopt;
        buffer.resize(r.bytes);
        return buffer;
    }

private:
    platform::Socket socket_;
};

// The user of a UDP client (datagrams as they come) or the channel behind a
// receiver (packets by sequence number), recording what it gets with its
// sender. Hooks run inside the user calls: after a datagram's record (to
// close the source), before a packet's (to take time, to block, or to go on
// to a depacketizer).
//
// Thread-safety: the user calls may come from any thread; read the records
// under `mutex` while they may come; set the hooks before they may.
class Recorder : public dravnel::IRTPClientUser, public dravnel::IRTPReceiverUser {
public:
    void OnPacket(dravnel::IRTPClient* source, const sockaddr_in* from, const uint8_t* data, unsigned length) override {
        Record(*from, [&] { datagrams.emplace_back(data, data + length); });
        if (onPacket) onPacket(source);
    }
    void OnTimeout(dravnel::IRTPClient*) override { ++timeouts; }
    void OnClosed(dravnel::IRTPClient*) override { ++closed; }

    void OnInterleavedPacket(dravnel::CRTPPacket*, const Bytes*) override {}
    void OnRTPPacket(const sockaddr_in* from, dravnel::CRTPPacket* packet) override {
        inCall = true;
        if (onRtpPacket) onRtpPacket(packet);
        Record(*from, [&] { sequences.push_back(packet->sequenceNumber); });
        inCall = false;
    }
    void OnTimeout() override { ++timeouts; }
    void OnClosed() override { ++closed; }
    void OnSessionDescription(const dravnel::CodecConfig*) override {}

    size_t Count() {
        std::lock_guard<std::mutex> guard(mutex);
        return senders.size();
    }
    // Until `n` datagrams or packets have come.
    bool WaitCount(size_t n) {
        return WaitUntil([&] { return Count() >= n; });
    }

    std::mutex mutex;
    std::vector<sockaddr_in> senders;
    std::vector<Bytes> datagrams;
    std::vector<uint16_t> sequences;
    std::atomic<int> timeouts{0};
    std::atomic<int> closed{0};
    std::atomic<bool> inCall{false};
    std::function<void(dravnel::IRTPClient*)> onPacket;
    std::function<void(dravnel::CRTPPacket*)> onRtpPacket;

private:
    template <class Keep>
    void Record(const sockaddr_in& from, Keep keep) {
        std::lock_guard<std::mutex> guard(mutex);
        keep();
        senders.push_back(from);
    }
};

// A depacketizer (H.264 unless told otherwise). Frames come from the
// recording allocator and, as the channel would pass them on, go to the
// recording host sink (which refuses them when told to). The frame clock
// reads kTestNow. Send feeds packets in sequence, moving the time stamp on a
// frame interval after each marker; Feed replays recorded packets.
//
// Thread-safety: the parser is fed by one thread at a time; the host objects
// may be read from any thread.
inline constexpr uint64_t kTestNow = 133537680000000000ull;  // 2024-03-01 12:00:00 UTC, FILETIME

template <class Parser = dravnel::CH264RTPMediaParser>
struct Depacketizer : public dravnel::IMediaParserClient {
    Depacketizer() {
        driver.hostContext = &allocator;
        parser.SetClient(this);
        parser.FrameClock().SetClock([] { return kTestNow; });
    }
    bool OnFrame(dravnel::ipcapture::IHostFrame* frame) override { return sink.DeliverFrame(frame); }
    std::pair<uint32_t, uint32_t> GetFrameSize() override { return {0, 0}; }

    void Send(Bytes payload, bool marker = false) {
        dravnel::CRTPPacket p;
        p.sequenceNumber = sequence++;
        p.timeStamp = timeStamp;
        p.marker = marker ? 1 : 0;
        p.payload = std::move(payload);
        parser.ProcessPacket(&p);
        if (marker) timeStamp += 3600;
    }
    // The last payload carries the marker bit.
    void SendFrame(std::initializer_list<Bytes> payloads) {
        size_t i = 0;
        for (const Bytes& p : payloads) Send(p, ++i == payloads.size());
    }
    // False at the first packet that does not parse.
    bool Feed(const std::vector<Bytes>& packets) {
        for (const Bytes& bytes : packets) {
            dravnel::CRTPPacket packet;
            if (!packet.Parse(bytes)) return false;
            parser.ProcessPacket(&packet);
        }
        return true;
    }
    std::vector<Bytes> FrameData() const {
        std::vector<Bytes> data;
        for (const auto& f : sink.Frames()) data.push_back(f.data);
        return data;
    }

    dravnel::host::FrameAllocator allocator;
    dravnel::host::ChannelSink sink;
    FakeDriver driver;
    Parser parser{&driver, "Quarnel"};
    uint16_t sequence = 100;
    uint32_t timeStamp = 90000;
};

inline Bytes FromHex(const std::string& hex) {
    Bytes b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return b;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The packets of a recording in tests/data in RFC 4571 framing as
// rtpstreampay writes it: 16-bit length, packet.
inline std::vector<Bytes> ReadRecording(const std::string& name) {
    std::ifstream in(std::string(QUARNEL_SOURCE_DIR) + "/tests/data/" + name, std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    dravnel::ByteReader r({reinterpret_cast<const uint8_t*>(all.data()), all.size()});
    std::vector<Bytes> packets;
    while (r.remaining() >= 2) {
        const auto packet = r.Bytes(r.U16());
        if (r.ok()) packets.emplace_back(packet.begin(), packet.end());
    }
    return packets;
}

}  // namespace dravnel::test
