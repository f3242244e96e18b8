// The whole simulated camera: start, stop and restart (ports kept, state
// kept, nothing left behind), a set request changing what ffprobe receives,
// and authentication.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "platform/Socket.h"
#include "sim/device/SimCamera.h"
#include "tests/sim/SimHttp.h"
#include "tests/support/RunProgram.h"

namespace quarnel::sim {
namespace {

using namespace std::chrono_literals;
using quarnel::test::SimHttpGet;

size_t CountEntries(const char* directory) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++n;
    return n;
}

SimCameraOptions TestOptions(DeviceProfile profile = DeviceProfile::Standard) {
    SimCameraOptions options;
    options.profile = profile;
    options.rtspExecutable = QUARNEL_BIN_DIR "/quarnel-sim-rtsp";
    return options;
}

bool Accepts(uint16_t port) {
    platform::Socket socket;
    return socket.Create(platform::Socket::Kind::Tcp) && socket.Connect(htonl(INADDR_LOOPBACK), port, 5);
}

bool Free(uint16_t port) {
    platform::Socket socket;
    return socket.Create(platform::Socket::Kind::Tcp) && socket.SetReuseAddress(true) &&
           socket.Bind(port, htonl(INADDR_LOOPBACK)) && socket.Listen();
}

bool Gone(int pid) { return pid > 0 && kill(pid, 0) == -1 && errno == ESRCH; }

// ffprobe's view of a stream: codec_name, width, height.
std::map<std::string, std::string> FfProbe(const std::string& url) {
    auto run = quarnel::test::RunProgram(
        "/usr/bin/ffprobe",
        {"-v", "error", "-rtsp_transport", "tcp", "-timeout", "5000000", "-show_entries",
         "stream=codec_name,width,height", "-of", "default=noprint_wrappers=1", url},
        20000);
    std::map<std::string, std::string> fields{{"exit", std::to_string(run.exitCode)}};
    size_t start = 0;
    while (start < run.output.size()) {
        size_t end = run.output.find('\n', start);
        if (end == std::string::npos) end = run.output.size();
        const std::string line = run.output.substr(start, end - start);
        if (size_t eq = line.find('='); eq != std::string::npos) fields.emplace(line.substr(0, eq), line.substr(eq + 1));
        start = end + 1;
    }
    return fields;
}

TEST(SimCamera, StopAndRestartKeepPortsAndStateAndLeaveNothingBehind) {
    const size_t threads = CountEntries("/proc/self/task");
    const size_t descriptors = CountEntries("/proc/self/fd");
    uint16_t webPort, rtspPort;
    int firstChild, secondChild;
    {
        SimCamera camera(TestOptions());
        ASSERT_TRUE(camera.Start()) << camera.LastError();
        EXPECT_TRUE(camera.Running());
        webPort = camera.WebPort();
        rtspPort = camera.RtspPort();
        ASSERT_NE(webPort, 0);
        ASSERT_NE(rtspPort, 0);
        EXPECT_NE(webPort, camera.Web().Port());  // clients reach the pages through the gate
        EXPECT_EQ(camera.WebUrl(), "http://127.0.0.1:" + std::to_string(webPort));
        EXPECT_EQ(camera.RtspUrl(1, 2), "rtsp://127.0.0.1:" + std::to_string(rtspPort) + "/1/stream2");
        EXPECT_TRUE(SimHttpGet(webPort, "/system/network.php?app=get")
                        .body.ends_with("&http_port=" + std::to_string(webPort) +
                                        "&rtsp_port=" + std::to_string(rtspPort)));
        const std::string config = SimHttpGet(webPort, "/config.txt").body;
        EXPECT_NE(config.find("model=QSIM-100\r\n"), std::string::npos) << config;
        EXPECT_NE(config.find("rtsp_port=" + std::to_string(rtspPort) + "\r\n"), std::string::npos) << config;
        EXPECT_FALSE(camera.Start());  // already running
        EXPECT_NE(camera.LastError().find("running"), std::string::npos);

        EXPECT_EQ(SimHttpGet(webPort, "/video/video.php?app=set&ch=1&ch1_strm1_res=CIF").body, "res=200");
        camera.Device().SetUserText("res=200\r\nuser=operator\r\n");
        firstChild = camera.Rtsp().ChildPid();

        ASSERT_TRUE(camera.Restart()) << camera.LastError();
        EXPECT_TRUE(Gone(firstChild));
        secondChild = camera.Rtsp().ChildPid();
        EXPECT_NE(secondChild, firstChild);
        EXPECT_EQ(camera.WebPort(), webPort);
        EXPECT_EQ(camera.RtspPort(), rtspPort);
        EXPECT_TRUE(Accepts(rtspPort));
        EXPECT_NE(SimHttpGet(webPort, "/video/video.php?app=get&ch=1").body.find("&ch1_strm1_res=CIF&"),
                  std::string::npos);
        EXPECT_EQ(SimHttpGet(webPort, "/system/user.php?app=get").body, "res=200\r\nuser=operator\r\n");
        EXPECT_EQ(camera.Rtsp().Stream("/1/stream1")->width, 352u);
        EXPECT_GE(camera.Web().Log().size(), 5u);  // the log goes on across the restart

        camera.Stop();
        EXPECT_FALSE(camera.Running());
        EXPECT_TRUE(Gone(secondChild));
        EXPECT_FALSE(Accepts(webPort));
        EXPECT_FALSE(Accepts(rtspPort));
        camera.Stop();  // idempotent

        // An outage ends on the same ports.
        ASSERT_TRUE(camera.Start()) << camera.LastError();
        EXPECT_EQ(camera.WebPort(), webPort);
        EXPECT_EQ(camera.RtspPort(), rtspPort);
        EXPECT_EQ(SimHttpGet(webPort, "/video/video.php?app=get&ch=1").status, 200);
        secondChild = camera.Rtsp().ChildPid();
    }
    EXPECT_TRUE(Gone(secondChild));
    EXPECT_EQ(CountEntries("/proc/self/task"), threads);
    EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors);
    EXPECT_TRUE(Free(webPort)) << webPort;
    EXPECT_TRUE(Free(rtspPort)) << rtspPort;
}

TEST(SimCamera, StartFailsClearlyAndLeavesNothingRunning) {
    platform::Socket taken;
    ASSERT_TRUE(taken.Create(platform::Socket::Kind::Tcp));
    ASSERT_TRUE(taken.Bind(0, htonl(INADDR_LOOPBACK)) && taken.Listen());
    SimCameraOptions options = TestOptions();
    options.webPort = taken.LocalPort();
    SimCamera camera(options);
    EXPECT_FALSE(camera.Start());
    EXPECT_NE(camera.LastError().find("HTTP: cannot listen on 127.0.0.1:" + std::to_string(taken.LocalPort())),
              std::string::npos)
        << camera.LastError();
    EXPECT_FALSE(camera.Running());
    EXPECT_FALSE(camera.Rtsp().Running());
    EXPECT_EQ(camera.Rtsp().ChildPid(), -1);

    SimCameraOptions anonymous = TestOptions();
    anonymous.webAuth = WebAuth::Basic;
    anonymous.user = "";
    SimCamera refused(anonymous);
    EXPECT_FALSE(refused.Start());
    EXPECT_EQ(refused.LastError(), "authentication needs a user name");
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
    EXPECT_EQ(SimHttpGet(camera.WebPort(), set, "viewer", "wrong", true).status, 401);
    EXPECT_EQ(camera.Video().SetRequestCount(), 0u);
    EXPECT_EQ(SimHttpGet(camera.WebPort(), set, "viewer", "s3cret", true).body, "res=200");

    auto after = FfProbe(url);
    EXPECT_EQ(after["exit"], "0");
    EXPECT_EQ(after["width"], "352");
    EXPECT_EQ(after["height"], "288");
    EXPECT_NE(FfProbe(camera.Rtsp().Url("/1/stream0", "viewer", "wrong"))["exit"], "0");
}

}  // namespace
}  // namespace quarnel::sim
