// Interleaved mode: RTP on the RTSP connection while the session is kept
// alive on the same connection.
#include <gtest/gtest.h>

#include "ClientFixture.h"
#include "InterleavedFrames.h"

using namespace dravnel;
using namespace quarnel::test;

// Frames stream without pause while OPTIONS goes out every 10 ms (session
// time-out 2 s, clock 100 times fast). Each OPTIONS reply arrives between
// two frames; read off the socket directly, it would take frame bytes with
// it. Every sequence number must arrive, in order.
TEST(ClientInterleaved, KeepAliveLosesNoFrame) {
    ScriptedRtspServer server([](const Request& r) { return CameraAnswer(r, "1234;timeout=2"); });
    RecordingUser user;
    CBaseRTSPClient client;
    client.SetClock(FastClock(100), 5);
    ASSERT_TRUE(client.StartClient(LocalSettings(server.Port()), &user, RTSPTransportMode::Interleaved));
    ASSERT_TRUE(server.WaitFor("PLAY", 1, 3000));

    constexpr uint16_t kFrames = 3000;
    for (uint16_t seq = 0; seq < kFrames; ++seq) {
        std::vector<uint8_t> bytes = Interleaved(0, RtpPacket(seq, std::string(200 + seq % 700, 'p')));
        if (seq % 7 == 0) Append(bytes, Interleaved(1, std::vector<uint8_t>(28, '$')));  // RTCP
        ASSERT_TRUE(server.Push(bytes)) << seq;
        if (seq % 20 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(user.WaitForPackets(kFrames, 5000)) << user.Sequences().size();
    client.StopClient();
    ASSERT_TRUE(server.WaitFor("TEARDOWN", 1, 1000));

    const auto sequences = user.Sequences();
    ASSERT_EQ(sequences.size(), kFrames);
    for (uint16_t seq = 0; seq < kFrames; ++seq) ASSERT_EQ(sequences[seq], seq);
    EXPECT_TRUE(server.WaitFor("OPTIONS", 5, 0));
    ASSERT_EQ(server.Methods().back(), "TEARDOWN");
    EXPECT_EQ(server.Requests().back().Header("Session"), "1234");
}

TEST(ClientInterleaved, ARefusedPlayEndsTheSession) {
    ScriptedRtspServer server([](const Request& r) -> std::vector<std::string> {
        if (r.method == "PLAY") return {ScriptedRtspServer::Reply(r, "454 Session Not Found")};
        return CameraAnswer(r);
    });
    CBaseRTSPClient client;
    ASSERT_TRUE(client.StartClient(LocalSettings(server.Port()), nullptr, RTSPTransportMode::Interleaved));
    ASSERT_TRUE(WaitUntil([&] { return !client.IsRunning(); }, 3000));
    EXPECT_EQ(server.Methods(), (std::vector<std::string>{"DESCRIBE", "SETUP", "PLAY", "TEARDOWN"}));
    client.StopClient();
}

// The stream ends when the camera hangs up, and when it falls silent for the
// receive time-out.
TEST(ClientInterleaved, TheSessionEndsWithTheStream) {
    for (bool hangUp : {true, false}) {
        ScriptedRtspServer server([](const Request& r) { return CameraAnswer(r); });
        RecordingUser user;
        CBaseRTSPClient client;
        auto settings = LocalSettings(server.Port());
        settings.receiveTimeoutMs = 300;
        ASSERT_TRUE(client.StartClient(settings, &user, RTSPTransportMode::Interleaved));
        ASSERT_TRUE(server.WaitFor("PLAY", 1, 3000));
        ASSERT_TRUE(server.Push(Interleaved(0, RtpPacket(1))));
        ASSERT_TRUE(user.WaitForPackets(1, 2000));
        if (hangUp) server.CloseConnection();
        EXPECT_TRUE(WaitUntil([&] { return !client.IsRunning(); }, 2000)) << hangUp;
        client.StopClient();
    }
}

// A 401 to the keep-alive naming another scheme is answered by one more
// OPTIONS with that scheme, from the stream loop.
TEST(ClientInterleaved, KeepAliveChallengeIsAnswered) {
    ScriptedRtspServer server([](const Request& r) -> std::vector<std::string> {
        if (r.method == "OPTIONS" && r.Header("Authorization").empty())
            return {ScriptedRtspServer::Reply(r, "401 Unauthorized", "WWW-Authenticate: Basic realm=\"cam\"\r\n")};
        return CameraAnswer(r);
    });
    CBaseRTSPClient client;
    client.SetClock(platform::SystemTimeAsFileTime, 5);
    auto settings = LocalSettings(server.Port());
    settings.userName = "admin";
    settings.password = "secret";
    ASSERT_TRUE(client.StartClient(settings, nullptr, RTSPTransportMode::Interleaved));
    ASSERT_TRUE(server.WaitFor("PLAY", 1, 3000));
    ASSERT_TRUE(server.Push(Interleaved(0, RtpPacket(1))));  // the first block triggers the keep-alive
    ASSERT_TRUE(server.WaitFor("OPTIONS", 2, 3000));
    client.StopClient();
    ASSERT_TRUE(server.WaitFor("TEARDOWN", 1, 1000));
    const auto requests = server.Requests();
    EXPECT_EQ(requests[3].Header("Authorization"), "");
    EXPECT_EQ(requests[4].method, "OPTIONS");
    EXPECT_EQ(requests[4].Header("Authorization"), "Basic YWRtaW46c2VjcmV0");
    EXPECT_EQ(requests.back().method, "TEARDOWN");
}
