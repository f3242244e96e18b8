// The simulated camera's video settings (the replies of its video page are
// read by the driver's probes and channels against the whole camera): the
// checks of set requests (all applied or none), the two device profiles and
// the RTSP media each stream maps to; and the pages over HTTP, and how they
// drive the RTSP side's stream configuration (the RTSP server is not started:
// its configuration is what the next start or DESCRIBE gets).
#include <gtest/gtest.h>

#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "sim/device/VideoDevice.h"
#include "sim/device/VistaMpegDevice.h"
#include "tests/sim/SimTestSupport.h"

namespace dravnel::sim {
namespace {

// "a=1&b=2" as the web server hands a query over (already decoded).
QueryParams Query(const std::string& text) {
    QueryParams params;
    std::istringstream entries(text);
    for (std::string entry; std::getline(entries, entry, '&');) {
        const size_t eq = entry.find('=');
        if (!entry.empty()) params.emplace(entry.substr(0, eq), eq == std::string::npos ? "" : entry.substr(eq + 1));
    }
    return params;
}

std::string Get(const VideoSettings& settings, const std::string& query) {
    return settings.AnswerGet(Query("app=get&" + query));
}

TEST(VideoSettings, StandardSetAppliesEveryValueAndMapsTheStreamToRtsp) {
    VideoSettings settings(DeviceProfile::Standard, 1, false);
    // The request a standard device gets from the driver's H.264 channel.
    const auto result =
        settings.ApplySet(Query("app=set&ch=1&ch1_strm1_codec=MPEG4SP&ch1_strm1_res=720P&"
                                "ch1_strm1_bitrate=2000&ch1_strm1_ratecontrol=cbr&"
                                "ch1_strm1_fps=15&ch1_strm1_gov=15"));
    ASSERT_TRUE(result.accepted) << result.reason;
    EXPECT_EQ(result.changed, (std::vector<std::pair<unsigned, unsigned>>{{1, 1}}));
    EXPECT_NE(Get(settings, "ch=1")
                  .find("&ch1_strm1_codec=MPEG4SP&ch1_strm1_res=720P&ch1_strm1_bitrate=2000&"
                        "ch1_strm1_ratecontrol=cbr&ch1_strm1_fps=15&ch1_strm1_gov=15&"),
              std::string::npos);
    EXPECT_EQ(settings.RtspConfig(1, 1),
              (RtspStreamConfig{
                  .codec = RtspCodec::MPEG4, .width = 1280, .height = 720, .fps = 15, .bitrateKbps = 2000, .gop = 15}));

    ASSERT_TRUE(settings.ApplySet(Query("ch=1&ch1_strm2_res=VGA&ch1_strm2_quality=99&ch1_strm2_fps=5")).accepted);
    EXPECT_EQ(settings.RtspConfig(1, 2),
              (RtspStreamConfig{
                  .codec = RtspCodec::JPEG, .width = 640, .height = 480, .fps = 5, .gop = 5, .jpegQuality = 99}));

    // A set that changes nothing is still a success, with nothing to push.
    const auto same = settings.ApplySet(Query("app=set&ch=1&ch1_strm1_res=720P"));
    EXPECT_TRUE(same.accepted);
    EXPECT_TRUE(same.changed.empty());

    VideoSettings ntsc(DeviceProfile::Standard, 1, true);
    EXPECT_EQ(ntsc.RtspConfig(1, 1).height, 480u);  // 4CIF of NTSC
    ASSERT_TRUE(ntsc.ApplySet(Query("ch=1&ch1_strm1_res=CIFN&ch1_strm1_fps=30")).accepted);
    EXPECT_EQ(ntsc.RtspConfig(1, 1),
              (RtspStreamConfig{
                  .codec = RtspCodec::H264, .width = 352, .height = 240, .fps = 30, .bitrateKbps = 3000, .gop = 30}));

    // Limits that allow more than the encoder takes: the device refuses the
    // value rather than accepting what it cannot stream.
    ASSERT_TRUE(settings.RemoveValue(1, 1, "fps_list"));
    ASSERT_TRUE(settings.SetValue(1, 1, "maxfps", "90"));
    const auto unstreamable = settings.ApplySet(Query("ch=1&ch1_strm1_fps=61"));
    EXPECT_FALSE(unstreamable.accepted);
    EXPECT_NE(unstreamable.reason.find("stream 1 cannot be encoded: frame rate 61"), std::string::npos)
        << unstreamable.reason;
}

// Every kind of bad value is answered with a refusal that names it, and
// leaves every value as it was, the valid ones of the same request included.
TEST(VideoSettings, BadValuesAreRefusedAndChangeNothing) {
    struct Case {
        DeviceProfile profile;
        const char* query;   // after "app=set&"
        const char* reason;  // part of the refusal
    };
    constexpr auto kStd = DeviceProfile::Standard;
    constexpr auto kB = DeviceProfile::ModelB;
    const Case cases[] = {
        {kStd, "ch=1&ch1_strm1_codec=H265", "ch1_strm1_codec=H265: not a codec of codec_list"},
        {kStd, "ch=1&ch1_strm1_codec=h264mp", "codec_list"},  // lists are case-sensitive
        {kStd, "ch=1&ch1_strm1_res=9CIF", "ch1_strm1_res=9CIF: not a size of res_list"},
        {kStd, "ch=1&ch1_strm1_res=UXGA", "res_list"},  // a known name the camera does not list
        {kStd, "ch=1&ch1_strm1_bitrate=4001", "not a bit rate from 16 to 4000"},  // above maxbr
        {kStd, "ch=1&ch1_strm1_bitrate=15", "bit rate"},                          // below the least
        {kStd, "ch=1&ch1_strm1_bitrate=99999999999", "bit rate"},                 // beyond any unsigned
        {kStd, "ch=1&ch1_strm1_ratecontrol=abr", "not cbr or vbr"},
        {kStd, "ch=1&ch1_strm1_fps=7", "not a frame rate of fps_list"},
        {kStd, "ch=1&ch1_strm1_gov=0", "not a GOV length"},
        {kStd, "ch=1&ch1_strm2_quality=101", "not a quality from 1 to 100"},
        {kStd, "ch=1&ch1_strm1_maxbr=8000", "ch1_strm1_maxbr: read-only"},
        {kStd, "ch=1&ch1_strm1_quality=50", "ch1_strm1_quality: not reported by the device"},
        {kStd, "ch=1&ch1_strm3_codec=H264MP", "not a value of this channel"},
        {kStd, "ch=1&ch2_strm1_codec=H264MP", "not a value of this channel"},
        {kStd, "ch=1&ch1_strm1codec=H264MP", "not a value of this channel"},
        {kStd, "ch1_strm1_res=CIF", "ch is missing or names no channel"},
        {kStd, "ch=01x", "ch is missing"},
        // Valid values do not get through beside a bad one.
        {kStd, "ch=1&ch1_strm1_codec=MPEG4SP&ch1_strm1_res=CIF&ch1_strm1_fps=11", "ch1_strm1_fps=11"},
        {kStd, "ch=1&ch1_strm1_res=CIF&ch1_strm2_res=QQQVGA", "ch1_strm2_res=QQQVGA"},
        {kB, "ch=1&strm=1&ch1_strm1_res=4CIF", "res_list"},  // names are not sizes here
        {kB, "ch=1&strm=1&ch1_strm1_gov_struct=2", "ch1_strm1_gov_struct=2: not 0 or 1"},
        {kB, "ch=1&strm=1&ch1_strm2_en=0", "not a value of this channel and stream"},
        {kB, "ch=1&strm=3&ch1_strm1_fps=10", "strm names no stream"},
        {kB, "ch=1&strm=2&ch1_strm2_codec=JPEG", "codec_list"},  // Model B calls it MJPEG
        {kB, "ch=1&strm=2&ch1_strm2_vga=0", "ch1_strm2_vga: read-only"},
        {kB, "ch=1&strm=2&ch1_strm2_res=1920x1080", "larger than stream 1 allows"},
        // Stream 2 is checked against stream 1's new size.
        {kB, "ch=1&ch1_strm1_res=320x240&ch1_strm2_res=640x480", "ch1_strm2_res=640x480: larger"},
    };
    for (const Case& c : cases) {
        VideoSettings settings(c.profile, 1, false);
        const std::string before = Get(settings, "ch=1");
        const auto result = settings.ApplySet(Query(std::string("app=set&") + c.query));
        EXPECT_FALSE(result.accepted) << c.query;
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << c.query << ": " << result.reason;
        EXPECT_TRUE(result.changed.empty()) << c.query;
        EXPECT_EQ(Get(settings, "ch=1"), before) << c.query;
    }
}

// A get names one channel of the device and, if any, one stream of it.
TEST(VideoSettings, GetsOfNoChannelOrStreamAreRefused) {
    VideoSettings modelB(DeviceProfile::ModelB, 2, false);
    EXPECT_EQ(Get(modelB, "ch=2").find("ch1_"), std::string::npos);
    EXPECT_NE(Get(modelB, "ch=2").find("&ch2_strm2_en=1&"), std::string::npos);
    for (const char* bad : {"", "ch=0", "ch=3", "ch=1x", "ch=1&strm=0", "ch=1&strm=3", "ch=1&strm=one"})
        EXPECT_EQ(Get(modelB, bad), "res=400") << bad;
}

class VideoDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(web.Start()); }
    std::string Body(const std::string& target) {
        auto reply = dravnel::test::SimHttpGet(web.Port(), target);
        EXPECT_EQ(reply.status, 200) << target;
        return reply.body;
    }

    WebServer web;
    RtspServer rtsp{RtspServer::Options{.executable = dravnel::test::kSimRtspExecutable, .channels = 2}};
};

// A set over HTTP changes the stream or nothing (the settings reach the RTSP
// side from the start: Model B's defaults are shown with the whole camera).
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
    EXPECT_EQ(stream,
              (RtspStreamConfig{
                  .codec = RtspCodec::H264, .width = 352, .height = 288, .fps = 10, .bitrateKbps = 3000, .gop = 20}));

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

// Model B: one stream of one channel, on its own path; stream 2 may run
// larger once stream 1 does. (The driver's two passes over stream 1 are shown
// with the camera channel on the whole simulated camera.)
TEST_F(VideoDeviceTest, ModelBSetsOneStreamOnItsPathAndScalesStreamTwoFromStreamOne) {
    VideoDevice video(web, &rtsp, DeviceProfile::ModelB, 2, false);
    EXPECT_EQ(Body("/video/video.php?app=set&ch=2&strm=2&ch2_strm2_res=320x240"), "res=200");
    EXPECT_EQ(rtsp.Stream("/2/stream1")->width, 320u);
    EXPECT_EQ(rtsp.Stream("/1/stream1")->width, 640u);  // the other channel keeps its size

    EXPECT_EQ(video.Get(1, 2, "1080p"), "0");
    EXPECT_EQ(Body("/video/video.php?app=set&ch=1&strm=1&ch1_strm1_res=1920x1080"), "res=200");
    EXPECT_EQ(video.Get(1, 2, "1080p"), "1");
    EXPECT_EQ(Body("/video/video.php?app=set&ch=1&strm=2&ch1_strm2_en=1&ch1_strm2_codec=MJPEG&"
                   "ch1_strm2_res=1920x1080&ch1_strm2_bitrate=4000&ch1_strm2_fps=15"),
              "res=200");
    EXPECT_EQ(rtsp.Stream("/1/stream1"),
              (RtspStreamConfig{
                  .codec = RtspCodec::JPEG, .width = 1920, .height = 1080, .fps = 15, .bitrateKbps = 4000, .gop = 15}));
}

// Direct settings push what can be streamed; the pages outlive the device
// without touching the RTSP server.
TEST_F(VideoDeviceTest, DirectSettingsPushWhatCanBeStreamedAndThePagesOutliveTheDevice) {
    auto video = std::make_unique<VideoDevice>(web, &rtsp, DeviceProfile::Standard, 1, false);
    video->Set(1, 1, "res", "720P");
    EXPECT_EQ(rtsp.Stream("/1/stream1")->width, 1280u);
    EXPECT_EQ(video->SetRequestCount(), 0u);

    // A value no encoder takes stays on the page; the stream keeps its media.
    video->Set(1, 1, "fps", "0");
    EXPECT_EQ(video->Get(1, 1, "fps"), "0");
    EXPECT_EQ(rtsp.Stream("/1/stream1")->fps, 25u);
    EXPECT_EQ(video->Messages(),
              (std::vector<std::string>{"/1/stream1 keeps its media: frame rate 0: must be 1 to 60"}));

    video->Set(1, 1, "fps", "5");
    video->Remove(1, 1, "gov");
    EXPECT_EQ(rtsp.Stream("/1/stream1")->gop, 5u);
    EXPECT_EQ(Body("/video/video.php?app=get&ch=1").find("ch1_strm1_gov="), std::string::npos);

    video.reset();
    EXPECT_EQ(Body("/video/video.php?app=set&ch=1&ch1_strm1_res=CIF"), "res=200");
    EXPECT_EQ(rtsp.Stream("/1/stream1")->width, 1280u);
    EXPECT_NE(Body("/video/video.php?app=get&ch=1").find("&ch1_strm1_res=CIF&"), std::string::npos);
}

// The older Vista MPEG device's page: a set applies all its values to the
// MPEG-4 stream "/video" (which carries the alarm data) or, with one value
// the device does not take, nothing.
TEST_F(VideoDeviceTest, VistaMpegPageSetsTheVideoStreamOrNothing) {
    VistaMpegDevice device(web, &rtsp, false);
    EXPECT_EQ(Body("/admin/mpeg4.html?app=get"), "res=200&size=640x480&mpeg4_br=1000000&mpeg4_fps=25&mpeg4_gov=25");
    EXPECT_EQ(Body("/admin/mpeg4.html?app=set&size=720x576&mpeg4_br=3500000&mpeg4_fps=10&mpeg4_gov=10"), "res=200\r\n");
    EXPECT_EQ(rtsp.Stream("/video"), (RtspStreamConfig{.codec = RtspCodec::MPEG4,
                                                       .width = 720,
                                                       .height = 576,
                                                       .fps = 10,
                                                       .bitrateKbps = 3500,
                                                       .gop = 10,
                                                       .alarmData = true}));
    const char* refused[] = {
        "/admin/mpeg4.html?app=set&size=704x576&mpeg4_fps=5",  // not a size of the device
        "/admin/mpeg4.html?app=set&size=720x480",              // an NTSC size on a PAL device
        "/admin/mpeg4.html?app=set&mpeg4_br=9000000",
        "/admin/mpeg4.html?app=set&mpeg4_fps=0",
        "/admin/mpeg4.html?app=set&mpeg4_gov=x",
        "/admin/mpeg4.html?app=set&quality=5",
        "/admin/mpeg4.html?app=put",
    };
    for (const char* target : refused) {
        const auto reply = dravnel::test::SimHttpGet(web.Port(), target);
        EXPECT_EQ(reply.status, 400) << target;
        EXPECT_EQ(reply.body, "res=400\r\n") << target;
    }
    EXPECT_EQ(device.Get("size") + " " + device.Get("mpeg4_fps"), "720x576 10");
    EXPECT_EQ(device.SetRequests().size(), 7u);  // "app=put" is no set request
}

}  // namespace
}  // namespace dravnel::sim
