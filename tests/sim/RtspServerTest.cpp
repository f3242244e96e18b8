// The simulated camera's RTSP server against two clients that share nothing
// with the driver: ffprobe (a third-party oracle for codec, size and frame
// rate) and a hand-built client that sends exactly the requests the driver's
// RTSP client sends (RFC 2069 Digest with the base URL as digest uri).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "platform/Socket.h"
#include "sim/rtsp/RtspServer.h"
#include "tests/sim/RtspTestClient.h"
#include "tests/support/RunProgram.h"

namespace quarnel::sim {
namespace {

using quarnel::test::ChallengeParameter;
using quarnel::test::DigestAuthorization;
using quarnel::test::RtspReply;
using quarnel::test::RtspTestClient;

constexpr const char* kPath = "/1/stream1";

RtspServer::Options TestOptions() {
    RtspServer::Options options;
    options.executable = QUARNEL_BIN_DIR "/quarnel-sim-rtsp";
    options.channels = 1;
    return options;
}

size_t CountEntries(const char* directory) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++n;
    return n;
}

// ffprobe's view of the first stream, as key=value lines.
std::map<std::string, std::string> FfProbe(const std::string& url, const std::string& transport) {
    auto run = quarnel::test::RunProgram(
        "/usr/bin/ffprobe",
        {"-v", "error", "-rtsp_transport", transport, "-timeout", "5000000", "-show_entries",
         "stream=codec_name,width,height,r_frame_rate", "-of", "default=noprint_wrappers=1", url},
        20000);
    std::map<std::string, std::string> fields;
    fields["exit"] = std::to_string(run.exitCode);
    size_t start = 0;
    while (start < run.output.size()) {
        size_t end = run.output.find('\n', start);
        if (end == std::string::npos) end = run.output.size();
        std::string line = run.output.substr(start, end - start);
        if (size_t eq = line.find('='); eq != std::string::npos && !fields.count(line.substr(0, eq)))
            fields[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return fields;
}

// RTP/RTCP receiving sockets for a client_port pair.
struct UdpPair {
    platform::Socket rtp, rtcp;
    uint16_t port = 0;

    bool Open() {
        for (uint16_t candidate = 41000; candidate < 42000; candidate += 2) {
            if (rtp.Create(platform::Socket::Kind::Udp) && rtp.Bind(candidate, htonl(INADDR_LOOPBACK)) &&
                rtcp.Create(platform::Socket::Kind::Udp) &&
                rtcp.Bind(candidate + 1, htonl(INADDR_LOOPBACK))) {
                port = candidate;
                return true;
            }
            rtp.Close();
            rtcp.Close();
        }
        return false;
    }

    // The next datagram on the RTP port within the time-out; empty on none.
    std::vector<uint8_t> Next(uint32_t timeoutMs) {
        if (rtp.WaitReadable(timeoutMs) != platform::IoStatus::Ok) return {};
        std::vector<uint8_t> packet(65536);
        sockaddr_in from{};
        auto got = rtp.ReceiveFrom(packet, from);
        if (got.status != platform::IoStatus::Ok) return {};
        packet.resize(got.bytes);
        return packet;
    }

    void Drain(uint32_t forMs) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(forMs);
        while (std::chrono::steady_clock::now() < until) Next(20);
    }
};

bool IsRtp(const std::vector<uint8_t>& packet, uint8_t payloadType) {
    // RFC 3550 5.1: V=2 in the top bits of byte 0, PT in the low 7 bits of byte 1.
    return packet.size() >= 12 && (packet[0] >> 6) == 2 && (packet[1] & 0x7F) == payloadType;
}

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

// ---------------------------------------------------------------------------

TEST(RtspServerLifecycle, LeavesNoChildThreadDescriptorOrPortBehind) {
    const size_t threads = CountEntries("/proc/self/task");
    const size_t descriptors = CountEntries("/proc/self/fd");
    int pid;
    uint16_t port;
    {
        RtspServer server(TestOptions());
        ASSERT_TRUE(server.Start()) << server.LastError();
        EXPECT_TRUE(server.Running());
        pid = server.ChildPid();
        port = server.Port();
        ASSERT_GT(pid, 0);
        ASSERT_NE(port, 0);
        RtspTestClient client;
        ASSERT_TRUE(client.Connect(port));
        auto reply = client.Request("OPTIONS", server.Url(kPath));
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 200u);
        client.Close();
        server.Stop();
        EXPECT_FALSE(server.Running());
        EXPECT_EQ(server.ChildPid(), -1);
        EXPECT_EQ(CountEntries("/proc/self/task"), threads);
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors);
    EXPECT_EQ(kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    platform::Socket probe;
    ASSERT_TRUE(probe.Create(platform::Socket::Kind::Tcp));
    EXPECT_TRUE(probe.Bind(port, htonl(INADDR_LOOPBACK)) && probe.Listen()) << "port " << port << " still taken";
}

TEST(RtspServerLifecycle, StartFailsClearlyAndLeavesNothing) {
    const size_t threads = CountEntries("/proc/self/task");
    platform::Socket taken;
    ASSERT_TRUE(taken.Create(platform::Socket::Kind::Tcp));
    ASSERT_TRUE(taken.Bind(0, htonl(INADDR_LOOPBACK)) && taken.Listen());

    RtspServer busy(TestOptions());
    EXPECT_FALSE(busy.Start(taken.LocalPort()));
    EXPECT_NE(busy.LastError().find("cannot listen"), std::string::npos) << busy.LastError();
    EXPECT_FALSE(busy.Running());
    EXPECT_EQ(busy.ChildPid(), -1);

    RtspServer::Options missing = TestOptions();
    missing.executable = QUARNEL_BIN_DIR "/no-such-media-process";
    RtspServer absent(missing);
    EXPECT_FALSE(absent.Start());
    EXPECT_NE(absent.LastError().find("cannot run"), std::string::npos) << absent.LastError();
    EXPECT_EQ(CountEntries("/proc/self/task"), threads);
}

TEST(RtspServerConfig, RefusesBadInputWithAReason) {
    RtspServer server(TestOptions());
    RtspStreamConfig odd;
    odd.width = 641;
    EXPECT_FALSE(server.SetStream(kPath, odd));
    EXPECT_NE(server.LastError().find("641"), std::string::npos) << server.LastError();
    EXPECT_FALSE(server.SetStream("no-slash", {}));
    EXPECT_FALSE(server.SetAuth(RtspServer::Auth::Digest, "", "pw"));
    EXPECT_FALSE(server.SetDescribeRefused(true, 200));
    EXPECT_FALSE(server.DropConnections());  // not running
}

// ---------------------------------------------------------------------------
// Codec, size and frame rate as ffprobe sees them, over both transports and
// both authentication schemes.

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
    RtspStreamConfig config;
    config.codec = c.codec;
    config.width = c.width;
    config.height = c.height;
    config.fps = c.fps;
    ASSERT_TRUE(server.SetStream(kPath, config)) << server.LastError();
    ASSERT_TRUE(server.SetAuth(c.auth, "viewer", "s3cret"));
    ASSERT_TRUE(server.Start()) << server.LastError();

    auto seen = FfProbe(server.Url(kPath, "viewer", "s3cret"), c.transport);
    EXPECT_EQ(seen["exit"], "0");
    EXPECT_EQ(seen["codec_name"], c.codecName);
    EXPECT_EQ(seen["width"], std::to_string(c.width));
    EXPECT_EQ(seen["height"], std::to_string(c.height));
    EXPECT_EQ(seen["r_frame_rate"], std::to_string(c.fps) + "/1");

    auto describe = server.Log().WaitFor("DESCRIBE", 1000, 0, [](const RtspRequest& r) { return r.status == 200; });
    ASSERT_TRUE(describe);
    EXPECT_EQ(describe->AuthScheme(), c.auth == RtspServer::Auth::Digest ? "Digest" : "Basic");
    auto setup = server.Log().WaitFor("SETUP", 1000, 0, [](const RtspRequest& r) { return r.status == 200; });
    ASSERT_TRUE(setup);
    EXPECT_NE(setup->transport.find(std::string(c.transport) == "tcp" ? "interleaved=" : "client_port="),
              std::string::npos)
        << setup->transport;
}

INSTANTIATE_TEST_SUITE_P(
    EachCodec, RtspServerCodecs,
    ::testing::Values(CodecCase{RtspCodec::H264, 640, 360, 25, "tcp", RtspServer::Auth::Digest, "h264"},
                      CodecCase{RtspCodec::H264, 320, 240, 15, "udp", RtspServer::Auth::Basic, "h264"},
                      CodecCase{RtspCodec::MPEG4, 352, 288, 15, "udp", RtspServer::Auth::Digest, "mpeg4"},
                      CodecCase{RtspCodec::JPEG, 320, 240, 10, "tcp", RtspServer::Auth::Basic, "mjpeg"}),
    [](const auto& info) {
        return std::string(CodecName(info.param.codec)) + "_" + info.param.transport;
    });

TEST(RtspServerAuth, WrongPasswordIsRefused) {
    for (auto mode : {RtspServer::Auth::Basic, RtspServer::Auth::Digest}) {
        SCOPED_TRACE(mode == RtspServer::Auth::Basic ? "Basic" : "Digest");
        RtspServer server(TestOptions());
        ASSERT_TRUE(server.SetAuth(mode, "viewer", "right"));
        ASSERT_TRUE(server.Start()) << server.LastError();
        auto seen = FfProbe(server.Url(kPath, "viewer", "wrong"), "tcp");
        EXPECT_NE(seen["exit"], "0");
        EXPECT_EQ(seen.count("codec_name"), 0u);
        EXPECT_EQ(server.Log().Count("SETUP"), 0u);
        auto refused = server.Log().WaitFor("DESCRIBE", 1000, 0, [](const RtspRequest& r) {
            return !r.authorization.empty();
        });
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 401u);
    }
}

// ---------------------------------------------------------------------------
// A whole session as the driver runs it: Digest in the RFC 2069 form with the
// base URL as digest uri for every method (also SETUP, whose request line
// carries the control URL), RTP over UDP or interleaved, keep-alive with
// OPTIONS, TEARDOWN.

class RtspServerSession : public ::testing::TestWithParam<bool> {};

TEST_P(RtspServerSession, Rfc2069DigestSessionReachesPlayAndTearsDown) {
    const bool interleaved = GetParam();
    RtspServer server(TestOptions());
    ASSERT_TRUE(server.SetAuth(RtspServer::Auth::Digest, "admin", "pw", "Test Camera"));
    ASSERT_TRUE(server.SetSessionTimeout(20));
    ASSERT_TRUE(server.SetRtcpInterval(300));
    RtspStreamConfig shortGop;
    shortGop.gop = 5;
    ASSERT_TRUE(server.SetStream(kPath, shortGop));
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
    std::string transport = "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n";
    if (!interleaved) {
        ASSERT_TRUE(udp.Open());
        transport = "Transport: RTP/AVP;unicast;client_port=" + std::to_string(udp.port) + "-" +
                    std::to_string(udp.port + 1) + "\r\n";
    }
    std::string setupUrl = contentBase;
    if (setupUrl.back() == '/') setupUrl.pop_back();
    setupUrl += "/stream=0";
    auto setup = client.Request("SETUP", setupUrl, auth("SETUP") + transport);
    ASSERT_TRUE(setup);
    ASSERT_EQ(setup->status, 200u) << setup->head;
    EXPECT_NE(setup->Header("Session").find(";timeout=20"), std::string::npos) << setup->head;
    const std::string session = SessionId(*setup);
    ASSERT_FALSE(session.empty());

    auto play = client.Request("PLAY", contentBase,
                               auth("PLAY") + "Session: " + session + "\r\nRange: npt=0.000-\r\n");
    ASSERT_TRUE(play);
    ASSERT_EQ(play->status, 200u) << play->head;

    // RTP arrives, and SPS (7) and PPS (8) go in-band ahead of every IDR (5),
    // not only ahead of the first one that the encoder itself prefixes.
    std::vector<int> seen;
    for (int i = 0; i < 1000 && std::count(seen.begin(), seen.end(), 5) < 2; ++i) {
        std::vector<uint8_t> packet;
        if (interleaved) {
            std::optional<quarnel::test::InterleavedFrame> frame;
            do {
                frame = client.ReadInterleaved(3000);
            } while (frame && frame->channel != 0);
            ASSERT_TRUE(frame) << "no interleaved RTP";
            packet = frame->data;
        } else {
            packet = udp.Next(3000);
            ASSERT_FALSE(packet.empty()) << "no RTP on client_port " << udp.port;
        }
        ASSERT_TRUE(IsRtp(packet, 96));
        for (int type : NalTypes(packet)) seen.push_back(type);
    }
    auto first = std::find(seen.begin(), seen.end(), 5);
    ASSERT_NE(first, seen.end()) << "no IDR picture";
    auto second = std::find(first + 1, seen.end(), 5);
    ASSERT_NE(second, seen.end()) << "no second IDR picture";
    EXPECT_NE(std::find(first + 1, second, 7), second) << "no SPS before the second IDR";
    EXPECT_NE(std::find(first + 1, second, 8), second) << "no PPS before the second IDR";

    // RFC 3550 6.4.1: a sender report, packet type 200, on the RTCP channel.
    bool senderReport = false;
    for (int i = 0; i < 200 && !senderReport; ++i) {
        std::vector<uint8_t> rtcp;
        if (interleaved) {
            auto frame = client.ReadInterleaved(2000);
            ASSERT_TRUE(frame);
            if (frame->channel == 1) rtcp = frame->data;
        } else if (udp.rtcp.WaitReadable(20) == platform::IoStatus::Ok) {
            rtcp.resize(1500);
            sockaddr_in from{};
            auto got = udp.rtcp.ReceiveFrom(rtcp, from);
            rtcp.resize(got.bytes);
        }
        senderReport = rtcp.size() >= 28 && (rtcp[0] >> 6) == 2 && rtcp[1] == 200;
    }
    EXPECT_TRUE(senderReport) << "no RTCP sender report";

    auto keepAlive = client.Request("OPTIONS", contentBase, auth("OPTIONS") + "Session: " + session + "\r\n");
    ASSERT_TRUE(keepAlive);
    EXPECT_EQ(keepAlive->status, 200u);
    auto teardown = client.Request("TEARDOWN", contentBase, auth("TEARDOWN") + "Session: " + session + "\r\n");
    ASSERT_TRUE(teardown);
    EXPECT_EQ(teardown->status, 200u);

    auto logged = server.Log().WaitFor("TEARDOWN", 2000);
    ASSERT_TRUE(logged);
    EXPECT_EQ(logged->session, session);
    EXPECT_EQ(logged->AuthScheme(), "Digest");
    EXPECT_EQ(logged->status, 200u);
    EXPECT_EQ(server.Log().Count("TEARDOWN"), 1u);
    auto loggedSetup = server.Log().WaitFor("SETUP", 0);
    ASSERT_TRUE(loggedSetup);
    EXPECT_EQ(loggedSetup->url, setupUrl);
    EXPECT_EQ(loggedSetup->cseq, "3");
    EXPECT_EQ(loggedSetup->transport + "\r\n", transport.substr(strlen("Transport: ")));
    EXPECT_EQ(loggedSetup->replySession.substr(0, session.size()), session);
}

INSTANTIATE_TEST_SUITE_P(Transports, RtspServerSession, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Interleaved" : "Udp"; });

// ---------------------------------------------------------------------------
// Fault switches.

// DESCRIBE, SETUP (UDP) and PLAY without authentication; the session id.
std::string PlayOverUdp(RtspTestClient& client, const std::string& base, UdpPair& udp) {
    auto describe = client.Request("DESCRIBE", base);
    if (!describe || describe->status != 200) return {};
    auto setup = client.Request("SETUP", base + "/stream=0",
                                "Transport: RTP/AVP;unicast;client_port=" + std::to_string(udp.port) + "-" +
                                    std::to_string(udp.port + 1) + "\r\n");
    if (!setup || setup->status != 200) return {};
    std::string session = SessionId(*setup);
    auto play = client.Request("PLAY", base, "Session: " + session + "\r\n");
    return play && play->status == 200 ? session : std::string();
}

TEST(RtspServerFaults, RefusedDescribeFailsUntilSwitchedBack) {
    RtspServer server(TestOptions());
    ASSERT_TRUE(server.SetDescribeRefused(true, 503));
    ASSERT_TRUE(server.Start()) << server.LastError();
    auto seen = FfProbe(server.Url(kPath), "tcp");
    EXPECT_NE(seen["exit"], "0");
    auto refused = server.Log().WaitFor("DESCRIBE", 1000);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 503u);

    ASSERT_TRUE(server.SetDescribeRefused(false));
    RtspTestClient client;
    ASSERT_TRUE(client.Connect(server.Port()));
    auto describe = client.Request("DESCRIBE", server.Url(kPath));
    ASSERT_TRUE(describe);
    EXPECT_EQ(describe->status, 200u);
}

TEST(RtspServerFaults, StoppedRtpLeavesTheSessionUp) {
    RtspServer server(TestOptions());
    ASSERT_TRUE(server.Start()) << server.LastError();
    RtspTestClient client;
    UdpPair udp;
    ASSERT_TRUE(udp.Open());
    ASSERT_TRUE(client.Connect(server.Port()));
    const std::string base = server.Url(kPath);
    std::string session = PlayOverUdp(client, base, udp);
    ASSERT_FALSE(session.empty());
    ASSERT_FALSE(udp.Next(3000).empty());

    ASSERT_TRUE(server.SetSendingRtp(false, kPath));
    udp.Drain(200);  // what was on its way
    EXPECT_TRUE(udp.Next(800).empty()) << "RTP still arrives";
    auto alive = client.Request("OPTIONS", base, "Session: " + session + "\r\n");
    ASSERT_TRUE(alive);
    EXPECT_EQ(alive->status, 200u);

    ASSERT_TRUE(server.SetSendingRtp(true));
    EXPECT_FALSE(udp.Next(3000).empty()) << "RTP did not resume";
}

TEST(RtspServerFaults, DropClosesEveryConnection) {
    RtspServer server(TestOptions());
    ASSERT_TRUE(server.Start()) << server.LastError();
    RtspTestClient playing, idle;
    UdpPair udp;
    ASSERT_TRUE(udp.Open());
    ASSERT_TRUE(playing.Connect(server.Port()));
    ASSERT_FALSE(PlayOverUdp(playing, server.Url(kPath), udp).empty());
    ASSERT_TRUE(idle.Connect(server.Port()));
    ASSERT_TRUE(idle.Request("OPTIONS", server.Url(kPath)));
    EXPECT_TRUE(server.Log().WaitForOpenConnections(2, 1000));

    ASSERT_TRUE(server.DropConnections()) << server.LastError();
    EXPECT_TRUE(playing.WaitClosed(2000));
    EXPECT_TRUE(idle.WaitClosed(2000));
    EXPECT_TRUE(server.Log().WaitForOpenConnections(0, 1000));
    udp.Drain(200);
    EXPECT_TRUE(udp.Next(800).empty()) << "the dropped session still streams";
    EXPECT_TRUE(server.Running());
}

TEST(RtspServerFaults, RestartComesBackOnTheSamePortWithItsConfiguration) {
    RtspServer server(TestOptions());
    ASSERT_TRUE(server.SetAuth(RtspServer::Auth::Basic, "u", "p"));
    ASSERT_TRUE(server.Start()) << server.LastError();
    const uint16_t port = server.Port();
    const int firstChild = server.ChildPid();
    RtspTestClient before;
    ASSERT_TRUE(before.Connect(port));
    ASSERT_TRUE(before.Request("OPTIONS", server.Url(kPath)));

    ASSERT_TRUE(server.Restart()) << server.LastError();
    EXPECT_TRUE(before.WaitClosed(2000));
    EXPECT_EQ(server.Port(), port);
    EXPECT_NE(server.ChildPid(), firstChild);

    RtspTestClient after;
    ASSERT_TRUE(after.Connect(port));
    auto anonymous = after.Request("DESCRIBE", server.Url(kPath));
    ASSERT_TRUE(anonymous);
    EXPECT_EQ(anonymous->status, 401u);
    auto authorised = after.Request("DESCRIBE", server.Url(kPath), "Authorization: Basic dTpw\r\n");  // u:p
    ASSERT_TRUE(authorised);
    EXPECT_EQ(authorised->status, 200u);
}

TEST(RtspServerConfig, TheNextSessionGetsANewConfiguration) {
    RtspServer server(TestOptions());
    ASSERT_TRUE(server.Start()) << server.LastError();
    RtspTestClient client;
    ASSERT_TRUE(client.Connect(server.Port()));
    auto first = client.Request("DESCRIBE", server.Url(kPath));
    ASSERT_TRUE(first);
    EXPECT_NE(first->body.find("a=framerate:25"), std::string::npos) << first->body;

    RtspStreamConfig slower;
    slower.fps = 5;
    ASSERT_TRUE(server.SetStream(kPath, slower)) << server.LastError();
    RtspTestClient next;
    ASSERT_TRUE(next.Connect(server.Port()));
    auto second = next.Request("DESCRIBE", server.Url(kPath));
    ASSERT_TRUE(second);
    EXPECT_NE(second->body.find("a=framerate:5\r\n"), std::string::npos) << second->body;
}

}  // namespace
}  // namespace quarnel::sim
