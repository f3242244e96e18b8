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
using namespace dravnel::test;
using dravnel::sim::RtspServer;

namespace {

// RTP packets that arrive on the socket within the time.
size_t ReceiveRtp(platform::Socket& socket, uint32_t forMs) {
    size_t packets = 0;
    uint8_t buffer[2048];
    CRTPPacket packet;
    for (const uint32_t start = platform::MonotonicMs(); platform::MonotonicMs() - start < forMs;) {
        sockaddr_in from{};
        if (socket.WaitReadable(20) != platform::IoStatus::Ok) continue;
        const auto got = socket.ReceiveFrom(buffer, from);
        packets += got && packet.Parse(buffer, static_cast<unsigned>(got.bytes));
    }
    return packets;
}

}  // namespace

// One server for the four sessions; an authentication change holds for the
// connections opened after it.
TEST(Interop, SessionsReachPlayKeepAliveAndTearDown) {
    RtspServer server(RtspServer::Options{.executable = QUARNEL_BIN_DIR "/quarnel-sim-rtsp", .channels = 1});
    ASSERT_TRUE(server.SetSessionTimeout(1) && server.Start()) << server.LastError();  // seconds
    for (const auto mode : {RTSPTransportMode::Udp, RTSPTransportMode::Interleaved}) {
        for (const auto auth : {RtspServer::Auth::Basic, RtspServer::Auth::Digest}) {
            const bool udp = mode == RTSPTransportMode::Udp, digest = auth == RtspServer::Auth::Digest;
            SCOPED_TRACE(std::string(udp ? "UDP" : "interleaved") + (digest ? " with Digest" : " with Basic"));
            ASSERT_TRUE(server.SetAuth(auth, "admin", "secret")) << server.LastError();
            const uint64_t from = server.Log().NextIndex();

            platform::Socket rtp, rtcp;
            auto settings = LocalSettings(server.Port());
            settings.streamPath = "/1/stream1";
            settings.receiveTimeoutMs = 3000;
            for (platform::Socket* s : {&rtp, &rtcp})
                ASSERT_TRUE(s->Create(platform::Socket::Kind::Udp) && s->Bind(0, htonl(INADDR_LOOPBACK)));
            settings.clientRtpPort = rtp.LocalPort();
            settings.clientRtcpPort = rtcp.LocalPort();
            RecordingUser user;
            CBaseRTSPClient client;
            client.SetClock(FastClock(4), 10);  // OPTIONS every 500 ms of clock time: 125 ms
            ASSERT_TRUE(client.StartClient(settings, &user, mode));
            ASSERT_TRUE(server.Log().WaitFor("PLAY", 5000, from, [](const auto& r) { return r.status == 200; }))
                << "no PLAY answered with 200";

            // Run past the session time-out; RTP must still flow at the end.
            const auto received = [&](uint32_t forMs) {  // RTP packets within the time
                if (udp) return ReceiveRtp(rtp, forMs);
                const size_t before = user.Count();
                std::this_thread::sleep_for(std::chrono::milliseconds(forMs));
                return user.Count() - before;
            };
            EXPECT_GT(received(1500), 10u);
            EXPECT_GT(received(300), 3u) << "RTP stopped";
            client.StopClient();

            const auto teardown = server.Log().WaitFor("TEARDOWN", 3000, from);
            ASSERT_TRUE(teardown) << "no TEARDOWN";
            EXPECT_EQ(teardown->status, 200u);
            EXPECT_FALSE(teardown->session.empty());
            EXPECT_EQ(teardown->AuthScheme(), digest ? "Digest" : "Basic");
            size_t keepAlives = 0;
            for (const auto& r : server.Log().Requests())
                keepAlives += r.method == "OPTIONS" && r.status == 200 && r.session == teardown->session;
            EXPECT_GE(keepAlives, 4u);
            ASSERT_EQ(user.configs.size(), 1u);
            EXPECT_FALSE(user.configs[0].sps.empty());
            EXPECT_FALSE(user.configs[0].pps.empty());
        }
    }
}
