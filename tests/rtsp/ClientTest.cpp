// The RTSP session against a scripted camera: requests byte for byte,
// authentication, keep-alive timing, hostile and oddly written replies, RTP
// interleaved on the connection, connecting and stopping.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <set>
#include <thread>

#include "ClientFixture.h"
#include "rtsp/Md5.h"
#include "rtsp/RTSPAuthorization.h"
#ifdef __linux__
#include "tests/support/ThreadState.h"
#endif

using namespace dravnel;
using namespace dravnel::test;
using Request = ScriptedCamera::Request;
using Writes = ScriptedCamera::Writes;

namespace {

// Answers like a camera that needs no authentication. Only a DESCRIBE reply
// is read as a description: the others carry a body that would fail as one.
Writes CameraAnswer(const Request& r, const std::string& session = "1234;timeout=60") {
    if (r.method == "DESCRIBE")
        return {ScriptedCamera::Reply(r, "200 OK", "Content-Type: application/sdp\r\n", kCameraSdp)};
    const std::string id = r.method == "SETUP" ? session : session.substr(0, session.find(';'));
    return {ScriptedCamera::Reply(r, "200 OK", "Session: " + id + "\r\n", "a=fmtp:96 x\r\n")};
}

Writes Challenge(const Request& r, const std::string& challenge) {
    return {ScriptedCamera::Reply(r, "401 Unauthorized", "WWW-Authenticate: " + challenge + "\r\n")};
}

}  // namespace

// Basic in the settings. The first camera asks for Digest: one retry (CSeq 2)
// answers, and every later request carries the RFC 2617 digest over the base
// URL. The second session begins afresh (CSeq 1, Basic) with a camera that
// writes a DESCRIBE reply of 2 KiB header lines in 25 pieces (Content-Base
// and Content-Length after the first 512 bytes), the PLAY reply in the same
// write as SETUP's, and no TEARDOWN reply, which StopClient must not wait for.
TEST(Client, TwoSessions) {
    const std::string padding = "X-Padding: " + std::string(2000, 'x') + "\r\n";
    const std::string contentBase = "rtsp://127.0.0.1:1/base/";
    ScriptedCamera s([&](const Request& r) -> Writes {
        if (r.connection == 1 && r.Header("Authorization").rfind("Digest", 0) != 0)
            return Challenge(r, "Digest realm=\"cam\", nonce=\"abc123\"");
        if (r.connection == 1 || r.method == "OPTIONS") return CameraAnswer(r);
        if (r.method == "SETUP") return {CameraAnswer(r)[0] + "RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 1234\r\n\r\n"};
        if (r.method != "DESCRIBE") return {};  // PLAY already answered, TEARDOWN never
        const std::string reply =
            ScriptedCamera::Reply(r, "200 OK", padding + "Content-Base: " + contentBase + "\r\n", kCameraSdp);
        Writes pieces;
        for (size_t at = 0; at < reply.size(); at += reply.size() / 25 + 1)
            pieces.push_back(reply.substr(at, reply.size() / 25 + 1));
        return pieces;
    });
    s.settings.authScheme = AuthScheme::Basic;
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(s.WaitFor("PLAY", 1, 5000));
    s.client.StopClient();
    s.client.SetClock(platform::SystemTimeAsFileTime, 5);
    s.settings.receiveTimeoutMs = 5000;
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(s.WaitFor("OPTIONS", 1, 5000));
    const uint32_t start = platform::MonotonicMs();
    s.client.StopClient();
    EXPECT_LT(platform::MonotonicMs() - start, 2500u);
    EXPECT_FALSE(s.client.IsConnected());
    ASSERT_TRUE(s.WaitFor("TEARDOWN", 2, 1000));

    const std::string base = s.Base();
    const auto digest = [&](const std::string& method) {
        const std::string response = Md5Hex(Md5Hex("admin:cam:secret") + ":abc123:" + Md5Hex(method + ":" + base));
        return "Authorization: Digest username=\"admin\", realm=\"cam\", nonce=\"abc123\", uri=\"" + base +
               "\", response=\"" + response + "\"\r\n";
    };
    const std::string basic = "Authorization: Basic YWRtaW46c2VjcmV0\r\n";  // "admin:secret"
    const std::string describeTail = "User-Agent: Dravnel\r\nAccept: application/sdp\r\n\r\n";
    const auto requests = s.Requests();
    ASSERT_EQ(s.Methods(), (Writes{"DESCRIBE", "DESCRIBE", "SETUP", "PLAY", "TEARDOWN", "DESCRIBE", "SETUP", "PLAY",
                                   "OPTIONS", "TEARDOWN"}));
    EXPECT_EQ(requests[0].text, "DESCRIBE " + base + " RTSP/1.0\r\nCSeq: 1\r\n" + basic + describeTail);
    EXPECT_EQ(requests[1].text, "DESCRIBE " + base + " RTSP/1.0\r\nCSeq: 2\r\n" + digest("DESCRIBE") + describeTail);
    EXPECT_EQ(requests[2].text, "SETUP " + base + "/trackID=1 RTSP/1.0\r\nCSeq: 3\r\n" + digest("SETUP") +
                                    "Transport: RTP/AVP;unicast;client_port=5000-5001\r\nUser-Agent: Dravnel\r\n\r\n");
    EXPECT_EQ(requests[3].text, "PLAY " + base + " RTSP/1.0\r\nCSeq: 4\r\n" + digest("PLAY") +
                                    "Session: 1234\r\nRange: npt=0.000-\r\nUser-Agent: Dravnel\r\n\r\n");
    EXPECT_EQ(requests[4].text, "TEARDOWN " + base + " RTSP/1.0\r\nCSeq: 5\r\n" + digest("TEARDOWN") +
                                    "Session: 1234\r\nUser-Agent: Dravnel\r\n\r\n");
    EXPECT_EQ(requests[5].text, "DESCRIBE " + base + " RTSP/1.0\r\nCSeq: 1\r\n" + basic + describeTail);
    for (size_t i = 6; i < requests.size(); ++i) EXPECT_NE(requests[i].text.find(basic), std::string::npos) << i;
    EXPECT_EQ(requests[6].target, contentBase + "trackID=1");
    EXPECT_EQ(requests[7].target, contentBase);
    EXPECT_EQ(s.user.configs.size(), 2u);
}

// The SETUP request by content base, media control, transport mode and block
// size ("@" is the default base). The camera refuses it, or in interleaved
// mode the PLAY after it; TEARDOWN follows at once on the base URL.
TEST(Client, SetupRequest) {
    using Mode = RTSPTransportMode;
    const std::string base = "rtsp://10.0.0.5/stream/", video = "m=video 0 RTP/AVP 96\r\n";
    const std::string udp = "RTP/AVP;unicast;client_port=5000-5001";
    const struct {
        std::string contentBase, mediaLines;
        Mode mode;
        uint32_t blockSize;
        std::string url, transport, blocksize;
    } cases[] = {
        {base, video + "a=control:trackID=1\r\n", Mode::Udp, 0, base + "trackID=1", udp, ""},
        {base, video + "a=control:rtsp://10.0.0.9/x/track\r\n", Mode::Udp, 100, "rtsp://10.0.0.9/x/track", udp, ""},
        {base, video, Mode::Tcp, 1400, base, udp, "Blocksize: 1400\r\n"},
        {"", video + "a=control:/track\r\n", Mode::Udp, 0, "@/track", udp, ""},
        {"", "m=video 0\r\n", Mode::Udp, 0, "@", "RTP/AVP/UDP;unicast;client_port=5000-5001", ""},
        {"", "m=video 0\r\n", Mode::Tcp, 0, "@", "RTP/AVP/TCP;unicast;client_port=5000-5001", ""},
        {"", video + "a=control:trackID=1\r\n", Mode::Interleaved, 0, "@/trackID=1",
         "RTP/AVP/TCP;interleaved=0-1;unicast", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + " " + c.transport);
        const bool interleaved = c.mode == Mode::Interleaved;
        ScriptedCamera s([&](const Request& r) -> Writes {
            if (r.method == "DESCRIBE")
                return {ScriptedCamera::Reply(r, "200 OK",
                                              c.contentBase.empty() ? "" : "Content-Base: " + c.contentBase + "\r\n",
                                              "v=0\r\n" + c.mediaLines)};
            return {ScriptedCamera::Reply(r, r.method == (interleaved ? "PLAY" : "SETUP") ? "461 Refused" : "200 OK")};
        });
        s.settings.blockSize = c.blockSize;
        ASSERT_TRUE(s.Start(c.mode));
        ASSERT_TRUE(s.WaitFor("TEARDOWN", 1, 3000));
        const auto requests = s.Requests();
        ASSERT_EQ(s.Methods(), (interleaved ? Writes{"DESCRIBE", "SETUP", "PLAY", "TEARDOWN"}
                                            : Writes{"DESCRIBE", "SETUP", "TEARDOWN"}));
        const std::string url = c.url[0] == '@' ? s.Base() + c.url.substr(1) : c.url;
        EXPECT_EQ(requests[1].text, "SETUP " + url + " RTSP/1.0\r\nCSeq: 2\r\nTransport: " + c.transport +
                                        "\r\nUser-Agent: Dravnel\r\n" + c.blocksize + "\r\n");
        EXPECT_EQ(requests.back().method + " " + requests.back().target,
                  "TEARDOWN " + (c.contentBase.empty() ? s.Base() : c.contentBase));
    }
}

// OPTIONS once more than half the session time-out (default 60 s) has passed:
// at the interval exactly the ticks send nothing, a millisecond later they do.
// The first one's reply comes after the client gave up on it, with another
// session id: passed over by its CSeq, it answers none of the later ones.
TEST(Client, KeepAliveAtHalfTheSessionTimeoutPassesOverALateReply) {
    const struct {
        const char* session;
        uint64_t intervalMs;
    } cases[] = {{"1234;timeout=20", 10000}, {"1234", 30000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.session);
        ManualClock clock;
        platform::Event givenUp(platform::Event::Mode::Manual);
        ScriptedCamera s([&](const Request& r) -> Writes {
            if (r.method != "OPTIONS" || r.Header("CSeq") != "4") return CameraAnswer(r, c.session);
            givenUp.Wait(5000);
            return {ScriptedCamera::Reply(r, "200 OK", "Session: 9999\r\n")};
        });
        s.settings.receiveTimeoutMs = 200;
        s.client.SetClock(clock.Function(), 5);
        ASSERT_TRUE(s.Start());
        ASSERT_TRUE(s.WaitFor("OPTIONS", 1, 5000));  // at the first tick
        for (size_t sent = 1; sent <= 3; ++sent) {
            ASSERT_TRUE(clock.WaitReads(2));  // the time of the last one is taken
            givenUp.Set();
            clock.AdvanceMs(c.intervalMs);
            ASSERT_TRUE(clock.WaitReads(2));
            EXPECT_FALSE(s.WaitFor("OPTIONS", sent + 1, 0)) << "early after " << sent;
            clock.AdvanceMs(1);
            ASSERT_TRUE(s.WaitFor("OPTIONS", sent + 1, 5000)) << "none after " << sent;
        }
        ASSERT_TRUE(clock.WaitReads(2));
        s.client.StopClient();
        const auto requests = s.Requests();
        ASSERT_EQ(s.Methods(),
                  (Writes{"DESCRIBE", "SETUP", "PLAY", "OPTIONS", "OPTIONS", "OPTIONS", "OPTIONS", "TEARDOWN"}));
        for (size_t i = 0; i < requests.size(); ++i) {
            EXPECT_EQ(requests[i].Header("CSeq"), std::to_string(i + 1));
            EXPECT_EQ(requests[i].Header("Session"), i < 2 ? "" : "1234") << i;
        }
    }
}

// No host, or one that could carry a request line or header or change the
// URL, fails the start without a request; a full accept queue (the connect's
// rounds run out) and the abort event fail it in time; a camera that never
// answers DESCRIBE does not hold up StopClient for the receive time-out.
TEST(Client, ConnectingAndStoppingNeverWaitLong) {
    ScriptedCamera s([](const Request&) { return Writes{}; });
    for (const std::string host : {"", "127.0.0.1 RTSP/1.0\r\nX-Injected: 1\r\n", "127.0.0.1 ", "admin@127.0.0.1",
                                   "127.0.0.1/x", "127.0.0.1\"", "127.0.0.1%n", "h\xC3\xB6st"}) {
        s.settings.host = host;
        EXPECT_FALSE(s.Start()) << host;
    }
    EXPECT_TRUE(s.Requests().empty());
    s.settings.host = "127.0.0.1";

    CBaseRTSPClient client;
    platform::Socket listener;
    ASSERT_TRUE(listener.Create(platform::Socket::Kind::Tcp) && listener.Bind(0, htonl(INADDR_LOOPBACK)) &&
                listener.Listen(0));
    platform::Socket filler;
    ASSERT_TRUE(filler.Create(platform::Socket::Kind::Tcp));
    ASSERT_TRUE(filler.Connect(htonl(INADDR_LOOPBACK), listener.LocalPort(), 2, 50));
    auto settings = LocalSettings(listener.LocalPort());
    settings.connectTimeoutMs = 300;  // three rounds of 100 ms
    uint32_t start = platform::MonotonicMs();
    EXPECT_FALSE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp));
    EXPECT_GE(platform::MonotonicMs() - start, 280u);
    EXPECT_LT(platform::MonotonicMs() - start, 2500u);

    settings.connectTimeoutMs = 5000;
    CManualEvent abort;
    platform::Thread aborter;
#ifdef __linux__
    const pid_t starter = gettid();
    aborter.Start([&] {  // once the start waits on the connection
        dravnel::test::WaitUntilSleepingIn(starter, dravnel::test::kPollCalls);
        abort.Set();
    });
#else
    aborter.Start([&] { abort.Set(); });  // before or during the wait
#endif
    start = platform::MonotonicMs();
    EXPECT_FALSE(client.StartClient(settings, nullptr, RTSPTransportMode::Udp, &abort));
    EXPECT_LT(platform::MonotonicMs() - start, 2500u);
    aborter.Join();

    s.settings.receiveTimeoutMs = 5000;
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(s.WaitFor("DESCRIBE", 1, 3000));
    start = platform::MonotonicMs();
    s.client.StopClient();
    EXPECT_LT(platform::MonotonicMs() - start, 2500u);
}

// Each ends the session after DESCRIBE, before the receive time-out and
// without a TEARDOWN.
TEST(Client, BadDescribeRepliesEndTheSessionPromptly) {
    const struct {
        std::string reply;
        bool closeAfter = false;
        size_t describes = 1;
    } cases[] = {
        {std::string("\x80\0\xff\x1bRTSP/9 \n\r\0", 14) + "\r\n\r\n"},  // garbage
        {"RTSP/1.0 200 OK\r\nX-Pad: " + std::string(70000, 'p')},       // a header block beyond the 64 KiB limit
        {"RTSP/1.0 200 OK\r\nContent-Length: 70000\r\n\r\n" + std::string(70000, 'v')},
        {"RTSP/1.0 200 OK\r\nContent-Length: 4294967296\r\n\r\n"},  // 0 in 32-bit arithmetic
        {"RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 100\r\n\r\nv=0\r\nm=video 0 RTP/AVP 96\r\n", true},
        {"RTSP/1.0 200 OK\r\nCSeq: 1\r\n", true},
        {"RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"cam\", nonce=\"n\"\r\n\r\n", false, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.substr(0, 40));
        ScriptedCamera s([&](const Request& r) {
            if (r.method != "DESCRIBE") return CameraAnswer(r);
            return c.closeAfter ? Writes{c.reply, ""} : Writes{c.reply};
        });
        s.settings.receiveTimeoutMs = 3000;
        ASSERT_TRUE(s.Start());
        ASSERT_TRUE(WaitUntil([&] { return !s.client.IsRunning(); }, std::chrono::milliseconds(2500)))
            << "waited out the receive time-out";
        EXPECT_EQ(s.Methods(), Writes(c.describes, "DESCRIBE"));
        EXPECT_TRUE(s.user.configs.empty()) << "DESCRIBE passed";
    }
}

// Digest with qop=auth and SHA-256 (RFC 7616) is answered in kind by every
// request, nc counting up and a new cnonce each time.
TEST(Client, DigestChallengeWithQopAndSha256IsAnsweredInKind) {
    const auto param = [](const std::string& header, const std::string& name) {
        std::smatch m;
        return std::regex_search(header, m, std::regex(name + "=\"?([^\",]*)")) ? m[1].str() : std::string();
    };
    std::atomic<int> refused{0};
    ScriptedCamera s([&](const Request& r) -> Writes {
        const std::string header = r.Header("Authorization");
        if (header.empty())
            return Challenge(r,
                             "Digest realm=\"cam\", nonce=\"n1\", qop=\"auth,auth-int\", algorithm=SHA-256, "
                             "opaque=\"op\"");
        const auto nc = static_cast<uint32_t>(std::stoul(param(header, "nc"), nullptr, 16));
        const AuthorizationInputs in{AuthScheme::Digest, "admin", "secret", "cam", "n1",
                                     "SHA-256",          "auth",  "op",     nc,    param(header, "cnonce")};
        if (param(header, "response") != DigestResponse(in, r.method, param(header, "uri")) ||
            param(header, "algorithm") != "SHA-256" || param(header, "opaque") != "op") {
            ++refused;
            return Challenge(r, "Digest realm=\"cam\", nonce=\"n1\"");
        }
        return CameraAnswer(r);
    });
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(s.WaitFor("PLAY", 1, 3000));
    s.client.StopClient();
    EXPECT_EQ(refused.load(), 0);
    const auto requests = s.Requests();
    ASSERT_GE(requests.size(), 4u);
    std::set<std::string> cnonces;
    for (size_t i = 1; i < 4; ++i) {
        const std::string header = requests[i].Header("Authorization");
        EXPECT_EQ(param(header, "nc"), "0000000" + std::to_string(i)) << header;
        cnonces.insert(param(header, "cnonce"));
    }
    EXPECT_EQ(cnonces.size(), 3u);
}

// A Content-Length 2 bytes beyond the body: at the receive time-out the
// reply is used as it arrived, with one warning for the client.
TEST(Client, ReplyShorterThanItsContentLengthIsParsedAsItArrived) {
    ScriptedCamera s([](const Request& r) -> Writes {
        if (r.method != "DESCRIBE") return CameraAnswer(r);
        return {
            ScriptedCamera::Reply(r, "200 OK", "Content-Length: " + std::to_string(kCameraSdp.size() + 2) + "\r\n") +
            kCameraSdp};
    });
    s.settings.receiveTimeoutMs = 200;
    for (size_t session = 1; session <= 2; ++session) {
        ASSERT_TRUE(s.Start());
        ASSERT_TRUE(s.WaitFor("PLAY", session, 3000)) << session;
        s.client.StopClient();
    }
    EXPECT_EQ(s.user.configs.size(), 2u);
    const auto lines = s.log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, kLevelWarning);
    EXPECT_EQ(
        lines[0].text,
        "dravnel::CBaseRTSPClient::ReceiveResponse: A reply of 127.0.0.1:" + std::to_string(s.settings.serverPort) +
            " carried " + std::to_string(kCameraSdp.size()) + " of the " + std::to_string(kCameraSdp.size() + 2) +
            " body bytes its Content-Length announced within the receive time-out; what "
            "arrived is used");
}

// Interleaved. PLAY's reply comes with frame 0; a 401 to the keep-alive is
// answered from the stream loop in the scheme it names. Then the camera
// streams 3000 frames while OPTIONS goes out every 10 ms (clock 100 times
// fast), each reply between two frames: every frame arrives, in order. Or it
// hangs up, or falls silent: the session ends.
TEST(ClientInterleaved, Sessions) {
    for (const std::string how : {"stream", "hang-up", "silence"}) {
        SCOPED_TRACE(how);
        const auto frame = Interleaved(0, RtpPacket(0));
        ScriptedCamera s([&](const Request& r) {
            if (r.method == "PLAY") return Writes{CameraAnswer(r)[0] + std::string(frame.begin(), frame.end())};
            if (r.method == "OPTIONS" && r.Header("Authorization").empty()) return Challenge(r, "Basic realm=\"c\"");
            if (r.method == "OPTIONS" && how == "hang-up") return Writes{CameraAnswer(r)[0], ""};
            return CameraAnswer(r, "1234;timeout=2");
        });
        s.settings.receiveTimeoutMs = 300;
        if (how == "stream") s.client.SetClock(FastClock(100), 5);
        ASSERT_TRUE(s.Start(RTSPTransportMode::Interleaved));
        ASSERT_TRUE(s.WaitFor("OPTIONS", 2, 3000));
        const uint16_t frames = how == "stream" ? 3000 : 1;
        for (uint16_t seq = 1; seq < frames; ++seq) {
            std::vector<uint8_t> bytes = Interleaved(0, RtpPacket(seq, std::string(200 + seq % 700, 'p')));
            if (seq % 7 == 0) bytes = Cat({bytes, Interleaved(1, std::vector<uint8_t>(28, '$'))});  // RTCP
            ASSERT_TRUE(s.Push({bytes.begin(), bytes.end()})) << seq;
            if (seq % 20 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_TRUE(s.user.WaitForPackets(frames, 5000)) << s.user.Count();
        if (how == "stream") s.client.StopClient();
        EXPECT_TRUE(WaitUntil([&] { return !s.client.IsRunning(); }, std::chrono::milliseconds(2000)));

        const auto requests = s.Requests();
        EXPECT_EQ(requests[3].method + " " + requests[3].Header("Authorization"), "OPTIONS ");
        EXPECT_EQ(requests[4].method + " " + requests[4].Header("Authorization"), "OPTIONS Basic YWRtaW46c2VjcmV0");
        ASSERT_EQ(s.user.sequences.size(), frames);
        for (uint16_t seq = 0; seq < frames; ++seq) ASSERT_EQ(s.user.sequences[seq], seq);
        if (how != "stream") continue;
        EXPECT_TRUE(s.WaitFor("OPTIONS", 7, 0));
        ASSERT_TRUE(s.WaitFor("TEARDOWN", 1, 1000));
        EXPECT_EQ(s.Methods().back() + " " + s.Requests().back().Header("Session"), "TEARDOWN 1234");
    }
}

// A camera that streams and answers nothing after PLAY, not even TEARDOWN:
// the stop reads for the reply within a bound of time or of bytes (the flood
// row's 10 s would be too long), then closes. A stop that never returns fails
// the test instead of hanging it.
TEST(ClientInterleaved, StopReturnsWhileTheCameraStreamsAndIgnoresTeardown) {
    const struct {
        const char* name;
        uint32_t boundMs;
        size_t boundBytes;
        size_t payload;
        uint32_t pauseMs;
    } cases[] = {
        {"trickle", 300, size_t(1) << 30, 200, 5},
        {"flood", 10000, 64 * 1024, 1400, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedCamera s([](const Request& r) { return r.method == "TEARDOWN" ? Writes{} : CameraAnswer(r); });
        s.client.SetStopReadBound(c.boundMs, c.boundBytes);
        ASSERT_TRUE(s.Start(RTSPTransportMode::Interleaved));
        ASSERT_TRUE(s.WaitFor("PLAY", 1, 3000));
        std::jthread camera([&](std::stop_token silence) {
            const auto frame = Interleaved(0, RtpPacket(1, std::string(c.payload, 'p')));
            const std::string bytes(frame.begin(), frame.end());
            while (!silence.stop_requested()) {
                if (!s.Push(bytes) || c.pauseMs) std::this_thread::sleep_for(std::chrono::milliseconds(c.pauseMs + 1));
            }
        });
        ASSERT_TRUE(s.user.WaitForPackets(5, 3000));
        platform::Event stopped(platform::Event::Mode::Manual);
        platform::Thread stopper;
        stopper.Start([&] {
            s.client.StopClient();
            stopped.Set();
        });
        const bool returned = stopped.Wait(3000);
        camera.request_stop();
        stopper.Join();
        camera.join();
        EXPECT_TRUE(returned) << "StopClient waited on while the camera streamed";
        EXPECT_FALSE(s.client.IsConnected());
        EXPECT_TRUE(s.WaitFor("TEARDOWN", 1, 3000));
    }
}
