// The simulated camera's video and network pages over HTTP, and how they
// drive the RTSP side's stream configuration (the RTSP server is not started:
// its configuration is what the next start or DESCRIBE gets).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "sim/device/VideoDevice.h"
#include "tests/sim/SimHttp.h"

namespace quarnel::sim {
namespace {

using quarnel::test::SimHttpGet;

RtspServer::Options Idle(unsigned channels) {
    RtspServer::Options options;
    options.executable = QUARNEL_BIN_DIR "/quarnel-sim-rtsp";
    options.channels = channels;
    return options;
}

class VideoDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(web.Start()); }
    std::string Body(const std::string& target) {
        auto reply = SimHttpGet(web.Port(), target);
        EXPECT_EQ(reply.status, 200) << target;
        return reply.body;
    }

    WebServer web;
    RtspServer rtsp{Idle(2)};
};

TEST_F(VideoDeviceTest, TheRtspSideMatchesTheSettingsFromTheStart) {
    VideoDevice video(web, &rtsp, DeviceProfile::Standard, 1, false);
    EXPECT_EQ(rtsp.Stream("/1/stream1"), (RtspStreamConfig{.codec = RtspCodec::H264, .width = 704, .height = 576,
                                                           .fps = 25, .bitrateKbps = 3000, .gop = 25}));
    EXPECT_EQ(rtsp.Stream("/1/stream2"), (RtspStreamConfig{.codec = RtspCodec::JPEG, .width = 352, .height = 288,
                                                           .fps = 10, .gop = 10, .jpegQuality = 70}));
    EXPECT_TRUE(video.Messages().empty());

    VideoDevice modelB(web, &rtsp, DeviceProfile::ModelB, 2, true);
    EXPECT_EQ(rtsp.Stream("/2/stream0"), (RtspStreamConfig{.codec = RtspCodec::H264, .width = 1280, .height = 720,
                                                           .fps = 30, .bitrateKbps = 3000, .gop = 30}));
    EXPECT_EQ(rtsp.Stream("/2/stream1")->codec, RtspCodec::JPEG);
    EXPECT_EQ(rtsp.Stream("/2/stream1")->width, 640u);
}

TEST_F(VideoDeviceTest, SetOverHttpChangesTheStreamOrNothing) {
    VideoDevice video(web, &rtsp, DeviceProfile::Standard, 1, false);
    EXPECT_EQ(Body("/video/video.php?app=get&ch=1").rfind("res=200&total_ch=1&total_strm=2&ch1_strm1_codec=", 0), 0u);

    EXPECT_EQ(Body("/video/video.php?app=set&ch=1&ch1_strm1_res=CIF&ch1_strm1_fps=10&ch1_strm1_gov=20"), "res=200");
    EXPECT_EQ(video.Get(1, 1, "res"), "CIF");
    auto stream = rtsp.Stream("/1/stream1");
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->width, 352u);
    EXPECT_EQ(stream->height, 288u);
    EXPECT_EQ(stream->fps, 10u);
    EXPECT_EQ(stream->gop, 20u);

    const std::string bad = "/video/video.php?app=set&ch=1&ch1_strm1_res=VGA&ch1_strm1_bitrate=9000";
    EXPECT_EQ(Body(bad), "res=400");
    EXPECT_EQ(video.Get(1, 1, "res"), "CIF");
    EXPECT_EQ(rtsp.Stream("/1/stream1"), stream);
    EXPECT_NE(video.LastRejection().find("ch1_strm1_bitrate=9000"), std::string::npos) << video.LastRejection();

    // A query with encoded characters reaches the checks decoded.
    EXPECT_EQ(Body("/video/video.php?app=set&ch=1&ch1_strm1_codec=MPEG4%53P"), "res=200");
    EXPECT_EQ(rtsp.Stream("/1/stream1")->codec, RtspCodec::MPEG4);

    EXPECT_EQ(Body("/video/video.php?app=put&ch=1"), "res=400");
    EXPECT_EQ(Body("/video/video.php"), "res=400");
    EXPECT_EQ(video.SetRequestCount(), 3u);
    EXPECT_EQ(video.SetRequests(),
              (std::vector<std::string>{"/video/video.php?app=set&ch=1&ch1_strm1_res=CIF&ch1_strm1_fps=10&ch1_strm1_gov=20",
                                        bad, "/video/video.php?app=set&ch=1&ch1_strm1_codec=MPEG4%53P"}));
}

TEST_F(VideoDeviceTest, ModelBSetsOneStreamAndItsPath) {
    VideoDevice video(web, &rtsp, DeviceProfile::ModelB, 2, false);
    const std::string second = Body("/video/video.php?app=get&ch=2&strm=2");
    EXPECT_EQ(second.rfind("res=200&total_ch=2&total_strm=4&ch2_strm2_en=1&ch2_strm2_codec=MJPEG&", 0), 0u) << second;
    EXPECT_EQ(Body("/video/video.php?app=set&ch=2&strm=1&ch2_strm1_codec=H264BP&ch2_strm1_res=640x480"), "res=200");
    EXPECT_EQ(rtsp.Stream("/2/stream0")->width, 640u);
    EXPECT_EQ(rtsp.Stream("/1/stream0")->width, 1280u);  // the other channel keeps its size
    EXPECT_EQ(Body("/video/video.php?app=set&ch=2&strm=2&ch2_strm2_res=704x576"), "res=400");  // above stream 1
    EXPECT_EQ(Body("/video/video.php?app=set&ch=2&strm=2&ch2_strm2_res=320x240"), "res=200");
    EXPECT_EQ(rtsp.Stream("/2/stream1")->width, 320u);
}

TEST_F(VideoDeviceTest, NetworkPageNamesThePorts) {
    VideoDevice video(web, &rtsp, DeviceProfile::Standard, 1, false);
    EXPECT_EQ(Body("/system/network.php?app=get"),
              "res=200&ip_type=static&ip=127.0.0.1&netmask=255.0.0.0&gateway=127.0.0.1&http_port=80&rtsp_port=554");
    video.SetRtspPort(8554);
    video.SetHttpPort(8080);
    const std::string body = Body("/system/network.php?app=get");
    EXPECT_TRUE(body.ends_with("&http_port=8080&rtsp_port=8554")) << body;
    EXPECT_EQ(Body("/system/network.php?app=set&rtsp_port=1"), "res=400");
    EXPECT_TRUE(Body("/system/network.php?app=get").ends_with("&rtsp_port=8554"));
}

TEST_F(VideoDeviceTest, DirectSettingsPushWhatCanBeStreamed) {
    VideoDevice video(web, &rtsp, DeviceProfile::Standard, 1, false);
    video.Set(1, 1, "res", "720P");
    EXPECT_EQ(rtsp.Stream("/1/stream1")->width, 1280u);
    EXPECT_EQ(video.SetRequestCount(), 0u);

    // A value no encoder takes stays on the page; the stream keeps its media.
    video.Set(1, 1, "fps", "0");
    EXPECT_EQ(video.Get(1, 1, "fps"), "0");
    EXPECT_EQ(rtsp.Stream("/1/stream1")->fps, 25u);
    ASSERT_EQ(video.Messages().size(), 1u);
    EXPECT_EQ(video.Messages()[0], "/1/stream1 keeps its media: frame rate 0: must be 1 to 60");

    video.Set(1, 1, "fps", "5");
    video.Remove(1, 1, "gov");
    EXPECT_EQ(rtsp.Stream("/1/stream1")->gop, 5u);
    EXPECT_EQ(video.Get(1, 1, "gov"), "");
    EXPECT_EQ(Body("/video/video.php?app=get&ch=1").find("ch1_strm1_gov="), std::string::npos);
    EXPECT_EQ(Body("/video/video.php?app=set&ch=1&ch1_strm1_gov=5"), "res=400");

    // Out of range: nothing happens.
    video.Set(2, 1, "res", "CIF");
    video.Set(1, 3, "res", "CIF");
    EXPECT_EQ(video.Get(2, 1, "res"), "");
}

TEST_F(VideoDeviceTest, ObserverHearsOfEverySet) {
    VideoDevice video(web, &rtsp, DeviceProfile::Standard, 1, false);
    std::vector<std::string> heard;
    std::mutex mutex;
    video.ObserveSets([&](const std::string& target, bool accepted, const std::string& reason) {
        std::lock_guard<std::mutex> lock(mutex);
        heard.push_back(target + (accepted ? " ok" : " refused: " + reason));
    });
    Body("/video/video.php?app=set&ch=1&ch1_strm1_fps=10");
    Body("/video/video.php?app=set&ch=1&ch1_strm1_fps=11");
    video.ObserveSets(nullptr);
    Body("/video/video.php?app=set&ch=1&ch1_strm1_fps=12");
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(heard, (std::vector<std::string>{
                         "/video/video.php?app=set&ch=1&ch1_strm1_fps=10 ok",
                         "/video/video.php?app=set&ch=1&ch1_strm1_fps=11 refused: ch1_strm1_fps=11: not a frame rate "
                         "of fps_list"}));
}

TEST_F(VideoDeviceTest, PagesOutliveTheDeviceWithoutTouchingTheRtspServer) {
    auto video = std::make_unique<VideoDevice>(web, &rtsp, DeviceProfile::Standard, 1, false);
    video.reset();
    EXPECT_EQ(Body("/video/video.php?app=set&ch=1&ch1_strm1_res=CIF"), "res=200");
    EXPECT_EQ(rtsp.Stream("/1/stream1")->width, 704u);
    EXPECT_NE(Body("/video/video.php?app=get&ch=1").find("&ch1_strm1_res=CIF&"), std::string::npos);
}

// Sets from several connections at once: the RTSP side ends with the
// configuration of the last set applied, never an older one.
TEST_F(VideoDeviceTest, ConcurrentSetsLeaveTheRtspSideInLine) {
    VideoDevice video(web, &rtsp, DeviceProfile::Standard, 1, false);
    const char* sizes[] = {"CIF", "4CIF", "VGA", "QCIF"};
    std::atomic<int> refused{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; ++t) {
        clients.emplace_back([&, t] {
            httplib::Client client("127.0.0.1", web.Port());
            for (int i = 0; i < 25; ++i) {
                auto result = client.Get(std::string("/video/video.php?app=set&ch=1&ch1_strm1_res=") +
                                         sizes[(t + i) % 4] + "&ch1_strm1_fps=" + (i % 2 ? "10" : "15"));
                if (!result || result->body != "res=200") ++refused;
            }
        });
    }
    for (auto& client : clients) client.join();
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(video.SetRequestCount(), 100u);
    EXPECT_EQ(rtsp.Stream("/1/stream1"), video.RtspConfig(1, 1));
}

}  // namespace
}  // namespace quarnel::sim
