// The RTSP client against the simulated camera's GStreamer RTSP server with
// real encoders: Basic and Digest, RTP over UDP and interleaved. Each session
// reaches PLAY, receives RTP, keeps itself alive with OPTIONS at half the
// short session time-out the server announces (the client's clock runs four
// times fast), and ends with a TEARDOWN the server answers.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "ClientFixture.h"
#include "rtp/CRTPPacket.h"
#include "sim/rtsp/RtspServer.h"

using namespace dravnel;
using namespace quarnel::test;
using quarnel::sim::RtspRequest;
using quarnel::sim::RtspServer;

namespace {

constexpr const char* kPath = "/1/stream1";
constexpr unsigned kSessionTimeoutSec = 1;

// Two UDP sockets on consecutive ports, the first even, as RTP and RTCP want.
struct UdpPair {
    platform::Socket rtp, rtcp;
    bool Bind() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (!rtp.Create(platform::Socket::Kind::Udp) || !rtp.Bind(0, htonl(INADDR_LOOPBACK))) return false;
            const uint16_t port = rtp.LocalPort();
            if (port % 2 == 0 && port < 65535 && rtcp.Create(platform::Socket::Kind::Udp) &&
                rtcp.Bind(static_cast<uint16_t>(port + 1), htonl(INADDR_LOOPBACK)))
                return true;
            rtp.Close();
            rtcp.Close();
        }
        return false;
    }
    // RTP packets that arrive within the time-out.
    size_t Receive(uint32_t timeoutMs) {
        size_t packets = 0;
        const uint32_t start = platform::MonotonicMs();
        uint8_t buffer[2048];
        CRTPPacket packet;
        while (platform::MonotonicMs() - start < timeoutMs) {
            if (rtp.WaitReadable(20) != platform::IoStatus::Ok) continue;
            sockaddr_in from{};
            const auto got = rtp.ReceiveFrom(buffer, from);
            if (got && packet.Parse(buffer, static_cast<unsigned>(got.bytes))) ++packets;
        }
        return packets;
    }
};

struct InteropCase {
    const char* name;
    RTSPTransportMode mode;
    RtspServer::Auth auth;
};

class InteropTest : public ::testing::TestWithParam<InteropCase> {};

}  // namespace

TEST_P(InteropTest, SessionReachesPlayKeepsAliveAndTearsDown) {
    const InteropCase c = GetParam();
    RtspServer::Options options;
    options.executable = QUARNEL_BIN_DIR "/quarnel-sim-rtsp";
    options.channels = 1;
    RtspServer server(options);
    ASSERT_TRUE(server.SetAuth(c.auth, "admin", "secret")) << server.LastError();
    ASSERT_TRUE(server.SetSessionTimeout(kSessionTimeoutSec)) << server.LastError();
    ASSERT_TRUE(server.Start()) << server.LastError();

    UdpPair udp;
    auto settings = LocalSettings(server.Port());
    settings.streamPath = kPath;
    settings.userName = "admin";
    settings.password = "secret";
    settings.receiveTimeoutMs = 3000;
    if (c.mode == RTSPTransportMode::Udp) {
        ASSERT_TRUE(udp.Bind());
        settings.clientRtpPort = udp.rtp.LocalPort();
        settings.clientRtcpPort = udp.rtcp.LocalPort();
    }

    RecordingUser user;
    CBaseRTSPClient client;
    client.SetClock(FastClock(4), 10);  // OPTIONS every 500 ms of clock time: 125 ms
    ASSERT_TRUE(client.StartClient(settings, &user, c.mode));
    const auto play = server.Log().WaitFor("PLAY", 5000, 0, [](const RtspRequest& r) { return r.status == 200; });
    ASSERT_TRUE(play) << "no PLAY answered with 200";

    // Run past the session time-out; RTP must still flow at the end.
    const uint32_t runMs = kSessionTimeoutSec * 1000 + 500;
    if (c.mode == RTSPTransportMode::Udp) {
        EXPECT_GT(udp.Receive(runMs), 10u);
        EXPECT_GT(udp.Receive(300), 3u) << "RTP stopped";
    } else {
        ASSERT_TRUE(user.WaitForPackets(10, 3000));
        std::this_thread::sleep_for(std::chrono::milliseconds(runMs));
        const size_t before = user.Sequences().size();
        EXPECT_TRUE(user.WaitForPackets(before + 3, 1000)) << "RTP stopped";
    }
    client.StopClient();

    const auto teardown = server.Log().WaitFor("TEARDOWN", 3000);
    ASSERT_TRUE(teardown) << "no TEARDOWN";
    EXPECT_EQ(teardown->status, 200u);
    EXPECT_FALSE(teardown->session.empty());
    EXPECT_EQ(teardown->AuthScheme(), c.auth == RtspServer::Auth::Digest ? "Digest" : "Basic");

    const auto requests = server.Log().Requests();
    size_t keepAlives = 0;
    for (const auto& r : requests) {
        if (r.method == "OPTIONS" && r.status == 200 && r.session == teardown->session) ++keepAlives;
    }
    EXPECT_GE(keepAlives, 4u);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "DESCRIBE");
    EXPECT_EQ(requests[0].status, 401u);  // no scheme in the settings: the challenge picks it
    EXPECT_EQ(requests[1].method, "DESCRIBE");
    EXPECT_EQ(requests[1].status, 200u);
    ASSERT_EQ(user.Configs().size(), 1u);
    EXPECT_FALSE(user.Configs()[0].sps.empty());
    EXPECT_FALSE(user.Configs()[0].pps.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sim, InteropTest,
    ::testing::Values(InteropCase{"udp_digest", RTSPTransportMode::Udp, RtspServer::Auth::Digest},
                      InteropCase{"interleaved_digest", RTSPTransportMode::Interleaved, RtspServer::Auth::Digest},
                      InteropCase{"udp_basic", RTSPTransportMode::Udp, RtspServer::Auth::Basic},
                      InteropCase{"interleaved_basic", RTSPTransportMode::Interleaved, RtspServer::Auth::Basic}),
    [](const auto& info) { return std::string(info.param.name); });
