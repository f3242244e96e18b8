// The simulated camera's video pages over HTTP, and how they drive the RTSP
// side's stream configuration (the RTSP server is not started: its
// configuration is what the next start or DESCRIBE gets).
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/device/VideoDevice.h"
#include "tests/sim/SimHttp.h"
#include "tests/sim/SimTestSupport.h"

namespace quarnel::sim {
namespace {

class VideoDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(web.Start()); }
    std::string Body(const std::string& target) {
        auto reply = quarnel::test::SimHttpGet(web.Port(), target);
        EXPECT_EQ(reply.status, 200) << target;
        return reply.body;
    }

    WebServer web;
    RtspServer rtsp{RtspServer::Options{.executable = quarnel::test::kSimRtspExecutable, .channels = 2}};
};

// Model B's defaults reaching the RTSP side are shown with the whole camera.
TEST_F(VideoDeviceTest, TheRtspSideMatchesTheSettingsFromTheStart) {
    VideoDevice video(web, &rtsp, DeviceProfile::Standard, 1, false);
    EXPECT_EQ(rtsp.Stream("/1/stream1"), (RtspStreamConfig{.codec = RtspCodec::H264, .width = 704, .height = 576,
                                                           .fps = 25, .bitrateKbps = 3000, .gop = 25}));
    EXPECT_EQ(rtsp.Stream("/1/stream2"), (RtspStreamConfig{.codec = RtspCodec::JPEG, .width = 352, .height = 288,
                                                           .fps = 10, .gop = 10, .jpegQuality = 70}));
}

// The observer hears of every set, applied or not, until it is removed.
TEST_F(VideoDeviceTest, SetOverHttpChangesTheStreamOrNothing) {
    VideoDevice video(web, &rtsp, DeviceProfile::Standard, 1, false);
    std::vector<std::string> heard;
    std::mutex mutex;
    video.ObserveSets([&](const std::string& target, bool accepted, const std::string& reason) {
        std::lock_guard<std::mutex> lock(mutex);
        heard.push_back(target + (accepted ? " ok" : " refused: " + reason));
    });
    const std::string good = "/video/video.php?app=set&ch=1&ch1_strm1_res=CIF&ch1_strm1_fps=10&ch1_strm1_gov=20";
    EXPECT_EQ(Body(good), "res=200");
    const auto stream = rtsp.Stream("/1/stream1");
    EXPECT_EQ(stream, (RtspStreamConfig{.codec = RtspCodec::H264, .width = 352, .height = 288, .fps = 10,
                                        .bitrateKbps = 3000, .gop = 20}));

    const std::string bad = "/video/video.php?app=set&ch=1&ch1_strm1_res=VGA&ch1_strm1_bitrate=9000";
    EXPECT_EQ(Body(bad), "res=400");
    EXPECT_EQ(video.Get(1, 1, "res"), "CIF");
    EXPECT_EQ(rtsp.Stream("/1/stream1"), stream);
    EXPECT_EQ(video.LastRejection(), "ch1_strm1_bitrate=9000: not a bit rate from 16 to 4000");
    video.ObserveSets(nullptr);

    // A query with encoded characters reaches the checks decoded.
    const std::string encoded = "/video/video.php?app=set&ch=1&ch1_strm1_codec=MPEG4%53P";
    EXPECT_EQ(Body(encoded), "res=200");
    EXPECT_EQ(rtsp.Stream("/1/stream1")->codec, RtspCodec::MPEG4);

    EXPECT_EQ(Body("/video/video.php?app=put&ch=1"), "res=400");
    EXPECT_EQ(Body("/video/video.php"), "res=400");
    EXPECT_EQ(video.SetRequests(), (std::vector<std::string>{good, bad, encoded}));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(heard, (std::vector<std::string>{good + " ok", bad + " refused: " + video.LastRejection()}));
}

// Model B: one stream of one channel, on its own path.
TEST_F(VideoDeviceTest, ModelBSetsOneStreamOnItsPath) {
    VideoDevice video(web, &rtsp, DeviceProfile::ModelB, 2, false);
    EXPECT_EQ(Body("/video/video.php?app=set&ch=2&strm=2&ch2_strm2_res=320x240"), "res=200");
    EXPECT_EQ(rtsp.Stream("/2/stream1")->width, 320u);
    EXPECT_EQ(rtsp.Stream("/1/stream1")->width, 640u);  // the other channel keeps its size
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
    EXPECT_EQ(video.Messages(), (std::vector<std::string>{"/1/stream1 keeps its media: frame rate 0: must be 1 to 60"}));

    video.Set(1, 1, "fps", "5");
    video.Remove(1, 1, "gov");
    EXPECT_EQ(rtsp.Stream("/1/stream1")->gop, 5u);
    EXPECT_EQ(Body("/video/video.php?app=get&ch=1").find("ch1_strm1_gov="), std::string::npos);
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
