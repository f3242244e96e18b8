// The simulated camera's RTSP server against two clients that share nothing
// with the driver: ffprobe (a third-party oracle for codec, size and frame
// rate) and a hand-built client that sends exactly the requests the driver's
// RTSP client sends (RFC 2069 Digest with the base URL as digest uri).
// Start, stop and start failures, and a new configuration reaching the next
// session, are shown with the whole camera.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/Socket.h"
#include "sim/rtsp/RtspServer.h"
#include "tests/sim/RtspTestClient.h"
#include "tests/sim/SimTestSupport.h"

namespace quarnel::sim {
namespace {

using quarnel::test::ChallengeParameter;
using quarnel::test::DigestAuthorization;
using quarnel::test::FfProbe;
using quarnel::test::RtspReply;
using quarnel::test::RtspTestClient;

constexpr const char* kPath = "/1/stream1";

RtspServer::Options TestOptions() {
    RtspServer::Options options;
    options.executable = quarnel::test::kSimRtspExecutable;
    options.channels = 1;
    return options;
}

// DESCRIBE of kPath on a connection of its own; status 0 without a reply.
RtspReply Describe(const RtspServer& server, const std::string& headers = {}) {
    RtspTestClient client;
    if (!client.Connect(server.Port())) return {};
    return client.Request("DESCRIBE", server.Url(kPath), headers).value_or(RtspReply{});
}

// RTP/RTCP receiving sockets for a client_port pair.
struct UdpPair {
    platform::Socket rtp, rtcp;
    uint16_t port = 0;

    bool Open() {
        for (uint16_t candidate = 41000; candidate < 42000; candidate += 2) {
            if (rtp.Create(platform::Socket::Kind::Udp) && rtp.Bind(candidate, htonl(INADDR_LOOPBACK)) &&
                rtcp.Create(platform::Socket::Kind::Udp) && rtcp.Bind(candidate + 1, htonl(INADDR_LOOPBACK))) {
                port = candidate;
                return true;
            }
            rtp.Close();
            rtcp.Close();
        }
        return false;
    }
    std::string Transport() const {
        return "Transport: RTP/AVP;unicast;client_port=" + std::to_string(port) + "-" + std::to_string(port + 1) +
               "\r\n";
    }
    // The next datagram on one of the ports within the time-out; empty on none.
    static std::vector<uint8_t> Next(platform::Socket& socket, uint32_t timeoutMs) {
        if (socket.WaitReadable(timeoutMs) != platform::IoStatus::Ok) return {};
        std::vector<uint8_t> packet(65536);
        sockaddr_in from{};
        auto got = socket.ReceiveFrom(packet, from);
        packet.resize(got.status == platform::IoStatus::Ok ? got.bytes : 0);
        return packet;
    }
    std::vector<uint8_t> NextRtp(uint32_t timeoutMs) { return Next(rtp, timeoutMs); }
    // True when no RTP arrives for a while, after what was on its way.
    bool Silent() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        while (std::chrono::steady_clock::now() < until) NextRtp(20);
        return NextRtp(800).empty();
    }
};

// H.264 NAL unit types an RTP packet carries whole or begins (RFC 6184 5.2:
// 24 STAP-A lists its units, 28 FU-A names its unit in the FU header).
std::vector<int> NalTypes(const std::vector<uint8_t>& rtp) {
    if (rtp.size() < 13) return {};
    size_t at = 12 + 4 * (rtp[0] & 0x0F);  // fixed header and CSRCs
    if ((rtp[0] & 0x10) && rtp.size() >= at + 4) at += 4 + 4 * ((rtp[at + 2] << 8) | rtp[at + 3]);
    if (at >= rtp.size()) return {};
    int type = rtp[at] & 0x1F;
    if (type == 28) {
        bool start = at + 1 < rtp.size() && (rtp[at + 1] & 0x80);
        return start ? std::vector<int>{rtp[at + 1] & 0x1F} : std::vector<int>{};
    }
    if (type != 24) return {type};
    std::vector<int> types;
    for (size_t unit = at + 1; unit + 2 < rtp.size();) {
        size_t size = (rtp[unit] << 8) | rtp[unit + 1];
        types.push_back(rtp[unit + 2] & 0x1F);
        unit += 2 + size;
    }
    return types;
}

std::string SessionId(const RtspReply& reply) {
    std::string value = reply.Header("Session");
    return value.substr(0, value.find(';'));
}

// DESCRIBE, SETUP (UDP) and PLAY without authentication; the session id.
std::string PlayOverUdp(RtspTestClient& client, const std::string& base, UdpPair& udp) {
    auto describe = client.Request("DESCRIBE", base);
    if (!describe || describe->status != 200) return {};
    auto setup = client.Request("SETUP", base + "/stream=0", udp.Transport());
    if (!setup || setup->status != 200) return {};
    std::string session = SessionId(*setup);
    auto play = client.Request("PLAY", base, "Session: " + session + "\r\n");
    return play && play->status == 200 ? session : std::string();
}

TEST(RtspServerConfig, RefusesBadInputAndKeepsItsConfiguration) {
    RtspServer server(TestOptions());
    const auto before = server.Stream(kPath);
    ASSERT_TRUE(before);
    EXPECT_FALSE(server.SetStream(kPath, RtspStreamConfig{.width = 641}));
    EXPECT_NE(server.LastError().find("641"), std::string::npos) << server.LastError();
    EXPECT_EQ(server.Stream(kPath), before);
    EXPECT_FALSE(server.SetStream("no-slash", {}));
    EXPECT_FALSE(server.Stream("no-slash"));
    EXPECT_FALSE(server.SetAuth(RtspServer::Auth::Digest, "", "pw"));
    EXPECT_FALSE(server.SetDescribeRefused(true, 200));
    EXPECT_FALSE(server.DropConnections());  // not running
}

// ---------------------------------------------------------------------------
// Codec, size and frame rate as ffprobe sees them; between them the cases
// cover both transports and both authentication schemes. Wrong passwords are
// refused in the session and restart tests.

struct CodecCase {
    RtspCodec codec;
    unsigned width, height, fps;
    const char* transport;
    RtspServer::Auth auth;
    const char* codecName;  // ffprobe's
};

class RtspServerCodecs : public ::testing::TestWithParam<CodecCase> {};

TEST_P(RtspServerCodecs, FfprobeSeesTheConfiguredStream) {
    const CodecCase& c = GetParam();
    RtspServer server(TestOptions());
    ASSERT_TRUE(server.SetStream(kPath, {.codec = c.codec, .width = c.width, .height = c.height, .fps = c.fps}))
        << server.LastError();
    ASSERT_TRUE(server.SetAuth(c.auth, "viewer", "s3cret"));
    ASSERT_TRUE(server.Start()) << server.LastError();

    auto seen = FfProbe(server.Url(kPath, "viewer", "s3cret"), c.transport);
    EXPECT_EQ(seen["exit"], "0");
    EXPECT_EQ(seen["codec_name"], c.codecName);
    EXPECT_EQ(seen["width"], std::to_string(c.width));
    EXPECT_EQ(seen["height"], std::to_string(c.height));
    EXPECT_EQ(seen["r_frame_rate"], std::to_string(c.fps) + "/1");

    // The server asked for the scheme it was set to.
    auto describe = server.Log().WaitFor("DESCRIBE", 1000, 0, [](const RtspRequest& r) { return r.status == 200; });
    ASSERT_TRUE(describe);
    EXPECT_EQ(describe->AuthScheme(), c.auth == RtspServer::Auth::Digest ? "Digest" : "Basic");
}

INSTANTIATE_TEST_SUITE_P(
    EachCodec, RtspServerCodecs,
    ::testing::Values(CodecCase{RtspCodec::H264, 640, 360, 25, "tcp", RtspServer::Auth::Digest, "h264"},
                      CodecCase{RtspCodec::MPEG4, 352, 288, 15, "udp", RtspServer::Auth::Digest, "mpeg4"},
                      CodecCase{RtspCodec::JPEG, 320, 240, 10, "udp", RtspServer::Auth::Basic, "mjpeg"}),
    [](const auto& info) { return std::string(CodecName(info.param.codec)) + "_" + info.param.transport; });

// ---------------------------------------------------------------------------
// A whole session as the driver runs it: Digest in the RFC 2069 form with the
// base URL as digest uri for every method (also SETUP, whose request line
// carries the control URL), RTP over UDP, keep-alive with OPTIONS, TEARDOWN.
// The driver's own client runs such sessions, interleaved too, in its
// interop tests; ffprobe reads interleaved RTP above.
TEST(RtspServerSession, Rfc2069DigestSessionReachesPlayAndTearsDown) {
    RtspServer server(TestOptions());
    ASSERT_TRUE(server.SetAuth(RtspServer::Auth::Digest, "admin", "pw", "Test Camera"));
    ASSERT_TRUE(server.SetSessionTimeout(20));
    ASSERT_TRUE(server.SetRtcpInterval(300));
    ASSERT_TRUE(server.SetStream(kPath, {.gop = 5}));
    ASSERT_TRUE(server.Start()) << server.LastError();
    const std::string base = server.Url(kPath);

    RtspTestClient client;
    ASSERT_TRUE(client.Connect(server.Port()));
    auto challenge = client.Request("DESCRIBE", base, "Accept: application/sdp\r\n");
    ASSERT_TRUE(challenge);
    ASSERT_EQ(challenge->status, 401u);
    std::string www = challenge->Header("WWW-Authenticate");
    ASSERT_EQ(www.rfind("Digest ", 0), 0u) << www;
    std::string realm = ChallengeParameter(www, "realm");
    std::string nonce = ChallengeParameter(www, "nonce");
    EXPECT_EQ(realm, "Test Camera");
    ASSERT_FALSE(nonce.empty());
    std::string uri = base;
    auto auth = [&](const std::string& method) {
        return DigestAuthorization("admin", realm, "pw", method, uri, nonce);
    };

    auto wrong = client.Request("DESCRIBE", base, DigestAuthorization("admin", realm, "wrong", "DESCRIBE", uri, nonce));
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 401u);
    auto describe = client.Request("DESCRIBE", base, auth("DESCRIBE") + "Accept: application/sdp\r\n");
    ASSERT_TRUE(describe);
    ASSERT_EQ(describe->status, 200u);
    EXPECT_NE(describe->body.find("a=rtpmap:96 H264/90000"), std::string::npos) << describe->body;
    EXPECT_NE(describe->body.find("sprop-parameter-sets="), std::string::npos) << describe->body;
    // From here on the driver builds every URL, and every digest uri, from
    // the Content-Base of this reply.
    const std::string contentBase = describe->Header("Content-Base");
    ASSERT_EQ(contentBase, base + "/");
    uri = contentBase;

    UdpPair udp;
    ASSERT_TRUE(udp.Open());
    const std::string transport = udp.Transport();
    const std::string setupUrl = base + "/stream=0";
    auto setup = client.Request("SETUP", setupUrl, auth("SETUP") + transport);
    ASSERT_TRUE(setup);
    ASSERT_EQ(setup->status, 200u) << setup->head;
    EXPECT_NE(setup->Header("Session").find(";timeout=20"), std::string::npos) << setup->head;
    const std::string session = SessionId(*setup);
    ASSERT_FALSE(session.empty());

    auto play = client.Request("PLAY", contentBase, auth("PLAY") + "Session: " + session + "\r\nRange: npt=0.000-\r\n");
    ASSERT_TRUE(play);
    ASSERT_EQ(play->status, 200u) << play->head;

    // RTP arrives, and SPS (7) and PPS (8) go in-band ahead of every IDR (5),
    // not only ahead of the first one that the encoder itself prefixes.
    std::vector<int> seen;
    for (int i = 0; i < 1000 && std::count(seen.begin(), seen.end(), 5) < 2; ++i) {
        const auto packet = udp.NextRtp(3000);
        // RFC 3550 5.1: V=2 in the top bits of byte 0, PT in the low 7 bits of byte 1.
        ASSERT_TRUE(packet.size() >= 12 && (packet[0] >> 6) == 2 && (packet[1] & 0x7F) == 96) << "no RTP";
        for (int type : NalTypes(packet)) seen.push_back(type);
    }
    auto first = std::find(seen.begin(), seen.end(), 5);
    ASSERT_NE(first, seen.end()) << "no IDR picture";
    auto second = std::find(first + 1, seen.end(), 5);
    ASSERT_NE(second, seen.end()) << "no second IDR picture";
    EXPECT_NE(std::find(first + 1, second, 7), second) << "no SPS before the second IDR";
    EXPECT_NE(std::find(first + 1, second, 8), second) << "no PPS before the second IDR";

    // RFC 3550 6.4.1: a sender report, packet type 200, on the RTCP port.
    bool senderReport = false;
    for (int i = 0; i < 20 && !senderReport; ++i) {
        const auto rtcp = UdpPair::Next(udp.rtcp, 2000);
        senderReport = rtcp.size() >= 28 && (rtcp[0] >> 6) == 2 && rtcp[1] == 200;
    }
    EXPECT_TRUE(senderReport) << "no RTCP sender report";

    auto keepAlive = client.Request("OPTIONS", contentBase, auth("OPTIONS") + "Session: " + session + "\r\n");
    ASSERT_TRUE(keepAlive);
    EXPECT_EQ(keepAlive->status, 200u);
    auto teardown = client.Request("TEARDOWN", contentBase, auth("TEARDOWN") + "Session: " + session + "\r\n");
    ASSERT_TRUE(teardown);
    EXPECT_EQ(teardown->status, 200u);

    // The log holds each request with its answer.
    auto logged = server.Log().WaitFor("TEARDOWN", 2000);
    ASSERT_TRUE(logged);
    EXPECT_EQ(logged->session, session);
    EXPECT_EQ(logged->AuthScheme(), "Digest");
    EXPECT_EQ(logged->status, 200u);
    auto loggedSetup = server.Log().WaitFor("SETUP", 0);
    ASSERT_TRUE(loggedSetup);
    EXPECT_EQ(loggedSetup->url, setupUrl);
    EXPECT_EQ(loggedSetup->cseq, "4");
    EXPECT_EQ("Transport: " + loggedSetup->transport + "\r\n", transport);
    EXPECT_EQ(loggedSetup->replySession.substr(0, session.size()), session);
}

// ---------------------------------------------------------------------------
// Fault switches.

// Each switch acts on a server that is up: RTP stops while the session
// stays, comes back, every connection and session is dropped, DESCRIBE is
// refused until switched back.
TEST(RtspServerFaults, SwitchesActOnARunningServer) {
    RtspServer server(TestOptions());
    ASSERT_TRUE(server.Start()) << server.LastError();
    const std::string base = server.Url(kPath);
    RtspTestClient playing, idle;
    UdpPair udp;
    ASSERT_TRUE(udp.Open());
    ASSERT_TRUE(playing.Connect(server.Port()));
    const std::string session = PlayOverUdp(playing, base, udp);
    ASSERT_FALSE(session.empty());
    ASSERT_FALSE(udp.NextRtp(3000).empty());

    ASSERT_TRUE(server.SetSendingRtp(false, kPath));
    EXPECT_TRUE(udp.Silent()) << "RTP still arrives";
    auto alive = playing.Request("OPTIONS", base, "Session: " + session + "\r\n");
    ASSERT_TRUE(alive);
    EXPECT_EQ(alive->status, 200u);
    ASSERT_TRUE(server.SetSendingRtp(true));
    EXPECT_FALSE(udp.NextRtp(3000).empty()) << "RTP did not resume";

    ASSERT_TRUE(idle.Connect(server.Port()));
    ASSERT_TRUE(idle.Request("OPTIONS", base));
    EXPECT_TRUE(server.Log().WaitForOpenConnections(2, 1000));
    ASSERT_TRUE(server.DropConnections()) << server.LastError();
    EXPECT_TRUE(playing.WaitClosed(2000));
    EXPECT_TRUE(idle.WaitClosed(2000));
    EXPECT_TRUE(server.Log().WaitForOpenConnections(0, 1000));
    EXPECT_TRUE(udp.Silent()) << "the dropped session still streams";

    ASSERT_TRUE(server.SetDescribeRefused(true, 503));
    EXPECT_EQ(Describe(server).status, 503u);
    ASSERT_TRUE(server.SetDescribeRefused(false));
    EXPECT_EQ(Describe(server).status, 200u);
}

TEST(RtspServerFaults, RestartComesBackOnTheSamePortWithItsConfiguration) {
    RtspServer server(TestOptions());
    ASSERT_TRUE(server.SetAuth(RtspServer::Auth::Basic, "u", "p"));
    ASSERT_TRUE(server.Start()) << server.LastError();
    const uint16_t port = server.Port();
    RtspTestClient before;
    ASSERT_TRUE(before.Connect(port));
    ASSERT_TRUE(before.Request("OPTIONS", server.Url(kPath)));

    ASSERT_TRUE(server.Restart()) << server.LastError();
    EXPECT_TRUE(before.WaitClosed(2000));
    EXPECT_EQ(server.Port(), port);
    EXPECT_EQ(Describe(server).status, 401u);
    EXPECT_EQ(Describe(server, "Authorization: Basic dTp4\r\n").status, 401u);  // u:x
    EXPECT_EQ(Describe(server, "Authorization: Basic dTpw\r\n").status, 200u);  // u:p
}

}  // namespace
}  // namespace quarnel::sim
