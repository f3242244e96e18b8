// The simulated camera's video settings: the replies of its video page, the
// checks of set requests (all applied or none), the two device profiles and
// the RTSP media each stream maps to.
#include <gtest/gtest.h>

#include <string>

#include "sim/device/SizeTable.h"
#include "sim/device/VideoSettings.h"

namespace quarnel::sim {
namespace {

// "a=1&b=2" as the web server hands a query over (already decoded).
QueryParams Query(const std::string& text) {
    QueryParams params;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        const std::string entry = text.substr(start, end - start);
        const size_t eq = entry.find('=');
        if (!entry.empty()) params.emplace(entry.substr(0, eq), eq == std::string::npos ? "" : entry.substr(eq + 1));
        start = end + 1;
    }
    return params;
}

std::string Get(const VideoSettings& settings, const std::string& query) {
    return settings.AnswerGet(Query("app=get&" + query));
}

TEST(SizeTable, NamesFollowTheVideoStandardAndThePreferredTable) {
    struct Case {
        const char* name;
        bool ntsc;
        FrameSize size;
    };
    const Case cases[] = {
        {"4CIF", false, {704, 576}}, {"4cif", true, {704, 480}},  {"2CIF", false, {704, 288}},
        {"CIF", true, {352, 240}},   {"QCIF", false, {176, 144}}, {"1080P", false, {1920, 1080}},
        {"UXGA", true, {1600, 1200}}, {"XGAPLUS", false, {1152, 864}}, {"QuadVGA", false, {1280, 960}},
        {"576P", true, {720, 576}},  {"CIFN", false, {352, 240}}, {"QQVGA", false, {160, 120}},
    };
    for (const Case& c : cases) {
        const auto size = SizeTable::SizeOfName(c.name, c.ntsc);
        ASSERT_TRUE(size) << c.name;
        EXPECT_EQ(*size, c.size) << c.name;
    }
    EXPECT_FALSE(SizeTable::SizeOfName("5CIF", false));
    EXPECT_FALSE(SizeTable::SizeOfName("", false));

    // 352x288 is "cif" in the CIF family and "cifp" in the general table;
    // 1280x960 has two general names and the first counts.
    EXPECT_EQ(SizeTable::NameOfSize({352, 288}, false, false), "cif");
    EXPECT_EQ(SizeTable::NameOfSize({352, 288}, false, true), "cifp");
    EXPECT_EQ(SizeTable::NameOfSize({352, 288}, true, false), "cifp");
    EXPECT_EQ(SizeTable::NameOfSize({1280, 960}, false, false), "960p");
    EXPECT_EQ(SizeTable::NameOfSize({704, 480}, true, true), "4cif");
    EXPECT_EQ(SizeTable::NameOfSize({704, 480}, false, true), "");
    EXPECT_EQ(SizeTable::NameOfSize({100, 100}, false, false), "");
}

TEST(SizeTable, DimensionsText) {
    EXPECT_EQ(SizeTable::ParseDimensions("704x576"), (FrameSize{704, 576}));
    EXPECT_EQ(SizeTable::ParseDimensions("1x9999"), (FrameSize{1, 9999}));
    for (const char* bad : {"", "x", "704x", "x576", "0x576", "704x0", "704X576", "704x576x", "10000x1", "-4x4",
                            " 704x576", "704 x576"})
        EXPECT_FALSE(SizeTable::ParseDimensions(bad)) << bad;
    EXPECT_EQ(SizeTable::FormatDimensions({1280, 720}), "1280x720");
}

TEST(VideoSettingsStandard, GetReportsEveryStreamOfTheChannelWhateverStrmSays) {
    VideoSettings settings(DeviceProfile::Standard, 2, false);
    const std::string reply = Get(settings, "ch=2");
    // Counts first, then stream 1's values, then stream 2's.
    EXPECT_EQ(reply.rfind("res=200&total_ch=2&total_strm=4&ch2_strm1_codec=H264MP&ch2_strm1_res=4CIF&"
                          "ch2_strm1_bitrate=3000&ch2_strm1_ratecontrol=vbr&ch2_strm1_fps=25&ch2_strm1_gov=25&"
                          "ch2_strm1_maxbr=4000&ch2_strm1_maxfps=25&ch2_strm1_fps_list=1|2|3|5|6|8|10|12|15|20|25&",
                          0),
              0u)
        << reply;
    EXPECT_NE(reply.find("&ch2_strm1_codec_list=H264MP|MPEG4SP&ch2_strm2_codec=JPEG&ch2_strm2_res=CIF&"
                         "ch2_strm2_quality=70&ch2_strm2_fps=10&ch2_strm2_maxfps=15&"),
              std::string::npos)
        << reply;
    EXPECT_EQ(reply.find("ch1_"), std::string::npos);
    EXPECT_EQ(Get(settings, "ch=2&strm=1"), reply);
    EXPECT_TRUE(reply.ends_with("&ch2_strm2_codec_list=JPEG"));  // no line end after the last entry

    for (const char* bad : {"", "ch=0", "ch=3", "ch=x", "ch=1x", "ch="}) EXPECT_EQ(Get(settings, bad), "res=400") << bad;
}

TEST(VideoSettingsStandard, SetAppliesEveryValueAndMapsTheStreamToRtsp) {
    VideoSettings settings(DeviceProfile::Standard, 1, false);
    // The request a standard device gets from the driver's H.264 channel.
    const auto result = settings.ApplySet(Query("app=set&ch=1&ch1_strm1_codec=MPEG4SP&ch1_strm1_res=720P&"
                                                "ch1_strm1_bitrate=2000&ch1_strm1_ratecontrol=cbr&"
                                                "ch1_strm1_fps=15&ch1_strm1_gov=15"));
    ASSERT_TRUE(result.accepted) << result.reason;
    EXPECT_EQ(result.changed, (std::vector<std::pair<unsigned, unsigned>>{{1, 1}}));
    EXPECT_EQ(settings.Value(1, 1, "codec"), "MPEG4SP");
    EXPECT_EQ(settings.Value(1, 1, "res"), "720P");
    EXPECT_EQ(settings.Value(1, 1, "ratecontrol"), "cbr");
    EXPECT_NE(Get(settings, "ch=1").find("&ch1_strm1_res=720P&ch1_strm1_bitrate=2000&ch1_strm1_ratecontrol=cbr&"
                                         "ch1_strm1_fps=15&ch1_strm1_gov=15&"),
              std::string::npos);

    EXPECT_EQ(settings.RtspPath(1, 1), "/1/stream1");
    EXPECT_EQ(settings.RtspConfig(1, 1), (RtspStreamConfig{.codec = RtspCodec::MPEG4, .width = 1280, .height = 720,
                                                           .fps = 15, .bitrateKbps = 2000, .gop = 15}));

    // The JPEG stream: size, quality and rate.
    ASSERT_TRUE(settings.ApplySet(Query("ch=1&ch1_strm2_res=VGA&ch1_strm2_quality=99&ch1_strm2_fps=5")).accepted);
    EXPECT_EQ(settings.RtspPath(1, 2), "/1/stream2");
    const RtspStreamConfig jpeg = settings.RtspConfig(1, 2);
    EXPECT_EQ(jpeg.codec, RtspCodec::JPEG);
    EXPECT_EQ(jpeg.width, 640u);
    EXPECT_EQ(jpeg.height, 480u);
    EXPECT_EQ(jpeg.fps, 5u);
    EXPECT_EQ(jpeg.jpegQuality, 99u);

    // A set that changes nothing is still a success, with nothing to push.
    const auto same = settings.ApplySet(Query("app=set&ch=1&ch1_strm1_res=720P"));
    EXPECT_TRUE(same.accepted);
    EXPECT_TRUE(same.changed.empty());
}

TEST(VideoSettingsStandard, NtscNamesAndRates) {
    VideoSettings settings(DeviceProfile::Standard, 1, true);
    EXPECT_EQ(settings.RtspConfig(1, 1).height, 480u);  // 4CIF of NTSC
    EXPECT_EQ(settings.RtspConfig(1, 1).fps, 30u);
    EXPECT_EQ(settings.Value(1, 1, "fps_list"), "1|2|3|5|6|8|10|12|15|20|25|30");
    EXPECT_TRUE(settings.ApplySet(Query("ch=1&ch1_strm1_res=CIFN&ch1_strm1_fps=30")).accepted);
    EXPECT_FALSE(settings.ApplySet(Query("ch=1&ch1_strm1_res=CIFP")).accepted);  // a PAL size
    EXPECT_EQ(settings.RtspConfig(1, 1).width, 352u);
    EXPECT_EQ(settings.RtspConfig(1, 1).height, 240u);
}

// Every kind of bad value is answered with a refusal that names it, and
// leaves every value as it was, the valid ones of the same request included.
TEST(VideoSettingsStandard, BadValuesAreRefusedAndChangeNothing) {
    struct Case {
        const char* query;
        const char* reason;  // part of the refusal
    };
    const Case cases[] = {
        {"ch1_strm1_codec=H265", "ch1_strm1_codec=H265: not a codec of codec_list"},
        {"ch1_strm1_codec=h264mp", "codec_list"},
        {"ch1_strm1_codec=JPEG", "codec_list"},  // a codec of stream 2 only
        {"ch1_strm1_res=9CIF", "ch1_strm1_res=9CIF: not a size of res_list"},
        {"ch1_strm1_res=4cif", "res_list"},
        {"ch1_strm1_res=UXGA", "res_list"},  // a known name the camera does not list
        {"ch1_strm1_res=704x576", "res_list"},
        {"ch1_strm1_bitrate=4001", "not a bit rate from 16 to 4000"},
        {"ch1_strm1_bitrate=15", "bit rate"},
        {"ch1_strm1_bitrate=2000k", "bit rate"},
        {"ch1_strm1_bitrate=", "bit rate"},
        {"ch1_strm1_bitrate=99999999999", "bit rate"},
        {"ch1_strm1_ratecontrol=abr", "not cbr or vbr"},
        {"ch1_strm1_ratecontrol=CBR", "not cbr or vbr"},
        {"ch1_strm1_fps=7", "not a frame rate of fps_list"},
        {"ch1_strm1_fps=30", "fps_list"},
        {"ch1_strm1_fps=0", "fps_list"},
        {"ch1_strm1_gov=0", "not a GOV length"},
        {"ch1_strm1_gov=1001", "GOV"},
        {"ch1_strm2_quality=0", "not a quality from 1 to 100"},
        {"ch1_strm2_quality=101", "quality"},
        {"ch1_strm2_fps=20", "fps_list"},  // above the JPEG stream's 15
        {"ch1_strm1_maxbr=8000", "ch1_strm1_maxbr: read-only"},
        {"ch1_strm1_fps_list=1|50", "read-only"},
        {"ch1_strm1_res_list=UXGA", "read-only"},
        {"ch1_strm2_bitrate=1000", "ch1_strm2_bitrate: not reported by the device"},
        {"ch1_strm1_quality=50", "not reported"},
        {"ch1_strm3_codec=H264MP", "not a value of this channel"},
        {"ch2_strm1_codec=H264MP", "not a value of this channel"},
        {"ch1_strm1_=1", "not a value"},
        {"ch1_strm1codec=H264MP", "not a value"},
        {"resolution=4CIF", "not a value"},
        // Valid values do not get through beside a bad one.
        {"ch1_strm1_codec=MPEG4SP&ch1_strm1_res=CIF&ch1_strm1_fps=11", "ch1_strm1_fps=11"},
        {"ch1_strm1_res=CIF&ch1_strm2_res=QQQVGA", "ch1_strm2_res=QQQVGA"},
    };
    VideoSettings settings(DeviceProfile::Standard, 1, false);
    const std::string before = Get(settings, "ch=1");
    for (const Case& c : cases) {
        const auto result = settings.ApplySet(Query(std::string("app=set&ch=1&") + c.query));
        EXPECT_FALSE(result.accepted) << c.query;
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << c.query << ": " << result.reason;
        EXPECT_TRUE(result.changed.empty()) << c.query;
        EXPECT_EQ(Get(settings, "ch=1"), before) << c.query;
    }
    for (const char* query : {"app=set&ch1_strm1_res=CIF", "app=set&ch=0&ch1_strm1_res=CIF",
                              "app=set&ch=2&ch1_strm1_res=CIF", "app=set&ch=01x"}) {
        EXPECT_FALSE(settings.ApplySet(Query(query)).accepted) << query;
        EXPECT_EQ(Get(settings, "ch=1"), before) << query;
    }
}

TEST(VideoSettingsStandard, TheLastOfARepeatedKeyCounts) {
    VideoSettings settings(DeviceProfile::Standard, 1, false);
    EXPECT_TRUE(settings.ApplySet(Query("ch=1&ch1_strm1_fps=7&ch1_strm1_fps=10")).accepted);
    EXPECT_EQ(settings.Value(1, 1, "fps"), "10");
    EXPECT_FALSE(settings.ApplySet(Query("ch=1&ch1_strm1_fps=10&ch1_strm1_fps=7")).accepted);
    EXPECT_EQ(settings.Value(1, 1, "fps"), "10");
}

TEST(VideoSettingsStandard, RemovedAndAddedValues) {
    VideoSettings settings(DeviceProfile::Standard, 1, false);
    // Without its list a value is checked against what the device knows.
    ASSERT_TRUE(settings.RemoveValue(1, 1, "fps_list"));
    EXPECT_EQ(Get(settings, "ch=1").find("strm1_fps_list"), std::string::npos);
    EXPECT_TRUE(settings.ApplySet(Query("ch=1&ch1_strm1_fps=7")).accepted);   // up to maxfps
    EXPECT_FALSE(settings.ApplySet(Query("ch=1&ch1_strm1_fps=26")).accepted);
    ASSERT_TRUE(settings.RemoveValue(1, 1, "res_list"));
    EXPECT_TRUE(settings.ApplySet(Query("ch=1&ch1_strm1_res=UXGA")).accepted);  // any name of the tables
    EXPECT_FALSE(settings.ApplySet(Query("ch=1&ch1_strm1_res=800x600")).accepted);

    // A value the device no longer reports cannot be set.
    ASSERT_TRUE(settings.RemoveValue(1, 1, "gov"));
    EXPECT_FALSE(settings.Value(1, 1, "gov"));
    EXPECT_FALSE(settings.ApplySet(Query("ch=1&ch1_strm1_gov=25")).accepted);
    EXPECT_EQ(settings.RtspConfig(1, 1).gop, 7u);  // follows the frame rate without it

    // One added for a test is reported last and can be set to anything.
    ASSERT_TRUE(settings.SetValue(1, 2, "mirror", "0"));
    EXPECT_TRUE(Get(settings, "ch=1").ends_with("&ch1_strm2_codec_list=JPEG&ch1_strm2_mirror=0"));
    EXPECT_TRUE(settings.ApplySet(Query("ch=1&ch1_strm2_mirror=on")).accepted);
    EXPECT_EQ(settings.Value(1, 2, "mirror"), "on");
    EXPECT_FALSE(settings.SetValue(1, 3, "mirror", "0"));
    EXPECT_FALSE(settings.SetValue(0, 1, "mirror", "0"));
}

TEST(VideoSettingsStandard, ASetThatCannotBeStreamedIsRefused) {
    VideoSettings settings(DeviceProfile::Standard, 1, false);
    // Limits that allow more than the encoder takes: the device refuses the
    // value rather than accepting what it cannot stream.
    ASSERT_TRUE(settings.SetValue(1, 1, "maxfps", "90"));
    ASSERT_TRUE(settings.RemoveValue(1, 1, "fps_list"));
    const auto result = settings.ApplySet(Query("ch=1&ch1_strm1_fps=61"));
    EXPECT_FALSE(result.accepted);
    EXPECT_NE(result.reason.find("stream 1 cannot be encoded: frame rate 61"), std::string::npos) << result.reason;
}

TEST(VideoSettingsModelB, StrmSelectsOneStreamAndSizesAreWrittenOut) {
    VideoSettings settings(DeviceProfile::ModelB, 1, false);
    const std::string first = Get(settings, "ch=1&strm=1");
    EXPECT_EQ(first.rfind("res=200&total_ch=1&total_strm=2&ch1_strm1_codec=H264MP&ch1_strm1_res=1280x720&"
                          "ch1_strm1_bitrate=3000&ch1_strm1_ratecontrol=vbr&ch1_strm1_fps=25&ch1_strm1_gov=25&"
                          "ch1_strm1_gov_struct=0&ch1_strm1_gop_struct=0&",
                          0),
              0u)
        << first;
    EXPECT_NE(first.find("&ch1_strm1_res_list=1920x1080|1280x1024|1280x960|1280x720|720x576|704x576|640x480|"
                         "352x288|320x240|176x144&ch1_strm1_codec_list=H264BP|H264MP&"),
              std::string::npos);
    EXPECT_EQ(first.find("ch1_strm2_"), std::string::npos);
    const std::string second = Get(settings, "ch=1&strm=2");
    EXPECT_EQ(second.rfind("res=200&total_ch=1&total_strm=2&ch1_strm2_en=1&ch1_strm2_codec=MJPEG&"
                           "ch1_strm2_res=640x480&ch1_strm2_bitrate=2000&",
                           0),
              0u)
        << second;
    EXPECT_EQ(second.find("ch1_strm1_"), std::string::npos);
    const std::string both = Get(settings, "ch=1");
    EXPECT_NE(both.find("ch1_strm1_"), std::string::npos);
    EXPECT_NE(both.find("ch1_strm2_"), std::string::npos);
    for (const char* bad : {"ch=1&strm=0", "ch=1&strm=3", "ch=1&strm=", "ch=1&strm=one"})
        EXPECT_EQ(Get(settings, bad), "res=400") << bad;

    EXPECT_EQ(settings.RtspPath(1, 1), "/1/stream0");
    EXPECT_EQ(settings.RtspPath(1, 2), "/1/stream1");
    EXPECT_EQ(settings.RtspConfig(1, 2).codec, RtspCodec::JPEG);

    // The driver's first pass, then its second one.
    ASSERT_TRUE(settings
                    .ApplySet(Query("app=set&ch=1&strm=1&ch1_strm1_codec=H264BP&ch1_strm1_res=704x576&"
                                    "ch1_strm1_ratecontrol=cbr"))
                    .accepted);
    const auto second_pass = settings.ApplySet(Query("app=set&ch=1&strm=1&ch1_strm1_gop_struct=1&"
                                                     "ch1_strm1_gov_struct=1&ch1_strm1_fps=15&ch1_strm1_gov=15&"
                                                     "ch1_strm1_bitrate=2000"));
    ASSERT_TRUE(second_pass.accepted) << second_pass.reason;
    EXPECT_EQ(settings.RtspConfig(1, 1), (RtspStreamConfig{.codec = RtspCodec::H264, .width = 704, .height = 576,
                                                           .fps = 15, .bitrateKbps = 2000, .gop = 15}));
    EXPECT_EQ(settings.Value(1, 1, "gov_struct"), "1");

    const char* refused[] = {
        "app=set&ch=1&strm=1&ch1_strm1_res=4CIF",         // names are not sizes here
        "app=set&ch=1&strm=1&ch1_strm1_res=704x480",      // an NTSC size
        "app=set&ch=1&strm=1&ch1_strm1_codec=H264HP",     // not listed
        "app=set&ch=1&strm=1&ch1_strm1_gov_struct=2",     // 0 or 1
        "app=set&ch=1&strm=1&ch1_strm2_en=0",             // stream 2's value in a stream 1 request
        "app=set&ch=1&strm=3&ch1_strm1_fps=10",
        "app=set&ch=1&strm=2&ch1_strm2_en=2",
        "app=set&ch=1&strm=2&ch1_strm2_codec=JPEG",       // Model B calls it MJPEG
        "app=set&ch=1&strm=2&ch1_strm2_vga=0",            // availability is read-only
    };
    const std::string before = Get(settings, "ch=1");
    for (const char* query : refused) {
        EXPECT_FALSE(settings.ApplySet(Query(query)).accepted) << query;
        EXPECT_EQ(Get(settings, "ch=1"), before) << query;
    }
}

// Stream 2 of a Model B device is scaled from stream 1's picture: it lists
// per size whether it can run it, and refuses a larger size until stream 1
// runs at least that large.
TEST(VideoSettingsModelB, StreamTwoSizesFollowStreamOne) {
    VideoSettings settings(DeviceProfile::ModelB, 1, false);
    const std::string second = Get(settings, "ch=1&strm=2");
    EXPECT_NE(second.find("&ch1_strm2_codec_list=MJPEG&ch1_strm2_1080p=0&ch1_strm2_sxga=0&ch1_strm2_960p=0&"
                          "ch1_strm2_720p=1&ch1_strm2_576p=1&ch1_strm2_4cif=1&ch1_strm2_vga=1&ch1_strm2_cifp=1&"
                          "ch1_strm2_qvga=1&ch1_strm2_qcif=1"),
              std::string::npos)
        << second;
    EXPECT_NE(Get(settings, "ch=1&strm=1").find("&ch1_strm1_1080p=1&"), std::string::npos);
    EXPECT_EQ(settings.Value(1, 2, "1080p"), "0");

    const auto refused = settings.ApplySet(Query("app=set&ch=1&strm=2&ch1_strm2_res=1920x1080"));
    EXPECT_FALSE(refused.accepted);
    EXPECT_NE(refused.reason.find("larger than stream 1 allows"), std::string::npos) << refused.reason;

    ASSERT_TRUE(settings.ApplySet(Query("app=set&ch=1&strm=1&ch1_strm1_res=1920x1080")).accepted);
    EXPECT_EQ(settings.Value(1, 2, "1080p"), "1");
    ASSERT_TRUE(settings
                    .ApplySet(Query("app=set&ch=1&strm=2&ch1_strm2_en=1&ch1_strm2_codec=MJPEG&"
                                    "ch1_strm2_res=1920x1080&ch1_strm2_bitrate=4000&ch1_strm2_fps=15"))
                    .accepted);
    EXPECT_EQ(settings.RtspConfig(1, 2), (RtspStreamConfig{.codec = RtspCodec::JPEG, .width = 1920, .height = 1080,
                                                           .fps = 15, .bitrateKbps = 4000, .gop = 15}));

    // Both streams in one request: stream 2 is checked against stream 1's new size.
    ASSERT_TRUE(settings.ApplySet(Query("app=set&ch=1&ch1_strm1_res=640x480&ch1_strm2_res=320x240")).accepted);
    EXPECT_FALSE(settings.ApplySet(Query("app=set&ch=1&ch1_strm1_res=320x240&ch1_strm2_res=640x480")).accepted);

    // A removed availability entry is no longer reported or looked at; one
    // set directly overrides the rule.
    settings.RemoveValue(1, 2, "vga");
    EXPECT_EQ(Get(settings, "ch=1&strm=2").find("strm2_vga"), std::string::npos);
    settings.SetValue(1, 2, "qvga", "0");
    EXPECT_EQ(settings.Value(1, 2, "qvga"), "0");
    EXPECT_FALSE(settings.ApplySet(Query("app=set&ch=1&strm=2&ch1_strm2_res=320x240&ch1_strm2_fps=5")).accepted);
}

TEST(VideoSettingsModelB, NtscSizes) {
    VideoSettings settings(DeviceProfile::ModelB, 1, true);
    EXPECT_NE(Get(settings, "ch=1&strm=1").find("|720x480|704x480|640x480|352x240|320x240|176x120&"),
              std::string::npos);
    EXPECT_NE(Get(settings, "ch=1&strm=2").find("&ch1_strm2_480p=1&ch1_strm2_4cif=1&ch1_strm2_vga=1&"
                                                "ch1_strm2_cifn=1&"),
              std::string::npos);
    EXPECT_TRUE(settings.ApplySet(Query("ch=1&strm=1&ch1_strm1_res=704x480&ch1_strm1_fps=30")).accepted);
}

}  // namespace
}  // namespace quarnel::sim
