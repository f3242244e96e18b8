// The RTSP session against a scripted camera: requests byte for byte, the
// authentication retry, keep-alive timing, connecting and stopping.
#include <gtest/gtest.h>

#include <algorithm>

#include "ClientFixture.h"
#include "platform/Thread.h"
#include "rtsp/Md5.h"

using namespace dravnel;
using namespace quarnel::test;

namespace {

std::string Base(uint16_t port) { return "rtsp://127.0.0.1:" + std::to_string(port) + "/h264"; }

}  // namespace

TEST(Client, DigestChallengeIsAnsweredOnceThenEveryRequestCarriesIt) {
    ScriptedRtspServer server([](const Request& r) -> std::vector<std::string> {
        if (r.Header("Authorization").empty())
            return {ScriptedRtspServer::Reply(r, "401 Unauthorized",
                                              "WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc123\"\r\n")};
        return CameraAnswer(r);
    });
    RecordingUser user;
    CBaseRTSPClient client;
    auto settings = LocalSettings(server.Port());
    settings.userName = "admin";
    settings.password = "secret";
    ASSERT_TRUE(client.StartClient(settings, &user, RTSPTransportMode::Udp));
    ASSERT_TRUE(server.WaitFor("PLAY", 1, 5000));
    client.StopClient();
    ASSERT_TRUE(server.WaitFor("TEARDOWN", 1, 1000));

    const std::string base = Base(server.Port());
    // RFC 2617 digest without qop over the base URL, also for SETUP.
    const auto auth = [&](const std::string& method) {
        const std::string response =
            Md5Hex(Md5Hex("admin:cam:secret") + ":abc123:" + Md5Hex(method + ":" + base));
        return "Authorization: Digest username=\"admin\", realm=\"cam\", nonce=\"abc123\", uri=\"" + base +
               "\", response=\"" + response + "\"\r\n";
    };
    const auto requests = server.Requests();
    ASSERT_EQ(server.Methods(), (std::vector<std::string>{"DESCRIBE", "DESCRIBE", "SETUP", "PLAY", "TEARDOWN"}));
    EXPECT_EQ(requests[0].text,
              "DESCRIBE " + base + " RTSP/1.0\r\nCSeq: 1\r\nUser-Agent: Dravnel\r\nAccept: application/sdp\r\n\r\n");
    EXPECT_EQ(requests[1].text, "DESCRIBE " + base + " RTSP/1.0\r\nCSeq: 2\r\n" + auth("DESCRIBE") +
                                    "User-Agent: Dravnel\r\nAccept: application/sdp\r\n\r\n");
    EXPECT_EQ(requests[2].text, "SETUP " + base + "/trackID=1 RTSP/1.0\r\nCSeq: 3\r\n" + auth("SETUP") +
                                    "Transport: RTP/AVP;unicast;client_port=5000-5001\r\nUser-Agent: Dravnel\r\n\r\n");
    EXPECT_EQ(requests[3].text, "PLAY " + base + " RTSP/1.0\r\nCSeq: 4\r\n" + auth("PLAY") +
                                    "Session: 1234\r\nRange: npt=0.000-\r\nUser-Agent: Dravnel\r\n\r\n");
    EXPECT_EQ(requests[4].text, "TEARDOWN " + base + " RTSP/1.0\r\nCSeq: 5\r\n" + auth("TEARDOWN") +
                                    "Session: 1234\r\nUser-Agent: Dravnel\r\n\r\n");
    ASSERT_EQ(user.Configs().size(), 1u);
    EXPECT_EQ(user.Configs()[0].sps.size(), 10u);
    EXPECT_EQ(user.Configs()[0].pps.size(), 4u);
}

// The SETUP request by content base, media control, transport mode and block
// size. The camera refuses it, and TEARDOWN follows at once on the base URL.
TEST(Client, SetupRequest) {
    const struct {
        std::string contentBase;  // header value, or empty for none
        std::string mediaLines;   // the video media of the description
        RTSPTransportMode mode;
        uint32_t blockSize;
        std::string url;  // "@" stands for the default base rtsp://127.0.0.1:<port>/h264
        std::string transport;
        std::string blocksize;
    } cases[] = {
        {"rtsp://10.0.0.5/stream/", "m=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n", RTSPTransportMode::Udp, 0,
         "rtsp://10.0.0.5/stream/trackID=1", "RTP/AVP;unicast;client_port=5000-5001", ""},
        {"rtsp://10.0.0.5/stream/", "m=video 0 RTP/AVP 96\r\na=control:rtsp://10.0.0.9/x/track\r\n",
         RTSPTransportMode::Udp, 100, "rtsp://10.0.0.9/x/track", "RTP/AVP;unicast;client_port=5000-5001", ""},
        {"rtsp://10.0.0.5/stream/", "m=video 0 RTP/AVP 96\r\n", RTSPTransportMode::Tcp, 1400,
         "rtsp://10.0.0.5/stream/", "RTP/AVP;unicast;client_port=5000-5001", "1400"},
        {"", "m=video 0 RTP/AVP 96\r\na=control:/track\r\n", RTSPTransportMode::Udp, 0, "@/track",
         "RTP/AVP;unicast;client_port=5000-5001", ""},
        {"", "m=video 0\r\n", RTSPTransportMode::Udp, 0, "@", "RTP/AVP/UDP;unicast;client_port=5000-5001", ""},
        {"", "m=video 0\r\n", RTSPTransportMode::Tcp, 0, "@", "RTP/AVP/TCP;unicast;client_port=5000-5001", ""},
        {"", "m=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n", RTSPTransportMode::Interleaved, 0, "@/trackID=1",
         "RTP/AVP/TCP;interleaved=0-1;unicast", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + " " + c.transport);
        ScriptedRtspServer server([&](const Request& r) -> std::vector<std::string> {
            if (r.method == "DESCRIBE")
                return {ScriptedRtspServer::Reply(
                    r, "200 OK", c.contentBase.empty() ? "" : "Content-Base: " + c.contentBase + "\r\n",
                    "v=0\r\n" + c.mediaLines)};
            return {ScriptedRtspServer::Reply(r, r.method == "SETUP" ? "461 Unsupported Transport" : "200 OK")};
        });
        CBaseRTSPClient client;
        auto settings = LocalSettings(server.Port());
        settings.blockSize = c.blockSize;
        ASSERT_TRUE(client.StartClient(settings, nullptr, c.mode));
        ASSERT_TRUE(server.WaitFor("TEARDOWN", 1, 3000));
        client.StopClient();
        const auto requests = server.Requests();
        ASSERT_EQ(server.Methods(), (std::vector<std::string>{"DESCRIBE", "SETUP", "TEARDOWN"}));
        const std::string url = c.url[0] == '@' ? Base(server.Port()) + c.url.substr(1) : c.url;
        EXPECT_EQ(requests[1].text, "SETUP " + url + " RTSP/1.0\r\nCSeq: 2\r\nTransport: " + c.transport +
                                        "\r\nUser-Agent: Dravnel\r\n" +
                                        (c.blocksize.empty() ? "" : "Blocksize: " + c.blocksize + "\r\n") + "\r\n");
        EXPECT_EQ(requests[2].url, c.contentBase.empty() ? Base(server.Port()) : c.contentBase);
    }
}

// Basic goes with every request from the first. A Digest challenge switches
// the first session over; the next session starts afresh: CSeq 1, no
// session id, and the scheme of the settings again.
TEST(Client, BasicFromTheFirstRequestAndEachStartBeginsAfresh) {
    ScriptedRtspServer server([](const Request& r) -> std::vector<std::string> {
        if (r.connection == 1 && r.Header("Authorization").rfind("Digest", 0) != 0)
            return {ScriptedRtspServer::Reply(r, "401 Unauthorized",
                                              "WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\"\r\n")};
        return CameraAnswer(r);
    });
    CBaseRTSPClient client;
    auto settings = LocalSettings(server.Port());
    settings.userName = "admin";
    settings.password = "secret";
    settings.authScheme = AuthScheme::Basic;
    ASSERT_TRUE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp));
    ASSERT_TRUE(server.WaitFor("PLAY", 1, 3000));
    client.StopClient();
    ASSERT_TRUE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp));
    ASSERT_TRUE(server.WaitFor("PLAY", 2, 3000));
    client.StopClient();
    ASSERT_TRUE(server.WaitFor("TEARDOWN", 2, 1000));

    const auto requests = server.Requests();
    EXPECT_EQ(requests[0].Header("Authorization"), "Basic YWRtaW46c2VjcmV0");
    const auto second = std::find_if(requests.begin(), requests.end(), [](const Request& r) { return r.connection == 2; });
    ASSERT_NE(second, requests.end());
    EXPECT_EQ(second->method, "DESCRIBE");
    EXPECT_EQ(second->cseq, 1u);
    EXPECT_EQ(second->Header("Session"), "");
    for (auto r = second; r != requests.end(); ++r) EXPECT_EQ(r->Header("Authorization"), "Basic YWRtaW46c2VjcmV0");
}

// Session time-out 20 s: OPTIONS whenever more than 10 s have passed, checked
// each tick; without a time-out, half the default 60 s. The clock runs 200
// times faster than real time, so 10 s take 50 ms.
TEST(Client, KeepAliveAtHalfTheSessionTimeout) {
    const struct {
        const char* session;
        uint32_t intervalMs;  // real time
    } cases[] = {{"1234;timeout=20", 50}, {"1234", 150}};
    for (const auto& c : cases) {
        ScriptedRtspServer server([&](const Request& r) { return CameraAnswer(r, c.session); });
        CBaseRTSPClient client;
        client.SetClock(FastClock(200), 5);
        ASSERT_TRUE(client.StartClient(LocalSettings(server.Port()), nullptr, RTSPTransportMode::Udp));
        ASSERT_TRUE(server.WaitFor("OPTIONS", 5, 5000)) << c.session;
        client.StopClient();

        std::vector<uint32_t> at;
        for (const auto& r : server.Requests()) {
            if (r.method != "OPTIONS") continue;
            at.push_back(r.atMs);
            EXPECT_EQ(r.Header("Session"), "1234");
        }
        std::vector<uint32_t> gaps;
        for (size_t i = 1; i < at.size(); ++i) gaps.push_back(at[i] - at[i - 1]);
        std::sort(gaps.begin(), gaps.end());
        EXPECT_GE(gaps.front(), c.intervalMs - 2) << c.session;
        EXPECT_LT(gaps[gaps.size() / 2], c.intervalMs * 3 / 2) << c.session;
        EXPECT_TRUE(server.WaitFor("TEARDOWN", 1, 1000));
    }
}

// A camera that answers nothing: StopClient must not wait out the receive
// time-out, neither during DESCRIBE nor for the TEARDOWN reply.
TEST(Client, StopClientReturnsPromptlyFromASilentCamera) {
    for (const std::string silentAt : {"DESCRIBE", "TEARDOWN"}) {
        ScriptedRtspServer server([&](const Request& r) -> std::vector<std::string> {
            if (r.method == silentAt) return {};
            return CameraAnswer(r);
        });
        CBaseRTSPClient client;
        auto settings = LocalSettings(server.Port());
        settings.receiveTimeoutMs = 5000;
        ASSERT_TRUE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp));
        ASSERT_TRUE(server.WaitFor(silentAt == "DESCRIBE" ? "DESCRIBE" : "PLAY", 1, 3000));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const uint32_t start = platform::MonotonicMs();
        client.StopClient();
        EXPECT_LT(platform::MonotonicMs() - start, 500u) << silentAt;
        EXPECT_FALSE(client.IsConnected());
        if (silentAt == "TEARDOWN") {
            ASSERT_TRUE(server.WaitFor("TEARDOWN", 1, 1000));
            EXPECT_EQ(server.Requests().back().Header("Session"), "1234");
        }
    }
}

// No host, a listener whose accept queue is full (the connect waits until
// its rounds run out) and the abort event all fail the start, the last two
// within their time.
TEST(Client, StartFailsWhenTheConnectDoes) {
    CBaseRTSPClient client;
    auto settings = LocalSettings(0);
    settings.host = "";
    EXPECT_FALSE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp));

    platform::Socket listener;
    ASSERT_TRUE(listener.Create(platform::Socket::Kind::Tcp));
    ASSERT_TRUE(listener.Bind(0, htonl(INADDR_LOOPBACK)));
    ASSERT_TRUE(listener.Listen(0));
    settings = LocalSettings(listener.LocalPort());
    std::vector<platform::Socket> fillers(3);
    for (auto& f : fillers) {
        ASSERT_TRUE(f.Create(platform::Socket::Kind::Tcp));
        f.Connect(htonl(INADDR_LOOPBACK), listener.LocalPort(), 2, 50);
    }
    settings.connectTimeoutMs = 300;  // three rounds of 100 ms
    uint32_t start = platform::MonotonicMs();
    EXPECT_FALSE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp));
    const uint32_t elapsed = platform::MonotonicMs() - start;
    EXPECT_GE(elapsed, 280u);
    EXPECT_LT(elapsed, 1000u);

    settings.connectTimeoutMs = 5000;
    CManualEvent abort;
    platform::Thread aborter;
    aborter.Start([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        abort.Set();
    });
    start = platform::MonotonicMs();
    EXPECT_FALSE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp, &abort));
    EXPECT_LT(platform::MonotonicMs() - start, 1000u);
    aborter.Join();
}
