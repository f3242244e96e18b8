// The whole simulated camera: start, stop and restart (ports kept, state
// kept, nothing left behind), start failures, and a set request changing what
// ffprobe receives.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/Socket.h"
#include "sim/device/SimCamera.h"
#include "tests/sim/SimHttp.h"
#include "tests/sim/SimTestSupport.h"

namespace quarnel::sim {
namespace {

using quarnel::test::FfProbe;
using quarnel::test::ProcessGone;
using quarnel::test::SimHttpGet;

SimCameraOptions TestOptions(DeviceProfile profile = DeviceProfile::Standard) {
    SimCameraOptions options;
    options.profile = profile;
    options.rtspExecutable = quarnel::test::kSimRtspExecutable;
    return options;
}

bool Accepts(uint16_t port) {
    platform::Socket socket;
    return socket.Create(platform::Socket::Kind::Tcp) && socket.Connect(htonl(INADDR_LOOPBACK), port, 5);
}

TEST(SimCamera, StopAndRestartKeepPortsAndStateAndLeaveNothingBehind) {
    const size_t threads = quarnel::test::ThreadCount();
    const size_t descriptors = quarnel::test::DescriptorCount();
    uint16_t webPort, rtspPort;
    int child;
    {
        SimCamera camera(TestOptions());
        ASSERT_TRUE(camera.Start()) << camera.LastError();
        webPort = camera.WebPort();
        rtspPort = camera.RtspPort();
        EXPECT_NE(webPort, camera.Web().Port());  // clients reach the pages through the gate
        EXPECT_TRUE(SimHttpGet(webPort, "/system/network.php?app=get")
                        .body.ends_with("&http_port=" + std::to_string(webPort) +
                                        "&rtsp_port=" + std::to_string(rtspPort)));
        const std::string config = SimHttpGet(webPort, "/config.txt").body;
        EXPECT_NE(config.find("rtsp_port=" + std::to_string(rtspPort) + "\r\n"), std::string::npos) << config;
        EXPECT_FALSE(camera.Start());  // already running

        EXPECT_EQ(SimHttpGet(webPort, "/video/video.php?app=set&ch=1&ch1_strm1_res=CIF").body, "res=200");
        camera.Device().SetUserText("res=200\r\nuser=operator\r\n");
        child = camera.Rtsp().ChildPid();

        ASSERT_TRUE(camera.Restart()) << camera.LastError();
        EXPECT_TRUE(ProcessGone(child));
        EXPECT_EQ(camera.WebPort(), webPort);
        EXPECT_EQ(camera.RtspPort(), rtspPort);
        EXPECT_TRUE(Accepts(rtspPort));
        EXPECT_NE(SimHttpGet(webPort, "/video/video.php?app=get&ch=1").body.find("&ch1_strm1_res=CIF&"),
                  std::string::npos);
        EXPECT_EQ(SimHttpGet(webPort, "/system/user.php?app=get").body, "res=200\r\nuser=operator\r\n");
        EXPECT_EQ(camera.Rtsp().Stream("/1/stream1")->width, 352u);

        child = camera.Rtsp().ChildPid();
        camera.Stop();
        EXPECT_FALSE(camera.Running());
        EXPECT_TRUE(ProcessGone(child));
        EXPECT_FALSE(Accepts(webPort));
        EXPECT_FALSE(Accepts(rtspPort));

        // An outage ends on the same ports.
        ASSERT_TRUE(camera.Start()) << camera.LastError();
        EXPECT_EQ(camera.WebPort(), webPort);
        EXPECT_EQ(camera.RtspPort(), rtspPort);
        EXPECT_EQ(SimHttpGet(webPort, "/video/video.php?app=get&ch=1").status, 200);
        child = camera.Rtsp().ChildPid();
    }
    EXPECT_TRUE(ProcessGone(child));
    EXPECT_EQ(quarnel::test::ThreadCount(), threads);
    EXPECT_EQ(quarnel::test::DescriptorCount(), descriptors);
    EXPECT_TRUE(quarnel::test::PortFree(webPort)) << webPort;
    EXPECT_TRUE(quarnel::test::PortFree(rtspPort)) << rtspPort;
}

// Whichever part cannot start, the camera says why and nothing runs.
TEST(SimCamera, StartFailuresSayWhyAndLeaveNothingRunning) {
    platform::Socket taken;
    ASSERT_TRUE(taken.Create(platform::Socket::Kind::Tcp));
    ASSERT_TRUE(taken.Bind(0, htonl(INADDR_LOOPBACK)) && taken.Listen());
    const uint16_t port = taken.LocalPort();
    const struct {
        std::function<void(SimCameraOptions&)> change;
        std::string error;
    } cases[] = {
        {[&](SimCameraOptions& o) { o.webPort = port; }, "HTTP: cannot listen on 127.0.0.1:" + std::to_string(port)},
        {[&](SimCameraOptions& o) { o.rtspPort = port; },
         "RTSP server: listen: cannot listen on 127.0.0.1:" + std::to_string(port)},
        {[](SimCameraOptions& o) { o.rtspExecutable = QUARNEL_BIN_DIR "/no-such-media-process"; },
         "RTSP server: cannot run " QUARNEL_BIN_DIR "/no-such-media-process"},
        {[](SimCameraOptions& o) {
             o.webAuth = WebAuth::Basic;
             o.user = "";
         },
         "authentication needs a user name"},
    };
    const size_t threads = quarnel::test::ThreadCount();
    for (const auto& c : cases) {
        SimCameraOptions options = TestOptions();
        c.change(options);
        SimCamera camera(options);
        EXPECT_FALSE(camera.Start());
        EXPECT_NE(camera.LastError().find(c.error), std::string::npos) << camera.LastError();
        EXPECT_FALSE(camera.Running());
        EXPECT_EQ(camera.Rtsp().ChildPid(), -1);
    }
    EXPECT_EQ(quarnel::test::ThreadCount(), threads);
}

// The streamed picture follows the video page: ffprobe, which knows nothing
// of the simulator, sees the size change that a set request made. Digest
// authentication guards both sides.
TEST(SimCamera, ASetChangesWhatTheRtspSideStreams) {
    SimCameraOptions options = TestOptions(DeviceProfile::ModelB);
    options.webAuth = WebAuth::Digest;
    options.rtspAuth = RtspServer::Auth::Digest;
    options.user = "viewer";
    options.password = "s3cret";
    SimCamera camera(options);
    ASSERT_TRUE(camera.Start()) << camera.LastError();
    const std::string url = camera.Rtsp().Url("/1/stream0", "viewer", "s3cret");
    EXPECT_EQ(camera.RtspUrl(1, 1), camera.Rtsp().Url("/1/stream0"));

    auto before = FfProbe(url);
    EXPECT_EQ(before["exit"], "0");
    EXPECT_EQ(before["codec_name"], "h264");
    EXPECT_EQ(before["width"], "1280");
    EXPECT_EQ(before["height"], "720");

    const std::string set = "/video/video.php?app=set&ch=1&strm=1&ch1_strm1_res=352x288";
    EXPECT_EQ(SimHttpGet(camera.WebPort(), set).status, 401);
    EXPECT_EQ(camera.Video().SetRequestCount(), 0u);
    EXPECT_EQ(SimHttpGet(camera.WebPort(), set, "viewer", "s3cret", true).body, "res=200");

    auto after = FfProbe(url);
    EXPECT_EQ(after["exit"], "0");
    EXPECT_EQ(after["width"], "352");
    EXPECT_EQ(after["height"], "288");
}

}  // namespace
}  // namespace quarnel::sim
