// The whole simulated camera: a set request changing what ffprobe receives,
// stop and restart (ports kept, state kept, nothing left behind), and start
// failures; two fault switches of its web server; and the gate in front of
// that server, which relays both directions byte for byte, passes a half
// close on, and when it closes cuts every relayed connection and frees its
// port and threads (the camera's restarts show it reopened on its port).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "sim/device/SimCamera.h"
#include "sim/device/TcpGate.h"
#include "tests/sim/SimTestSupport.h"
#include "tests/support/WaitUntil.h"

namespace dravnel::sim {
namespace {

using namespace std::chrono_literals;
using dravnel::test::ConnectTo;
using dravnel::test::FfProbe;
using dravnel::test::ProcessGone;
using dravnel::test::ThreadCount;
using dravnel::test::WaitUntil;

// The streamed picture follows the video page: ffprobe, which knows nothing
// of the simulator, sees the size change that a set request made, with Digest
// authentication guarding both sides. A restart, and a stop and start, keep
// the ports and every setting; nothing remains once the camera is gone.
TEST(SimCamera, ASetChangesTheStreamAndRestartsKeepPortsAndStateAndLeaveNothingBehind) {
    const size_t threads = ThreadCount();
    const size_t descriptors = dravnel::test::DescriptorCount();
    const SimCameraOptions options{.profile = DeviceProfile::ModelB,
                                   .webAuth = WebAuth::Digest,
                                   .rtspAuth = RtspServer::Auth::Digest,
                                   .user = "viewer",
                                   .password = "s3cret",
                                   .rtspExecutable = dravnel::test::kSimRtspExecutable};
    uint16_t webPort, rtspPort;
    int child;
    {
        SimCamera camera(options);
        ASSERT_TRUE(camera.Start()) << camera.LastError();
        webPort = camera.WebPort();
        rtspPort = camera.RtspPort();
        const auto get = [&](const std::string& target) {
            return dravnel::test::SimHttpGet(webPort, target, "viewer", "s3cret");
        };
        EXPECT_NE(webPort, camera.Web().Port());  // clients reach the pages through the gate
        EXPECT_TRUE(
            get("/system/network.php?app=get")
                .body.ends_with("&http_port=" + std::to_string(webPort) + "&rtsp_port=" + std::to_string(rtspPort)));
        const std::string config = get("/config.txt").body;
        EXPECT_NE(config.find("rtsp_port=" + std::to_string(rtspPort) + "\r\n"), std::string::npos) << config;
        EXPECT_FALSE(camera.Start());  // already running

        const std::string url = camera.Rtsp().Url("/1/stream0", "viewer", "s3cret");
        auto before = FfProbe(url);
        EXPECT_EQ(before["exit"], "0");
        EXPECT_EQ(before["codec_name"], "h264");
        EXPECT_EQ(before["width"], "1280");
        EXPECT_EQ(before["height"], "720");
        const std::string set = "/video/video.php?app=set&ch=1&strm=1&ch1_strm1_res=352x288";
        EXPECT_EQ(dravnel::test::SimHttpGet(webPort, set).status, 401);
        EXPECT_EQ(camera.Video().SetRequestCount(), 0u);
        EXPECT_EQ(get(set).body, "res=200");
        auto after = FfProbe(url);
        EXPECT_EQ(after["exit"], "0");
        EXPECT_EQ(after["width"], "352");
        EXPECT_EQ(after["height"], "288");

        camera.Device().SetUserText("res=200\r\nuser=operator\r\n");
        child = camera.Rtsp().ChildPid();
        ASSERT_TRUE(camera.Restart()) << camera.LastError();
        EXPECT_TRUE(ProcessGone(child));
        EXPECT_EQ(camera.WebPort(), webPort);
        EXPECT_EQ(camera.RtspPort(), rtspPort);
        EXPECT_TRUE(ConnectTo(rtspPort).IsOpen());
        EXPECT_NE(get("/video/video.php?app=get&ch=1&strm=1").body.find("&ch1_strm1_res=352x288&"), std::string::npos);
        EXPECT_EQ(get("/system/user.php?app=get").body, "res=200\r\nuser=operator\r\n");
        EXPECT_EQ(camera.Rtsp().Stream("/1/stream0")->width, 352u);

        child = camera.Rtsp().ChildPid();
        camera.Stop();
        EXPECT_FALSE(camera.Running());
        EXPECT_TRUE(ProcessGone(child));
        EXPECT_FALSE(ConnectTo(webPort).IsOpen());
        EXPECT_FALSE(ConnectTo(rtspPort).IsOpen());

        // An outage ends on the same ports.
        ASSERT_TRUE(camera.Start()) << camera.LastError();
        EXPECT_EQ(camera.WebPort(), webPort);
        EXPECT_EQ(camera.RtspPort(), rtspPort);
        EXPECT_EQ(get("/video/video.php?app=get&ch=1").status, 200);
        child = camera.Rtsp().ChildPid();
    }
    EXPECT_TRUE(ProcessGone(child));
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(dravnel::test::DescriptorCount(), descriptors);
    EXPECT_TRUE(dravnel::test::PortFree(webPort)) << webPort;
    EXPECT_TRUE(dravnel::test::PortFree(rtspPort)) << rtspPort;
}

// Whichever part cannot start, the camera says why and nothing runs.
TEST(SimCamera, StartFailuresSayWhyAndLeaveNothingRunning) {
    platform::Socket taken;
    ASSERT_TRUE(taken.Create(platform::Socket::Kind::Tcp));
    ASSERT_TRUE(taken.Bind(0, htonl(INADDR_LOOPBACK)) && taken.Listen());
    const uint16_t port = taken.LocalPort();
    const std::string sim = dravnel::test::kSimRtspExecutable;
    const std::string missing = QUARNEL_BIN_DIR "/no-such-media-process";
    const struct {
        uint16_t webPort, rtspPort;
        std::string executable, user, error;
    } cases[] = {
        {port, 0, sim, "admin", "HTTP: cannot listen on 127.0.0.1:" + std::to_string(port)},
        {0, port, sim, "admin", "RTSP server: listen: cannot listen on 127.0.0.1:" + std::to_string(port)},
        {0, 0, missing, "admin", "RTSP server: cannot run " + missing},
        {0, 0, sim, "", "authentication needs a user name"},
    };
    const size_t threads = ThreadCount();
    for (const auto& c : cases) {
        SimCamera camera({.webAuth = WebAuth::Basic,
                          .user = c.user,
                          .webPort = c.webPort,
                          .rtspPort = c.rtspPort,
                          .rtspExecutable = c.executable});
        EXPECT_FALSE(camera.Start());
        EXPECT_NE(camera.LastError().find(c.error), std::string::npos) << camera.LastError();
        EXPECT_FALSE(camera.Running());
        EXPECT_EQ(camera.Rtsp().ChildPid(), -1);
    }
    EXPECT_EQ(ThreadCount(), threads);
}

// Everything until end of stream, `limit` bytes, or 3 s of silence.
std::string ReadAll(platform::Socket& socket, size_t limit = SIZE_MAX) {
    std::string text;
    while (text.size() < limit && dravnel::test::ReadSome(socket, text, 3000) == platform::IoStatus::Ok) continue;
    return text;
}

// Two of the web server's fault switches, seen by a plain client (the
// driver's senders meet the delay and the broken-off reply in their own
// tests): a given status, and a body that never ends.
TEST(SimWebServer, AnswersWithAGivenStatusOrAnEndlessBody) {
    WebServer web;
    ASSERT_TRUE(web.Start());
    web.SetPageText("/page", std::string(1000, 'x'));
    web.SetFaults({.status = 503});
    EXPECT_EQ(dravnel::test::SimHttpGet(web.Port(), "/page").status, 503);
    web.SetFaults({.endlessBody = true});
    platform::Socket client = ConnectTo(web.Port());
    ASSERT_TRUE(client.SendAll(std::string("GET /page HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")));
    EXPECT_GE(ReadAll(client, 5000).size(), 5000u);  // a fifth body, and the connection still open
}

TEST(TcpGate, RelaysAHalfCloseAndAMegabyteAndCloseCutsConnectionsAndLeavesNoThreadOrPort) {
    const size_t threads = ThreadCount();
    platform::Socket backend;
    ASSERT_TRUE(backend.Create(platform::Socket::Kind::Tcp) && backend.Bind(0, htonl(INADDR_LOOPBACK)) &&
                backend.Listen());
    const auto accept = [&] {
        return backend.WaitReadable(3000) == platform::IoStatus::Ok ? backend.Accept() : platform::Socket();
    };
    TcpGate gate;
    std::string error;
    ASSERT_TRUE(gate.Open(0, backend.LocalPort(), error)) << error;
    const uint16_t port = gate.Port();

    std::string large(1 << 20, '\0');
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>('a' + i % 23);
    std::string received;
    {
        std::jthread server([&] {
            platform::Socket peer = accept();
            received = ReadAll(peer);  // ends at the client's half close
            peer.SendAll(large);
        });
        platform::Socket client = ConnectTo(port);
        ASSERT_TRUE(client.IsOpen());
        ASSERT_TRUE(client.SendAll(std::string("hello")));
        client.ShutdownSend();
        const std::string answer = ReadAll(client);
        EXPECT_TRUE(answer == large) << answer.size() << " bytes";
    }
    EXPECT_EQ(received, "hello");
    EXPECT_TRUE(WaitUntil([&] { return gate.Relays() == 0; }));  // both directions ended: reaped

    platform::Socket client = ConnectTo(port);
    ASSERT_TRUE(client.IsOpen());
    platform::Socket peer = accept();
    ASSERT_TRUE(peer.IsOpen());
    ASSERT_TRUE(WaitUntil([&] { return gate.Relays() == 1; }));
    const auto start = std::chrono::steady_clock::now();
    gate.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(gate.IsOpen());
    EXPECT_EQ(ReadAll(client), "");  // cut: end of stream at once
    EXPECT_EQ(ReadAll(peer), "");
    EXPECT_FALSE(ConnectTo(port).IsOpen());  // refused
    EXPECT_EQ(ThreadCount(), threads);
}

}  // namespace
}  // namespace dravnel::sim
