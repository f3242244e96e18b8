// The session against malformed and hostile replies, and replies read whole
// however they are written.
#include <gtest/gtest.h>

#include <random>

#include "ClientFixture.h"

using namespace dravnel;
using namespace quarnel::test;

namespace {

std::string Garbage(size_t n) {
    std::mt19937 rng(7);
    std::string out;
    for (size_t i = 0; i < n; ++i) out += static_cast<char>(rng());
    return out + "\r\n\r\n";
}

}  // namespace

// Each ends the session after DESCRIBE, promptly, without waiting out the
// receive time-out.
TEST(Client, HostileDescribeRepliesFailTheRequestPromptly) {
    std::string endless = "RTSP/1.0 200 OK\r\n";
    for (int i = 0; i < 80; ++i) endless += "X-Pad: " + std::string(1000, 'p') + "\r\n";
    const std::string good = "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: " + std::to_string(kCameraSdp.size()) +
                             "\r\n\r\n" + kCameraSdp;
    const struct {
        std::string reply;
        bool closeAfter = false;  // the camera hangs up after answering
        size_t describes = 1;
    } cases[] = {
        {Garbage(300)},
        {endless},
        {"RTSP/1.0 200 OK\r\nContent-Length: 70000\r\n\r\n" + std::string(70000, 'v')},
        {"RTSP/1.0 200 OK\r\nContent-Length: 4294967296\r\n\r\n"},  // 0 in 32-bit arithmetic
        {good.substr(0, good.size() - 20), true},
        {"RTSP/1.0 200 OK\r\nCSeq: 1\r\n", true},
        // One retry for a challenge, none for a second one, and no TEARDOWN.
        {"RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"cam\", nonce=\"n\"\r\n\r\n", false, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.substr(0, 40));
        ScriptedRtspServer* self = nullptr;
        ScriptedRtspServer server([&](const Request& r) -> std::vector<std::string> {
            if (r.method != "DESCRIBE") return CameraAnswer(r);
            if (!c.closeAfter) return {c.reply};
            self->Push(c.reply);
            self->CloseConnection();
            return {};
        });
        self = &server;
        RecordingUser user;
        CBaseRTSPClient client;
        auto settings = LocalSettings(server.Port());
        settings.userName = "admin";
        settings.password = "wrong";
        settings.receiveTimeoutMs = 3000;
        const uint32_t start = platform::MonotonicMs();
        ASSERT_TRUE(client.StartClient(settings, &user, RTSPTransportMode::Udp));
        ASSERT_TRUE(WaitUntil([&] { return !client.IsRunning(); }, 2500)) << "waited out the receive time-out";
        EXPECT_LT(platform::MonotonicMs() - start, 2500u);
        EXPECT_EQ(server.Methods(), std::vector<std::string>(c.describes, "DESCRIBE"));
        EXPECT_TRUE(user.Configs().empty()) << "DESCRIBE passed";
        client.StopClient();
    }
}

// The DESCRIBE reply has a header block of 2 KiB whose Content-Base and
// Content-Length come after the first 512 bytes, written in 25 pieces; cut at
// 512 bytes it would lose both. The SETUP reply comes in one write with the
// PLAY reply behind it, which must be kept for PLAY, not dropped with the
// rest of the read. A good PLAY shows in the keep-alive that follows it.
TEST(Client, RepliesAreReadWholeHoweverTheyAreWritten) {
    std::string padding;
    for (int i = 0; i < 40; ++i) padding += "X-Padding-" + std::to_string(i) + ": " + std::string(40, 'x') + "\r\n";
    uint16_t port = 0;
    ScriptedRtspServer server([&](const Request& r) -> std::vector<std::string> {
        if (r.method == "DESCRIBE") {
            const std::string reply = ScriptedRtspServer::Reply(
                r, "200 OK", padding + "Content-Base: rtsp://127.0.0.1:" + std::to_string(port) + "/base/\r\n",
                kCameraSdp);
            std::vector<std::string> pieces;
            for (size_t at = 0; at < reply.size(); at += reply.size() / 25 + 1)
                pieces.push_back(reply.substr(at, reply.size() / 25 + 1));
            return pieces;
        }
        if (r.method == "SETUP") {
            Request next = r;
            ++next.cseq;
            return {CameraAnswer(r)[0] + ScriptedRtspServer::Reply(next, "200 OK", "Session: 1234\r\n")};
        }
        if (r.method == "PLAY") return {};  // already answered
        return CameraAnswer(r);
    });
    port = server.Port();
    RecordingUser user;
    CBaseRTSPClient client;
    client.SetClock(platform::SystemTimeAsFileTime, 5);
    ASSERT_TRUE(client.StartClient(LocalSettings(port), &user, RTSPTransportMode::Udp));
    ASSERT_TRUE(server.WaitFor("OPTIONS", 1, 3000));
    client.StopClient();
    const auto requests = server.Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[1].url, "rtsp://127.0.0.1:" + std::to_string(port) + "/base/trackID=1");
    EXPECT_EQ(requests[2].url, "rtsp://127.0.0.1:" + std::to_string(port) + "/base/");
    EXPECT_EQ(user.Configs().size(), 1u);
}
