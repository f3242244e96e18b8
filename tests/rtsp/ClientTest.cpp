// The RTSP session against a scripted camera: requests byte for byte, the
// authentication retry, keep-alive timing, stopping, and hostile replies.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "ClientFixture.h"
#include "platform/Thread.h"
#include "rtsp/Md5.h"

using namespace dravnel;
using namespace quarnel::test;

namespace {

bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    const uint32_t start = platform::MonotonicMs();
    while (!done()) {
        if (platform::MonotonicMs() - start > timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string Base(uint16_t port) { return "rtsp://127.0.0.1:" + std::to_string(port) + "/h264"; }

// RFC 2617 digest without qop, for user admin, password secret.
std::string DigestLine(const std::string& method, const std::string& uri, const std::string& realm,
                       const std::string& nonce) {
    const std::string response =
        Md5Hex(Md5Hex("admin:" + realm + ":secret") + ":" + nonce + ":" + Md5Hex(method + ":" + uri));
    return "Authorization: Digest username=\"admin\", realm=\"" + realm + "\", nonce=\"" + nonce + "\", uri=\"" + uri +
           "\", response=\"" + response + "\"\r\n";
}

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
    const auto auth = [&](const char* method) { return DigestLine(method, base, "cam", "abc123"); };
    const auto requests = server.Requests();
    ASSERT_EQ(server.Methods(), (std::vector<std::string>{"DESCRIBE", "DESCRIBE", "SETUP", "PLAY", "TEARDOWN"}));
    EXPECT_EQ(requests[0].text,
              "DESCRIBE " + base + " RTSP/1.0\r\nCSeq: 1\r\nUser-Agent: Dravnel\r\nAccept: application/sdp\r\n\r\n");
    EXPECT_EQ(requests[1].text, "DESCRIBE " + base + " RTSP/1.0\r\nCSeq: 2\r\n" + auth("DESCRIBE") +
                                    "User-Agent: Dravnel\r\nAccept: application/sdp\r\n\r\n");
    // The digest of SETUP covers the base URL, not the media's.
    EXPECT_EQ(requests[2].text, "SETUP " + base + "/trackID=1 RTSP/1.0\r\nCSeq: 3\r\n" + auth("SETUP") +
                                    "Transport: RTP/AVP;unicast;client_port=5000-5001\r\nUser-Agent: Dravnel\r\n\r\n");
    EXPECT_EQ(requests[3].text, "PLAY " + base + " RTSP/1.0\r\nCSeq: 4\r\n" + auth("PLAY") +
                                    "Session: 1234\r\nRange: npt=0.000-\r\nUser-Agent: Dravnel\r\n\r\n");
    EXPECT_EQ(requests[4].text, "TEARDOWN " + base + " RTSP/1.0\r\nCSeq: 5\r\n" + auth("TEARDOWN") +
                                    "Session: 1234\r\nUser-Agent: Dravnel\r\n\r\n");
    ASSERT_EQ(user.Configs().size(), 1u);
    EXPECT_EQ(user.Configs()[0].sps.size(), 10u);
    EXPECT_EQ(user.Configs()[0].pps.size(), 4u);
    EXPECT_EQ(client.CurrentAuthScheme(), AuthScheme::Digest);
}

TEST(Client, ASecondRefusalEndsTheSession) {
    ScriptedRtspServer server([](const Request& r) -> std::vector<std::string> {
        return {ScriptedRtspServer::Reply(r, "401 Unauthorized",
                                          "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n" +
                                              std::to_string(r.index) + "\"\r\n")};
    });
    CBaseRTSPClient client;
    auto settings = LocalSettings(server.Port());
    settings.userName = "admin";
    settings.password = "wrong";
    ASSERT_TRUE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp));
    ASSERT_TRUE(WaitUntil([&] { return !client.IsRunning(); }, 3000));
    EXPECT_EQ(server.Methods(), (std::vector<std::string>{"DESCRIBE", "DESCRIBE"}));  // no TEARDOWN
    EXPECT_TRUE(client.LastResult());  // the reply was read; its status failed the request
    EXPECT_EQ(client.Response().statusCode, 401u);
    client.StopClient();
}

TEST(Client, BasicGoesWithEveryRequestFromTheFirst) {
    ScriptedRtspServer server([](const Request& r) { return CameraAnswer(r); });
    CBaseRTSPClient client;
    auto settings = LocalSettings(server.Port());
    settings.userName = "admin";
    settings.password = "secret";
    settings.authScheme = AuthScheme::Basic;
    ASSERT_TRUE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp));
    ASSERT_TRUE(server.WaitFor("PLAY", 1, 5000));
    client.StopClient();
    ASSERT_TRUE(server.WaitFor("TEARDOWN", 1, 1000));
    for (const auto& r : server.Requests()) EXPECT_EQ(r.Header("Authorization"), "Basic YWRtaW46c2VjcmV0") << r.method;
    EXPECT_EQ(server.Count("TEARDOWN"), 1u);
}

struct SetupCase {
    const char* name;
    std::string contentBase;  // header value, or empty for none
    std::string mediaLines;   // the video media of the description
    RTSPTransportMode mode;
    uint32_t blockSize;
    std::string url;  // "@" stands for the default base rtsp://127.0.0.1:<port>/h264
    std::string transport;
    std::string blocksize;
};

class SetupRequestTest : public ::testing::TestWithParam<SetupCase> {};

TEST_P(SetupRequestTest, UrlTransportAndBlocksize) {
    const SetupCase c = GetParam();
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
    ASSERT_TRUE(server.WaitFor("TEARDOWN", 1, 3000));  // a refused SETUP goes straight to TEARDOWN
    client.StopClient();
    const auto requests = server.Requests();
    ASSERT_EQ(server.Methods(), (std::vector<std::string>{"DESCRIBE", "SETUP", "TEARDOWN"}));
    std::string url = c.url;
    if (url.find('@') == 0) url = Base(server.Port()) + url.substr(1);
    EXPECT_EQ(requests[1].url, url);
    EXPECT_EQ(requests[1].Header("Transport"), c.transport);
    EXPECT_EQ(requests[1].Header("Blocksize"), c.blocksize);
    EXPECT_EQ(requests[2].url, c.contentBase.empty() ? Base(server.Port()) : c.contentBase);
    // The Blocksize line comes last.
    const std::string end =
        "User-Agent: Dravnel\r\n" + (c.blocksize.empty() ? "" : "Blocksize: " + c.blocksize + "\r\n") + "\r\n";
    EXPECT_EQ(requests[1].text.substr(requests[1].text.size() - std::min(end.size(), requests[1].text.size())), end);
}

INSTANTIATE_TEST_SUITE_P(
    Client, SetupRequestTest,
    ::testing::Values(
        SetupCase{"base_and_track", "rtsp://10.0.0.5/stream/", "m=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n",
                  RTSPTransportMode::Udp, 0, "rtsp://10.0.0.5/stream/trackID=1",
                  "RTP/AVP;unicast;client_port=5000-5001", ""},
        SetupCase{"absolute_control", "rtsp://10.0.0.5/stream/",
                  "m=video 0 RTP/AVP 96\r\na=control:rtsp://10.0.0.9/x/track\r\n", RTSPTransportMode::Udp, 100,
                  "rtsp://10.0.0.9/x/track", "RTP/AVP;unicast;client_port=5000-5001", ""},
        SetupCase{"no_control", "rtsp://10.0.0.5/stream/", "m=video 0 RTP/AVP 96\r\n", RTSPTransportMode::Tcp, 1400,
                  "rtsp://10.0.0.5/stream/", "RTP/AVP;unicast;client_port=5000-5001", "1400"},
        SetupCase{"no_base", "", "m=video 0 RTP/AVP 96\r\na=control:/track\r\n", RTSPTransportMode::Udp, 0, "@/track",
                  "RTP/AVP;unicast;client_port=5000-5001", ""},
        SetupCase{"udp_without_protocol", "", "m=video 0\r\n", RTSPTransportMode::Udp, 0, "@",
                  "RTP/AVP/UDP;unicast;client_port=5000-5001", ""},
        SetupCase{"tcp_without_protocol", "", "m=video 0\r\n", RTSPTransportMode::Tcp, 0, "@",
                  "RTP/AVP/TCP;unicast;client_port=5000-5001", ""},
        SetupCase{"interleaved", "", "m=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n",
                  RTSPTransportMode::Interleaved, 0, "@/trackID=1", "RTP/AVP/TCP;interleaved=0-1;unicast", ""}),
    [](const auto& info) { return std::string(info.param.name); });

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
        FastClock clock(200);
        CBaseRTSPClient client;
        client.SetClock([&] { return clock.Now(); }, 5);
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
    for (const char* silentAt : {"DESCRIBE", "TEARDOWN"}) {
        ScriptedRtspServer server([&](const Request& r) -> std::vector<std::string> {
            if (r.method == silentAt) return {};
            return CameraAnswer(r);
        });
        CBaseRTSPClient client;
        auto settings = LocalSettings(server.Port());
        settings.receiveTimeoutMs = 5000;
        ASSERT_TRUE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp));
        ASSERT_TRUE(server.WaitFor(std::string(silentAt) == "DESCRIBE" ? "DESCRIBE" : "PLAY", 1, 3000));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const uint32_t start = platform::MonotonicMs();
        client.StopClient();
        EXPECT_LT(platform::MonotonicMs() - start, 500u) << silentAt;
        EXPECT_FALSE(client.IsConnected());
        if (std::string(silentAt) == "TEARDOWN") {
            ASSERT_TRUE(server.WaitFor("TEARDOWN", 1, 1000));
            EXPECT_EQ(server.Requests().back().Header("Session"), "1234");
        }
    }
}

TEST(Client, StartFailsWithoutACamera) {
    CBaseRTSPClient client;
    auto settings = LocalSettings(0);
    settings.host = "";
    EXPECT_FALSE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp));
    EXPECT_FALSE(client.IsConnected());

    platform::Socket closed;  // a port nobody listens on
    ASSERT_TRUE(closed.Create(platform::Socket::Kind::Tcp));
    ASSERT_TRUE(closed.Bind(0, htonl(INADDR_LOOPBACK)));
    settings = LocalSettings(closed.LocalPort());
    EXPECT_FALSE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp));
    EXPECT_FALSE(client.IsRunning());
}

TEST(Client, EachStartBeginsAFreshSession) {
    ScriptedRtspServer server([](const Request& r) -> std::vector<std::string> {
        if (r.connection == 1 && r.Header("Authorization").empty())
            return {ScriptedRtspServer::Reply(r, "401 Unauthorized",
                                              "WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\"\r\n")};
        return CameraAnswer(r);
    });
    CBaseRTSPClient client;
    auto settings = LocalSettings(server.Port());
    settings.userName = "admin";
    settings.password = "secret";
    ASSERT_TRUE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp));
    ASSERT_TRUE(server.WaitFor("PLAY", 1, 3000));
    client.StopClient();
    ASSERT_TRUE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp));
    ASSERT_TRUE(server.WaitFor("PLAY", 2, 3000));
    client.StopClient();
    const auto requests = server.Requests();
    const auto second = std::find_if(requests.begin(), requests.end(), [](const Request& r) { return r.connection == 2; });
    ASSERT_NE(second, requests.end());
    EXPECT_EQ(second->method, "DESCRIBE");
    EXPECT_EQ(second->cseq, 1u);
    EXPECT_EQ(second->Header("Authorization"), "");  // the scheme comes from the settings again
    EXPECT_EQ(second->Header("Session"), "");
}

// A listener whose accept queue is full drops further connection requests,
// so a connect waits until its rounds run out, or until the abort event.
TEST(Client, ConnectGivesUpAfterItsRoundsOrWhenAborted) {
    platform::Socket listener;
    ASSERT_TRUE(listener.Create(platform::Socket::Kind::Tcp));
    ASSERT_TRUE(listener.Bind(0, htonl(INADDR_LOOPBACK)));
    ASSERT_TRUE(listener.Listen(0));
    std::vector<platform::Socket> fillers(3);
    for (auto& f : fillers) {
        ASSERT_TRUE(f.Create(platform::Socket::Kind::Tcp));
        f.Connect(htonl(INADDR_LOOPBACK), listener.LocalPort(), 2, 50);
    }
    auto settings = LocalSettings(listener.LocalPort());
    settings.connectTimeoutMs = 300;  // three rounds of 100 ms
    CBaseRTSPClient client;
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
