// The simulated camera's RTSP server against clients that share nothing with
// the driver: requests written here by hand, and ffprobe on a replay.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/rtsp/RtpRecording.h"
#include "sim/rtsp/RtspServer.h"
#include "tests/sim/SimTestSupport.h"

namespace dravnel::sim {
namespace {

using dravnel::test::FfProbe;
using dravnel::test::ReadSome;

constexpr const char* kPath = "/1/stream1";

RtspServer::Options TestOptions() { return {.executable = dravnel::test::kSimRtspExecutable, .channels = 1}; }

// The status of a reply; 0 for none.
unsigned Status(const std::string& reply) { return reply.empty() ? 0 : std::stoul(reply.substr(9, 3)); }

// One RTSP connection written by hand. A reply is read up to its blank line:
// no request may follow one whose reply has a body.
class RawRtsp {
public:
    explicit RawRtsp(uint16_t port) : socket_(dravnel::test::ConnectTo(port)) {}

    // The reply, empty when none came within 5 s.
    std::string Request(const std::string& method, const std::string& url, const std::string& headers = {}) {
        std::string reply;
        if (socket_.SendAll(method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(++cseq_) + "\r\n" + headers +
                            "\r\n"))
            while (reply.find("\r\n\r\n") == std::string::npos &&
                   ReadSome(socket_, reply, 5000) == platform::IoStatus::Ok)
                continue;
        return reply.find("\r\n\r\n") == std::string::npos ? std::string() : reply;
    }
    // True when the server ends the connection within 2 s.
    bool WaitClosed() {
        std::string ignored;
        platform::IoStatus status;
        while ((status = ReadSome(socket_, ignored, 2000)) == platform::IoStatus::Ok) continue;
        return status != platform::IoStatus::Timeout;
    }

private:
    platform::Socket socket_;
    unsigned cseq_ = 0;
};

// The next datagram on the socket within the time-out; empty on none.
std::vector<uint8_t> NextDatagram(platform::Socket& socket, uint32_t timeoutMs) {
    std::vector<uint8_t> packet(65536);
    sockaddr_in from{};
    const auto got = socket.WaitReadable(timeoutMs) == platform::IoStatus::Ok ? socket.ReceiveFrom(packet, from)
                                                                              : platform::IoResult{};
    packet.resize(got ? got.bytes : 0);
    return packet;
}

// RTP and RTCP sockets on neighbouring ports, for a client_port pair.
bool OpenPair(platform::Socket& rtp, platform::Socket& rtcp) {
    for (int attempt = 0; attempt < 20; ++attempt)
        if (rtp.Create(platform::Socket::Kind::Udp) && rtp.Bind(0, htonl(INADDR_LOOPBACK)) && rtp.LocalPort() < 65535 &&
            rtcp.Create(platform::Socket::Kind::Udp) &&
            rtcp.Bind(static_cast<uint16_t>(rtp.LocalPort() + 1), htonl(INADDR_LOOPBACK)))
            return true;
    return false;
}

// The client_port pair of a SETUP, and the session a SETUP reply names.
std::string Transport(const platform::Socket& rtp, const platform::Socket& rtcp) {
    return "Transport: RTP/AVP;unicast;client_port=" + std::to_string(rtp.LocalPort()) + "-" +
           std::to_string(rtcp.LocalPort()) + "\r\n";
}
std::string SessionLine(const std::string& setup) {
    const size_t id = setup.find("\r\nSession: ") + 11;  // the id ends at ';' or the line end
    return "Session: " + setup.substr(id, setup.find_first_of(";\r", id) - id) + "\r\n";
}

// True when nothing arrives for 800 ms after what was on its way.
bool Silent(platform::Socket& socket) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (std::chrono::steady_clock::now() < until) NextDatagram(socket, 20);
    return NextDatagram(socket, 800).empty();
}

// The H.264 NAL unit type an RTP packet with a 12-byte header carries whole,
// or begins as an FU-A (RFC 6184 5.8: type 28, the unit's type in the FU
// header under the start bit); 0 for any other packet.
int NalType(const std::vector<uint8_t>& rtp) {
    if (rtp.size() < 14 || (rtp[0] & 0x1F)) return 0;  // CSRCs or an extension: not this server's
    const int type = rtp[12] & 0x1F;
    return type != 28 ? type : (rtp[13] & 0x80) ? rtp[13] & 0x1F : 0;
}

// Bad input is refused with its reason and changes nothing (RFC 2435: JPEG
// sides are multiples of 8, at most 2040); paths are plain segments.
TEST(RtspServer, RefusesBadInputAndKeepsItsConfiguration) {
    RtspServer server(TestOptions());
    const auto before = server.Stream(kPath);
    ASSERT_TRUE(before);
    const std::pair<RtspStreamConfig, const char*> refused[] = {
        {{.width = 641}, "641"},
        {{.width = 8192}, "8192x480"},
        {{.codec = RtspCodec::JPEG, .width = 642, .fps = 10}, "JPEG"},
        {{.codec = RtspCodec::JPEG, .width = 2048, .height = 1536, .fps = 10}, "JPEG"},
        {{.bitrateKbps = 8}, "bit rate"},
        {{.gop = 0}, "GOP"},
    };
    for (const auto& [config, complaint] : refused) {
        EXPECT_FALSE(server.SetStream(kPath, config));
        EXPECT_NE(server.LastError().find(complaint), std::string::npos) << server.LastError();
    }
    EXPECT_EQ(server.Stream(kPath), before);
    for (const char* bad : {"", "/", "no-slash", "/1//stream1", "/1/stream1/", "/../x", "/a b", "/a?b", "/%41"}) {
        EXPECT_FALSE(server.SetStream(bad, {})) << bad;
        EXPECT_FALSE(server.Stream(bad)) << bad;
    }
    EXPECT_TRUE(server.SetStream("/a_b-c.d/e", {.codec = RtspCodec::JPEG, .fps = 10, .bitrateKbps = 16, .gop = 1}))
        << server.LastError();
    EXPECT_FALSE(server.SetAuth(RtspServer::Auth::Digest, "", "pw"));
    EXPECT_FALSE(server.SetDescribeRefused(true, 200));
    EXPECT_FALSE(server.DropConnections());  // not running
}

// One session over UDP: SPS and PPS in-band ahead of every IDR, sender
// reports at the interval set. Then the fault switches: RTP stops and comes
// back; every connection is dropped; DESCRIBE is refused until switched back;
// a restart cuts connections and keeps its port and configuration.
TEST(RtspServer, FaultSwitchesActOnARunningServerAndARestartKeepsItsConfiguration) {
    RtspServer server(TestOptions());
    ASSERT_TRUE(server.SetAuth(RtspServer::Auth::Basic, "u", "p"));
    ASSERT_TRUE(server.SetRtcpInterval(300));
    ASSERT_TRUE(server.SetStream(kPath, {.gop = 5}));
    ASSERT_TRUE(server.Start()) << server.LastError();
    const uint16_t port = server.Port();
    const std::string base = server.Url(kPath);
    const std::string auth = "Authorization: Basic dTpw\r\n";  // u:p
    RawRtsp playing(port), idle(port);
    platform::Socket rtp, rtcp;
    ASSERT_TRUE(OpenPair(rtp, rtcp));
    const std::string setup = playing.Request("SETUP", base + "/stream=0", auth + Transport(rtp, rtcp));
    ASSERT_EQ(Status(setup), 200u) << setup;
    const std::string session = auth + SessionLine(setup);
    ASSERT_EQ(Status(playing.Request("PLAY", base, session + "Range: npt=0.000-\r\n")), 200u);

    // SPS (7) and PPS (8) ahead of every IDR (5), not only the first.
    std::vector<int> seen;
    for (int i = 0; i < 1000 && std::count(seen.begin(), seen.end(), 5) < 2; ++i) {
        const auto packet = NextDatagram(rtp, 3000);
        // RFC 3550 5.1: V=2 in the top bits of byte 0, PT in the low 7 bits of byte 1.
        ASSERT_TRUE(packet.size() >= 12 && (packet[0] >> 6) == 2 && (packet[1] & 0x7F) == 96) << "no RTP";
        seen.push_back(NalType(packet));
    }
    const auto first = std::find(seen.begin(), seen.end(), 5);
    ASSERT_NE(first, seen.end()) << "no IDR picture";
    const auto second = std::find(first + 1, seen.end(), 5);
    ASSERT_NE(second, seen.end()) << "no second IDR picture";
    EXPECT_NE(std::find(first + 1, second, 7), second) << "no SPS before the second IDR";
    EXPECT_NE(std::find(first + 1, second, 8), second) << "no PPS before the second IDR";
    // RFC 3550 6.4.1: a sender report, packet type 200, on the RTCP port.
    bool senderReport = false;
    for (int i = 0; i < 20 && !senderReport; ++i) {
        const auto report = NextDatagram(rtcp, 2000);
        senderReport = report.size() >= 28 && (report[0] >> 6) == 2 && report[1] == 200;
    }
    EXPECT_TRUE(senderReport) << "no RTCP sender report";

    ASSERT_TRUE(server.SetSendingRtp(false, kPath));
    EXPECT_TRUE(Silent(rtp)) << "RTP still arrives";
    EXPECT_EQ(Status(playing.Request("OPTIONS", base, session)), 200u);
    ASSERT_TRUE(server.SetSendingRtp(true));
    EXPECT_FALSE(NextDatagram(rtp, 3000).empty()) << "RTP did not resume";

    ASSERT_NE(Status(idle.Request("OPTIONS", base)), 0u);
    EXPECT_TRUE(server.Log().WaitForOpenConnections(2, 1000));
    ASSERT_TRUE(server.DropConnections()) << server.LastError();
    EXPECT_TRUE(playing.WaitClosed());
    EXPECT_TRUE(idle.WaitClosed());
    EXPECT_TRUE(server.Log().WaitForOpenConnections(0, 1000));
    EXPECT_TRUE(Silent(rtp)) << "the dropped session still streams";

    ASSERT_TRUE(server.SetDescribeRefused(true, 503));
    EXPECT_EQ(Status(RawRtsp(port).Request("DESCRIBE", base, auth)), 503u);
    ASSERT_TRUE(server.SetDescribeRefused(false));
    EXPECT_EQ(Status(RawRtsp(port).Request("DESCRIBE", base, auth)), 200u);

    RawRtsp before(port);
    ASSERT_NE(Status(before.Request("OPTIONS", base)), 0u);
    ASSERT_TRUE(server.Restart()) << server.LastError();
    EXPECT_TRUE(before.WaitClosed());
    EXPECT_EQ(Status(RawRtsp(port).Request("DESCRIBE", base)), 401u);
    EXPECT_EQ(Status(RawRtsp(port).Request("DESCRIBE", base, "Authorization: Basic dTp4\r\n")), 401u);  // u:x
    EXPECT_EQ(Status(RawRtsp(port).Request("DESCRIBE", base, auth)), 200u);
}

uint32_t Be32(const std::vector<uint8_t>& p, size_t at) {
    return uint32_t{p[at]} << 24 | uint32_t{p[at + 1]} << 16 | uint32_t{p[at + 2]} << 8 | p[at + 3];
}

// The value of a `key=` parameter in a header line of a reply; empty when absent.
std::string HeaderParameter(const std::string& reply, const std::string& header, const std::string& key) {
    const size_t line = reply.find("\r\n" + header + ": ");
    if (line == std::string::npos) return {};
    const size_t end = reply.find("\r\n", line + 2);
    const size_t at = reply.find(key + "=", line);
    if (at == std::string::npos || at > end) return {};
    return reply.substr(at + key.size() + 1, reply.find_first_of(";,\r", at) - at - key.size() - 1);
}

// A recording replayed: two sessions get SSRC, sequence numbers and time
// stamps of their own as SETUP and PLAY announced, the recorded payloads, and
// no break across the end of the recording; ffprobe reads the stream. A file
// that is no recording fails the start with its reason.
TEST(RtspServer, ReplaysARecordingRewrittenPerSession) {
    const std::string file = std::string(QUARNEL_SOURCE_DIR) + "/tests/data/h264_fua.rtpstream";
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string error;
    const auto recording = RtpRecording::Parse(bytes, error);
    ASSERT_TRUE(recording) << error;

    RtspServer server(TestOptions());
    ASSERT_TRUE(server.SetReplay(file));
    ASSERT_TRUE(server.SetStream(kPath, {}));  // mounted again, now as a replay
    ASSERT_TRUE(server.Start()) << server.LastError();
    EXPECT_EQ(server.ReplaySummary().rfind("H.264, 50 frames in 2.0 s", 0), 0u) << server.ReplaySummary();
    auto seen = FfProbe(server.Url(kPath));
    EXPECT_EQ(seen["codec_name"], "h264");
    EXPECT_EQ(seen["width"], "320");

    struct Session {
        explicit Session(uint16_t port) : rtsp(port) {}
        RawRtsp rtsp;
        platform::Socket rtp, rtcp;
        uint32_t ssrc = 0;
        uint16_t firstSeq = 0;
        uint32_t firstTimestamp = 0;
    };
    std::vector<std::unique_ptr<Session>> sessions;
    for (int i = 0; i < 2; ++i) {
        auto s = std::make_unique<Session>(server.Port());
        ASSERT_TRUE(OpenPair(s->rtp, s->rtcp));
        s->rtp.SetReceiveBufferAtLeast(4 << 20);
        const std::string setup = s->rtsp.Request("SETUP", server.Url(kPath) + "/stream=0", Transport(s->rtp, s->rtcp));
        ASSERT_EQ(Status(setup), 200u) << setup;
        s->ssrc = std::stoul(HeaderParameter(setup, "Transport", "ssrc"), nullptr, 16);
        const std::string play =
            s->rtsp.Request("PLAY", server.Url(kPath), SessionLine(setup) + "Range: npt=0.000-\r\n");
        ASSERT_EQ(Status(play), 200u) << play;
        s->firstSeq = static_cast<uint16_t>(std::stoul(HeaderParameter(play, "RTP-Info", "seq")));
        s->firstTimestamp = std::stoul(HeaderParameter(play, "RTP-Info", "rtptime"));
        sessions.push_back(std::move(s));
    }
    EXPECT_NE(sessions[0]->ssrc, sessions[1]->ssrc);

    const size_t wanted = recording->packets.size() + recording->frames[0].packetCount + 5;
    for (auto& s : sessions) {
        std::vector<std::vector<uint8_t>> packets;
        while (packets.size() < wanted) {
            auto packet = NextDatagram(s->rtp, 3000);
            ASSERT_GE(packet.size(), 12u) << "RTP stopped after " << packets.size() << " packets";
            packets.push_back(std::move(packet));
        }
        const auto& first = packets.front();
        EXPECT_EQ(static_cast<uint16_t>(first[2] << 8 | first[3]), s->firstSeq) << "RTP-Info seq";
        EXPECT_EQ(Be32(first, 4), s->firstTimestamp) << "RTP-Info rtptime";
        size_t at = 0;
        while (at < recording->packets.size() &&
               !std::equal(first.begin() + 12, first.end(), recording->PacketBytes(at).begin() + 12,
                           recording->PacketBytes(at).end()))
            ++at;
        ASSERT_LT(at, recording->packets.size()) << "a payload the recording does not hold";
        for (size_t i = 1; i < packets.size(); ++i) {
            SCOPED_TRACE(i);
            const auto& p = packets[i];
            const auto recorded = recording->PacketBytes((at + i) % recording->packets.size());
            ASSERT_EQ(Be32(p, 8), s->ssrc);
            ASSERT_EQ(static_cast<uint16_t>(p[2] << 8 | p[3]), static_cast<uint16_t>(s->firstSeq + i));
            ASSERT_TRUE(std::equal(p.begin() + 12, p.end(), recorded.begin() + 12, recorded.end()));
            ASSERT_EQ(p[1], recorded[1]) << "marker and payload type";
            const uint32_t step = Be32(p, 4) - Be32(packets[i - 1], 4);
            ASSERT_TRUE(step == 0 || step == 3600) << step;
        }
    }

    server.Stop();
    ASSERT_TRUE(server.SetReplay(std::string(QUARNEL_SOURCE_DIR) + "/tests/data/h264_fua.md5"));
    EXPECT_FALSE(server.Start());
    EXPECT_NE(server.LastError().find("h264_fua.md5: packet 1 at byte 0:"), std::string::npos) << server.LastError();
}

// Commands given while connections keep asking and are dropped each get
// their answer, and GLib has nothing to complain about (with
// G_DEBUG=fatal-criticals a critical warning ends the media process).
TEST(RtspServer, CommandsAreAnsweredWhileConnectionsAskAndAreDropped) {
    const char* had = getenv("G_DEBUG");
    const std::string previous = had ? had : "";
    setenv("G_DEBUG", "fatal-criticals", 1);  // the media process inherits it
    RtspServer server(TestOptions());
    const bool started = server.Start();
    if (had) {
        setenv("G_DEBUG", previous.c_str(), 1);
    } else {
        unsetenv("G_DEBUG");
    }
    ASSERT_TRUE(started) << server.LastError();
    const uint16_t port = server.Port();
    const std::string base = server.Url(kPath);
    std::atomic<bool> done{false};
    std::atomic<unsigned> replies{0};
    std::thread asker([&] {
        while (!done) {
            RawRtsp connection(port);
            while (!done && Status(connection.Request("OPTIONS", base)) == 200) ++replies;
        }
    });
    std::string failure;
    for (unsigned i = 0; (i < 300 || replies < 200) && i < 100000 && failure.empty(); ++i) {
        if (!server.SetAlarmBits(static_cast<uint8_t>(i)) || (i % 10 == 9 && !server.DropConnections()))
            failure = "command " + std::to_string(i) + ": " + server.LastError();
    }
    done = true;
    asker.join();
    EXPECT_EQ(failure, "");
    EXPECT_GE(replies.load(), 200u);
    EXPECT_TRUE(server.Running());
    for (const std::string& message : server.Messages()) ADD_FAILURE() << message;
}

}  // namespace
}  // namespace dravnel::sim
