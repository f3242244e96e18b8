// Identification and probing over scripted pages: which pages are asked in
// which order, and what the device is taken for.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "tests/properties/ScriptedCamera.h"
#include "tools/host/CapabilityRecorder.h"

namespace {

using dravnel::CameraResolution;
using dravnel::test::ScriptedCamera;
using dravnel::test::ScriptedPage;
using Pages = std::map<std::string, ScriptedPage>;
using Strings = std::vector<std::string>;

const std::string kUser = "/system/user.php?app=get";
const std::string kConfig = "/config.txt";
const std::string kVideo = "/video/video.php?app=get&ch=1&strm=1";
const std::string kAlarmIn = "/event/alarm_in.php?app=get";
const std::string kAlarmOut = "/event/alarm_out.php?app=get";
const std::string kPtz = "/device/ptz.php?app=get";
const std::string kOlderAlarm = "/admin/alarm.html?app=get";
const std::string kOlderEvent = "/admin/event.html?app=get";
const std::string kVideoPage = "res=200&total_ch=1&total_strm=2&ch1_strm1_codec_list=H264&ch1_strm1_res_list=VGA";

TEST(CameraProperties, RefusedLoginEndsTheQueryBeforeTheConfiguration) {
    ScriptedCamera camera({{kUser, {401, "401"}}, {kConfig, {200, "model=M\r\nOPTIONS=VMD\r\n"}}});
    uint32_t reason = 0;
    EXPECT_FALSE(camera.Query(&reason));
    EXPECT_EQ(reason, dravnel::kQueryRefused);
    EXPECT_EQ(camera.requests, Strings{kUser});
}

TEST(CameraProperties, IdentityFromTheConfiguration) {
    struct Row {
        const char* name;
        std::string config;
        std::string group, model, rawModel;
    };
    const Row rows[] = {
        {"customer model without customer or tool", "model_customer=VK-1\r\nmodel=eVK1\r\n", "Vista", "VK-1", "eVK1"},
        {"a Hitron tool", "tool=Hitron-Tool 2\r\nmodel=HX\r\n", "Hitron", "HX", ""},
        {"customer before tool", "customer=Acme\r\ntool=HITRON\r\nmodel=AX\r\n", "Acme", "AX", ""},
        {"name without model", "name=Cam 7\r\n", "Vista", "Cam 7", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedCamera camera({{kConfig, {200, row.config + "OPTIONS=VMD\r\n"}}, {kVideo, {200, kVideoPage}}});
        uint32_t reason = 0;
        ASSERT_TRUE(camera.Query(&reason));
        EXPECT_EQ(camera.groupName, row.group);
        EXPECT_EQ(camera.modelName, row.model);
        EXPECT_EQ(camera.rawModel, row.rawModel);
    }
}

TEST(CameraProperties, OptionWordsRunInByteOrderWithOneOutputProbe) {
    ScriptedCamera camera({{kConfig,
                            {200,
                             "model=M\r\nmac=00:0a:bc:00:00:01\r\ntotal_ch=1ch\r\ntv_mode=ntsc\r\n"
                             "rtsp_port=8554\r\nOPTIONS=alarm_out PTZ MANUAL_TRIGGER PTZ\r\n"}},
                           {kAlarmOut, {200, "res=200&alarm_out_enable=0"}},
                           {kPtz, {200, "res=200&ptz_count=1&ptz1_enable=1"}},
                           {kVideo, {200, kVideoPage}}});
    uint32_t reason = 0;
    ASSERT_TRUE(camera.Query(&reason));
    EXPECT_EQ(camera.requests, (Strings{kUser, kConfig, kAlarmOut, kPtz, kVideo}));
    EXPECT_EQ(camera.alarmOutputCount, 1u);
    EXPECT_EQ(camera.deviceVideoStandard, 1u);
    EXPECT_EQ(camera.rtspPort, 8554u);
    EXPECT_TRUE(camera.hasPtz);
    EXPECT_TRUE(camera.hasDevicePtzOptions);

    dravnel::host::CapabilityRecorder recorder;
    ASSERT_TRUE(camera.WriteProperties(&recorder));
    const auto properties = recorder.properties();
    ASSERT_EQ(properties.size(), 9u);
    EXPECT_EQ(properties[6].value,
              "Pan=1; Tilt=1; Zoom=1; Focus=1; Iris=1; Center=0; Unzoom=0; AreaZoom=0; Preset=256");
    EXPECT_EQ(properties[7].value, "Vista_00:0A:BC:00:00:01.preset");
    EXPECT_EQ(properties[8].value, "1");
}

TEST(CameraProperties, ProbesTakeAMissingPageForAnAbsentFeatureAndSilenceForFailure) {
    struct Row {
        const char* name;
        ScriptedPage alarmIn;
        ScriptedPage ptz;
        bool found;
        uint32_t inputs;
        bool hasPtz;
    };
    const Row rows[] = {
        {"count entry",
         {200, "res=200&alarm_in_count=4&alarm_in_1_enable=1"},
         {200, "res=200&ptz_count=2"},
         true,
         4,
         false},
        {"numbered entries",
         {200, "alarm_in_1_enable=1&alarm_in_2_enable=0&alarm_in_4_enable=1"},
         {400, ""},
         true,
         2,
         true},
        {"missing pages", {404, ""}, {200, "res=400"}, true, 0, true},
        {"silent alarm page", {0, ""}, {404, ""}, false, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedCamera camera({{kConfig, {200, "model=M\r\nmac=m\r\ntotal_ch=1\r\nOPTIONS=ALARM_IN PTZ\r\n"}},
                               {kAlarmIn, row.alarmIn},
                               {kPtz, row.ptz},
                               {kVideo, {200, kVideoPage}}});
        uint32_t reason = 0;
        EXPECT_EQ(camera.Query(&reason), row.found);
        if (!row.found) {
            EXPECT_EQ(reason, dravnel::kQueryFailed);
            continue;
        }
        EXPECT_EQ(camera.alarmInputCount, row.inputs);
        EXPECT_EQ(camera.hasPtz, row.hasPtz);
        EXPECT_FALSE(camera.hasDevicePtzOptions);
    }
}

TEST(CameraProperties, OlderFirmwareWhenTheOptionsAreEmpty) {
    ScriptedCamera camera(
        {{kConfig,
          {200, "model=eSS540\r\ntool=Hitron-Tool\r\ninput=PAL\r\nfirmware=3.2\r\nrtsp_port=554x\r\nOPTIONS=\r\n"}},
         {kOlderAlarm, {200, "alarm_in_1_enable=1&alarm_in_2_enable=1"}},
         {kOlderEvent, {200, "mandatory_out_enable=0"}}},
        1);
    uint32_t reason = 0;
    ASSERT_TRUE(camera.Query(&reason));
    EXPECT_EQ(camera.requests, (Strings{kUser, kConfig, kOlderAlarm, kOlderEvent}));
    EXPECT_EQ(camera.groupName, "Hitron");
    EXPECT_EQ(camera.modelName, "HNCB-F1SN");
    EXPECT_EQ(camera.rawModel, "eSS540");
    EXPECT_EQ(camera.firmware, "3.2");
    EXPECT_EQ(camera.deviceVideoStandard, 0u);
    EXPECT_EQ(camera.deviceGroup, 0u);
    EXPECT_EQ(camera.rtspPort, 554u);
    EXPECT_EQ(camera.channelCount, 1u);
    EXPECT_EQ(camera.codecs, (std::set<int32_t>{dravnel::kDeviceCodecMpeg4}));
    EXPECT_EQ(camera.frameRates, (std::set<uint32_t>{5, 10, 15, 20, 25}));
    EXPECT_EQ(camera.resolutions,
              (std::vector<CameraResolution>{{160, 112, 0}, {320, 240, 0}, {640, 480, 0}, {720, 576, 0}}));
    EXPECT_EQ(camera.alarmInputCount, 2u);
    EXPECT_EQ(camera.alarmOutputCount, 1u);
    EXPECT_EQ(dravnel::CVistaCameraProperties::MapModelName("eVP", true), "VK-VRD4V9C");
    EXPECT_EQ(dravnel::CVistaCameraProperties::MapModelName("eXYZ", false), "eXYZ");
}

// A set in one line, runs of three or more as "first-last".
template <class Set>
std::string Join(const Set& values) {
    std::string out;
    for (auto it = values.begin(); it != values.end();) {
        auto last = it;
        while (std::next(last) != values.end() && *std::next(last) == *last + 1) ++last;
        out += (out.empty() ? "" : ",") + std::to_string(*it);
        if (std::distance(it, last) >= 2) {
            out += "-" + std::to_string(*last);
        } else if (last != it) {
            out += "," + std::to_string(*last);
        }
        it = std::next(last);
    }
    return out;
}

// What the video page made of the camera, in one line.
std::string VideoSummary(const ScriptedCamera& c) {
    std::string sizes;
    for (const CameraResolution& r : c.resolutions)
        sizes += " " + std::to_string(r.width) + "x" + std::to_string(r.height) + "/" + std::to_string(r.maxRate);
    return "codecs " + Join(c.codecs) + " group " + std::to_string(c.deviceGroup) + " rates " + Join(c.frameRates) +
           (c.frameRateListA && c.frameRateListB ? " own" : "") + " sizes" + sizes;
}

TEST(CameraProperties, VideoPage) {
    struct Row {
        const char* name;
        uint32_t group;
        uint32_t ntsc;
        std::string page;
        bool ok;
        std::string summary;  // VideoSummary; empty: not checked
    };
    const Row rows[] = {
        {"the device's lists", 1, 0,
         "total_ch=2&total_strm=4&ch1_strm1_codec_list=h264hp|MJPEG&ch1_strm3_codec_list=mpeg4sp&"
         "ch1_strm1_fps_list=5|x|30&ch1_strm1_res_list=1920x1080|VGA|0x480|bogus|640X480",
         true, "codecs 1-3 group 1 rates 5,30 own sizes 1920x1080/0 640x480/0"},
        {"no codec, four streams and uxga: group 2", 1, 0,
         "total_ch=1&total_strm=4&ch1_strm1_uxga=0&ch1_strm1_720p=1&ch1_strm1_vga=0&input_mode=1600x1200", true,
         "codecs 1,3 group 2 rates 1-30 sizes 1280x1024/42 1280x720/0"},
        {"group 2 with 1080p", 2, 0, "total_ch=1&total_strm=2&ch1_strm1_1080p=1&ch1_strm1_uxga=1&input_mode=1080p",
         true, "codecs 1-3 group 2 rates 1-30 sizes 1920x1080/33 1600x1200/33 1280x1024/33"},
        {"group 1 NTSC names up to 4CIF", 1, 1, "total_ch=1&total_strm=2&input_mode=4CIF", true,
         "codecs 1-3 group 1 rates 1-30 sizes 704x480/0 704x240/0 352x240/0 176x120/0 640x480/0 320x240/0 160x120/0"},
        {"group 3 PAL names up to 720P", 3, 0, "total_ch=1&total_strm=2&input_mode=1280x720", true,
         "codecs 1-3 group 3 rates 1-25 sizes 1280x720/0 720x576/0 720x480/0 640x480/0 352x288/0 352x240/0 320x240/0"},
        {"no channel", 1, 0, "total_ch=0&total_strm=2&ch1_strm1_res_list=VGA", false, ""},
        {"no stream count", 1, 0, "total_ch=1&ch1_strm1_res_list=VGA", false, ""},
        {"no sizes at all", 1, 0, "total_ch=1&total_strm=1", false, "codecs 1-3 group 1 rates 1-25 sizes"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedCamera camera({{kVideo, {200, row.page}}});
        camera.deviceGroup = row.group;
        camera.deviceVideoStandard = row.ntsc;
        EXPECT_EQ(camera.ProbeVideo(), row.ok);
        if (!row.summary.empty()) {
            EXPECT_EQ(VideoSummary(camera), row.summary);
        }
    }
}

TEST(CameraProperties, HostRateValues) {
    struct Row {
        uint32_t fps;
        bool extended;
        uint32_t value;
    };
    const Row rows[] = {{0, true, 1000}, {25, false, 40}, {30, true, 33}, {60, true, 60 | 0x70000000u},
                        {60, false, 17}, {7, false, 143}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.fps << (row.extended ? " extended" : ""));
        EXPECT_EQ(dravnel::HostRateValue(row.fps, row.extended), row.value);
    }
}

TEST(CameraProperties, PreferredFrameRate) {
    struct Row {
        std::set<uint32_t> rates;
        uint32_t preferred;
        uint32_t expected;  // fps; 0: none named
    };
    const Row rows[] = {{{5, 10, 15, 30}, 0, 15}, {{5, 25}, 0, 25}, {{5, 10, 15}, 12, 15}, {{5, 10, 15}, 20, 0}};
    for (const Row& row : rows) {
        ScriptedCamera camera({});
        camera.frameRates = row.rates;
        camera.defaultFrameRate = row.preferred;
        dravnel::host::CapabilityRecorder recorder;
        ASSERT_TRUE(camera.WriteFrameRates(recorder.GetFrameRateList(1)));
        EXPECT_EQ(recorder.frameRates().size(), row.rates.size());
        EXPECT_EQ(recorder.defaultFrameRate(), row.expected ? dravnel::HostRateValue(row.expected, false) : 0u);
    }
}

// A filled record written the way the host reads it.
class SavedResults : public testing::Test {
protected:
    SavedResults() : camera({}) {
        camera.device = dravnel::DEVICE_INFO("10.0.0.9", 8080, "viewer", "");
        camera.groupName = "Vista";
        camera.modelName = "VK-C402";
        camera.codecs = {dravnel::kDeviceCodecH264, dravnel::kDeviceCodecMjpeg};
        camera.channelCount = 2;
        camera.AddResolution(1920, 1080, 15);
        camera.AddResolution(640, 480, 0);
        camera.AddResolution(1920, 1080, 30);  // same size: the smaller interval wins
        camera.frameRates = {5, 15, 30};
        camera.alarmInputCount = 3;
        camera.alarmOutputCount = 1;
        camera.hasPtz = true;
        camera.audioInput.count = 2;
        camera.audioInput.isStereo = true;
    }
    ScriptedCamera camera;
    dravnel::host::CapabilityRecorder recorder;
};

TEST_F(SavedResults, InTheHostsOrder) {
    ASSERT_TRUE(camera.SaveResults(&recorder));
    EXPECT_EQ(recorder.deviceName(), "Vista VK-C402");
    EXPECT_EQ(recorder.connectionFields(),
              (std::map<uint32_t, std::string>{{1, "10.0.0.9"}, {2, "8080"}, {3, "viewer"}, {4, ""}}));
    EXPECT_EQ(recorder.capabilities(), (std::vector<std::pair<uint32_t, uint32_t>>{
                                           {8, 1}, {7, 1}, {0, 2}, {1, 1}, {11, 0}, {12, 0}, {2, 3}, {3, 1}, {4, 2}}));
    const auto sizes = recorder.resolutions();
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_EQ(sizes[0].text, "1920x1080");
    EXPECT_EQ(sizes[0].rate, 33u);
    EXPECT_EQ(sizes[1].text, "640x480");
    EXPECT_EQ(sizes[1].rate, 33u);  // the highest frame rate stands in
    EXPECT_EQ(recorder.frameRates(), (std::vector<uint32_t>{200, 67, 33}));
    EXPECT_EQ(recorder.defaultFrameRate(), 67u);

    const auto properties = recorder.properties();
    ASSERT_EQ(properties.size(), 10u);
    EXPECT_EQ(properties[0].id, 101u);
    EXPECT_EQ(properties[0].name, "Audio Input Parameters");
    EXPECT_EQ(properties[0].value, "Count=2; IsStereo=1");
    EXPECT_EQ(properties[0].attributeB, 1u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Video Standard", "0"},        {"Device Video Standard", "0"},        {"Device RTSP Port", "0"},
        {"OEM Device Group", "1"},      {"Real Device Model Name", "(none)"},  {"Firmware Version", "(none)"},
        {"PTZ Capabilities", "(none)"}, {"Preset Storage Filename", "(none)"}, {"Has Device-PTZ Options", "0"}};
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].first);
        EXPECT_EQ(properties[i + 1].id, 1u);
        EXPECT_EQ(properties[i + 1].name, expected[i].first);
        EXPECT_EQ(properties[i + 1].value, expected[i].second);
        EXPECT_EQ(properties[i + 1].attributeA + properties[i + 1].attributeB, 0u);
    }
}

TEST_F(SavedResults, FailAtTheFirstMissingPart) {
    struct Row {
        const char* name;
        void (*spoil)(ScriptedCamera&);
    };
    const Row rows[] = {
        {"no model", [](ScriptedCamera& c) { c.modelName.clear(); }},
        {"no codec", [](ScriptedCamera& c) { c.codecs.clear(); }},
        {"no channel", [](ScriptedCamera& c) { c.channelCount = 0; }},
        {"no frame rate", [](ScriptedCamera& c) { c.frameRates.clear(); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedCamera spoilt({});
        spoilt.modelName = camera.modelName;
        spoilt.codecs = camera.codecs;
        spoilt.channelCount = camera.channelCount;
        spoilt.frameRates = camera.frameRates;
        row.spoil(spoilt);
        dravnel::host::CapabilityRecorder empty;
        EXPECT_FALSE(spoilt.SaveResults(&empty));
        EXPECT_TRUE(empty.properties().empty());
    }
}

}  // namespace
