// The driver object as the host drives it: its log, its parameters, Open and
// Close, the channels it creates, and the library's exports.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>

#include <cstdio>
#include <set>
#include <string>
#include <tuple>

#include "channel/CH264ChannelRTSP.h"
#include "channel/CMJPEGChannelRTSP.h"
#include "channel/CMPEG4ChannelRTSP.h"
#include "channel/CVistaMPEGChannelRTSP.h"
#include "quarnel/Exports.h"
#include "tests/support/OpenDriver.h"
#include "tools/host/HostVersion.h"

using dravnel::test::OpenDriver;

class HostVersions : public ::testing::Test {
    void TearDown() override { dravnel::host::ClearHostVersion(); }
};

// Under each host version, the opening line (level 100, with the firmware,
// a '%' of model or firmware kept as it is) and messages at levels 1, 3 and
// 4: level 4 never reaches the sink; below 5.12 levels 3 and 100 become 2,
// and below 6.3 level 100 becomes 3. A host that reports no version counts as
// 5.12.
TEST_F(HostVersions, OpeningLineAndLevelsAdjustedToTheHostVersion) {
    const struct {
        int major, minor;  // major -1: the host reports no version
        int seen3, seen100;
    } versions[] = {
        {5, 0, 2, 2},  {5, 11, 2, 2}, {4, 99, 2, 2},  // the major number decides first
        {5, 12, 3, 3}, {6, 2, 3, 3},  {-1, 0, 3, 3}, {6, 3, 3, 100}, {7, 0, 3, 100},
    };
    for (const auto& v : versions) {
        SCOPED_TRACE(std::to_string(v.major) + "." + std::to_string(v.minor));
        if (v.major < 0)
            dravnel::host::ClearHostVersion();
        else
            dravnel::host::SetHostVersion(static_cast<uint16_t>(v.major), static_cast<uint16_t>(v.minor));
        OpenDriver d;
        d.description.model = "VX%s-%n";
        d.description.parameters = {{1, "0"}, {2, "0"}, {3, "(none)"}, {4, "1"}, {5, "x"}, {6, "2.0%d"}};
        ASSERT_TRUE(d.Open());
        for (const int level : {1, 3, 4}) d.driver->DebugMessage(level, "%s: level %d", "test", level);
        const auto lines = d.debug.Lines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0].level, v.seen100);
        EXPECT_EQ(lines[0].text,
                  "DRIVER IS OPENED (name: Quarnel, device model: VX%s-%n, FW: 2.0%d, address: 127.0.0.1:80)");
        EXPECT_EQ(lines[1].level, 1);
        EXPECT_EQ(lines[2].level, v.seen3);
    }
}

// The opening line names the firmware only when there is one. Nothing
// reaches the host before Open; after it a message arrives whole however
// long, and as a null text when empty.
TEST(DebugMessage, OpeningLineAndMessagesWholeOrNull) {
    OpenDriver d;
    d.description.model = "VX-100";
    d.driver->DebugMessage(1, "%s", "before open");  // no sink yet: dropped
    ASSERT_TRUE(d.Open());
    const std::string big(20000, 'x');
    d.driver->DebugMessage(1, "%s: <%s>", "test", big.c_str());
    d.driver->DebugMessage(1, "%s", "");
    const auto lines = d.debug.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "DRIVER IS OPENED (name: Quarnel, device model: VX-100, address: 127.0.0.1:80)");
    EXPECT_EQ(lines[1].text, "test: <" + big + ">");
    EXPECT_TRUE(lines[2].nullText);
}

// Parameters are read up to the first missing number. "(none)" reads as no
// text; only an optional sign and digits read as a number.
TEST(Driver, ParametersReadAsTextAndAsInteger) {
    OpenDriver d;
    d.description.parameters = {{1, "0"}, {2, "0"}, {3, "(none)"}, {4, "+7"}, {5, "-12"},
                                {6, "-"}, {7, ""},  {8, "12a"},    {9, " 5"}, {11, "after the gap"}};
    ASSERT_TRUE(d.Open());
    constexpr int kNone = dravnel::kNoIntParameter;
    // number, as text, as integer
    const std::tuple<int, const char*, int> cases[] = {
        {3, "", kNone},    {4, "+7", 7},     {5, "-12", -12}, {6, "-", kNone}, {7, "", kNone},
        {8, "12a", kNone}, {9, " 5", kNone}, {10, "", kNone}, {11, "", kNone},
    };
    for (const auto& [number, asText, asInt] : cases) {
        EXPECT_EQ(d.driver->GetParameterText(number), asText) << number;
        EXPECT_EQ(d.driver->GetParameterInt(number), asInt) << number;
    }
}

// Open needs parameter 2, the video standard, as a number (non-zero: NTSC).
TEST(Driver, OpenNeedsTheVideoStandardAsANumber) {
    // parameter 2 (null: absent), opens, NTSC
    const std::tuple<const char*, bool, bool> cases[] = {
        {nullptr, false, false}, {"ntsc", false, false}, {"1", true, true}, {"0", true, false}};
    for (const auto& [standard, opens, ntsc] : cases) {
        SCOPED_TRACE(standard ? standard : "-");
        OpenDriver d;
        d.description.parameters = {{1, "x"}};
        if (standard) d.description.parameters[2] = standard;
        EXPECT_EQ(d.Open(), opens);
        EXPECT_EQ(d.driver->GetParameterFlag(), ntsc);
    }
}

// The channel class by codec (1 MJPEG, 2 MPEG-4, 3 H.264) and device group:
// the older Vista devices (0) stream MPEG-4 only; any other group, an absent
// one included, gets the codec's channel.
TEST(Driver, CreateChannelByCodecAndDeviceGroup) {
    const auto kind = [](dravnel::ICameraChannel* c) -> std::string {
        if (!c) return "none";
        if (dynamic_cast<dravnel::CVistaMPEGChannelRTSP*>(c)) return "VistaMPEG";
        if (dynamic_cast<dravnel::CMJPEGChannelRTSP*>(c)) return "MJPEG";
        if (dynamic_cast<dravnel::CMPEG4ChannelRTSP*>(c)) return "MPEG4";
        if (dynamic_cast<dravnel::CH264ChannelRTSP*>(c)) return "H264";
        return "other";
    };
    // group (null: absent), then the channel for codecs 1, 2, 3 and 4
    const std::tuple<const char*, std::array<const char*, 4>> cases[] = {
        {"0", {"none", "VistaMPEG", "none", "none"}},
        {"1", {"MJPEG", "MPEG4", "H264", "none"}},
        {"2", {"MJPEG", "MPEG4", "H264", "none"}},
        {nullptr, {"MJPEG", "MPEG4", "H264", "none"}},
    };
    for (const auto& [group, channels] : cases) {
        for (int codec = 1; codec <= 4; ++codec) {
            SCOPED_TRACE(std::string(group ? group : "absent") + ", codec " + std::to_string(codec));
            OpenDriver d;
            d.description.codec = codec;
            d.description.parameters = {{1, "x"}, {2, "0"}};
            if (group) d.description.parameters.insert({{3, "554"}, {4, group}});
            ASSERT_TRUE(d.Open());
            std::unique_ptr<dravnel::ICameraChannel> channel(d.driver->CreateChannel(0, nullptr));
            EXPECT_EQ(kind(channel.get()), channels[codec - 1]);
        }
    }
}

// Open copies the connection record and sets this driver's time-outs; the
// host directory keeps its final separator; without a model there is no
// opening line, even with a firmware; Close releases the video capture.
TEST(Driver, OpenCopiesTheDeviceDescriptionAndCloseReleasesWhatItCreated) {
    OpenDriver d;
    d.description.parameters = {{1, "0"}, {2, "0"}, {3, "(none)"}, {4, "1"}, {5, "x"}, {6, "1.2"}};
    d.description.port = 8080;
    d.description.userName = "admin";
    d.description.password = "secret";
    d.description.channels = 4;
    ASSERT_TRUE(d.Open());
    const auto* info = d.driver->GetDeviceInfo();
    EXPECT_EQ(d.driver->GetAddressText(), "127.0.0.1:8080");
    EXPECT_EQ(info->UserName, "admin");
    EXPECT_EQ(info->Password, "secret");
    EXPECT_EQ(info->HttpTimeout, 5000u);
    EXPECT_EQ(info->StreamTimeout, 10000u);
    EXPECT_TRUE(d.driver->GetHostDirectory().ends_with('/'));
    EXPECT_TRUE(d.debug.Lines().empty());
    auto* capture = d.driver->GetVideoCapture();
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(capture->GetChannelCount(), 4u);
    d.driver->Close();
    EXPECT_EQ(d.driver->GetVideoCapture(), nullptr);
}

// The exports, reached the way a host reaches them: the two create exports
// give independent drivers, the delete exports take null, and the library
// shows no function beyond the ten.
TEST(Exports, TheTenFunctionsCreateIndependentDriversAndDeleteIgnoresNull) {
    void* library = dlopen(QUARNEL_BIN_DIR "/libquarnel.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto create = reinterpret_cast<decltype(&CreateIPCapture)>(dlsym(library, "CreateIPCapture"));
    auto createEx = reinterpret_cast<decltype(&CreateIPCaptureEx)>(dlsym(library, "CreateIPCaptureEx"));
    auto destroy = reinterpret_cast<decltype(&DeleteIPCapture)>(dlsym(library, "DeleteIPCapture"));
    auto destroyEx = reinterpret_cast<decltype(&DeleteIPCaptureEx)>(dlsym(library, "DeleteIPCaptureEx"));
    ASSERT_TRUE(create && createEx && destroy && destroyEx);
    auto* a = create();
    auto* b = createEx();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    dravnel::host::DebugSink debug;
    dravnel::host::FrameAllocator allocator;
    dravnel::host::DeviceDescription descA, descB;
    descA.parameters = descB.parameters = {{1, "0"}, {2, "0"}};
    descB.channels = 2;
    ASSERT_TRUE(a->Open(&debug, &allocator, &descA));
    ASSERT_TRUE(b->Open(&debug, &allocator, &descB));
    EXPECT_EQ(a->GetVideoCapture()->GetChannelCount(), 1u);
    EXPECT_EQ(b->GetVideoCapture()->GetChannelCount(), 2u);
    a->Close();
    destroy(a);
    destroyEx(b);  // without Close: the destructor closes
    destroy(nullptr);
    destroyEx(nullptr);
    dlclose(library);

    // nm's portable format: name, type, value, size. Version nodes (type A)
    // and symbols the toolchain adds are not ours.
    FILE* pipe = popen("nm -D --defined-only --format=posix " QUARNEL_BIN_DIR "/libquarnel.so", "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> symbols;
    char name[512];
    char type[8];
    while (fscanf(pipe, "%511s %7s %*[^\n]", name, type) == 2) {
        const std::string symbol = name;
        if (std::string(type) != "A" && !symbol.starts_with("__") && symbol != "_init" && symbol != "_fini")
            symbols.insert(symbol);
    }
    pclose(pipe);
    EXPECT_EQ(symbols, (std::set<std::string>{
                           "CreateIPCapture", "CreateIPCaptureEx", "DeleteIPCapture", "DeleteIPCaptureEx",
                           "CreateCapabilityQueryModule", "DeleteCapabilityQueryModule", "InitCapabilityQuery",
                           "StartCapabilityQuery", "TerminateCapabilityQuery", "UninitCapabilityQuery"}));
}
