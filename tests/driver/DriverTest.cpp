#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "channel/CH264ChannelRTSP.h"
#include "quarnel/Exports.h"
#include "tests/support/OpenDriver.h"

using quarnel::test::OpenDriver;

struct ParameterCase {
    const char* text;  // null: absent
    const char* asText;
    int asInt;
};

class Parameters : public ::testing::TestWithParam<ParameterCase> {};

TEST_P(Parameters, ReadAsTextAndAsInteger) {
    OpenDriver d;
    if (GetParam().text) d.description.parameters[3] = GetParam().text;
    ASSERT_TRUE(d.Open());
    EXPECT_EQ(d.driver->GetParameterText(3), GetParam().asText);
    EXPECT_EQ(d.driver->GetParameterInt(3), GetParam().asInt);
}

INSTANTIATE_TEST_SUITE_P(Driver, Parameters,
                         ::testing::Values(ParameterCase{"(none)", "", dravnel::kNoIntParameter},
                                           ParameterCase{nullptr, "", dravnel::kNoIntParameter},
                                           ParameterCase{"+7", "+7", 7}, ParameterCase{"-12", "-12", -12},
                                           ParameterCase{"-", "-", dravnel::kNoIntParameter},
                                           ParameterCase{"", "", dravnel::kNoIntParameter},
                                           ParameterCase{"12a", "12a", dravnel::kNoIntParameter},
                                           ParameterCase{" 5", " 5", dravnel::kNoIntParameter}));

TEST(Driver, ParametersAreReadUpToTheFirstMissingNumber) {
    OpenDriver d;
    d.description.parameters = {{1, "a"}, {2, "1"}, {4, "after the gap"}};
    ASSERT_TRUE(d.Open());
    EXPECT_EQ(d.driver->GetParameterText(1), "a");
    EXPECT_EQ(d.driver->GetParameterText(4), "");
}

TEST(Driver, OpenNeedsTheVideoStandardParameter) {
    struct {
        const char* standard;  // parameter 2; null: absent
        bool opens;
        bool ntsc;
    } const cases[] = {{nullptr, false, false}, {"ntsc", false, false}, {"1", true, true}, {"0", true, false}};
    for (const auto& c : cases) {
        OpenDriver d;
        d.description.parameters = {{1, "x"}};
        if (c.standard) d.description.parameters[2] = c.standard;
        EXPECT_EQ(d.Open(), c.opens) << (c.standard ? c.standard : "absent");
        EXPECT_EQ(d.driver->GetParameterFlag(), c.ntsc);
    }
}

TEST(Driver, OpenCopiesTheDeviceDescriptionAndCloseReleasesWhatItCreated) {
    OpenDriver d;
    d.description.address = "10.0.0.5";
    d.description.port = 8080;
    d.description.userName = "admin";
    d.description.password = "secret";
    d.description.model = "VX-100";
    d.description.channels = 4;
    d.description.inputs = 2;
    d.description.outputs = 1;
    d.description.codec = 2;
    ASSERT_TRUE(d.Open());
    const auto* info = d.driver->GetDeviceInfo();
    EXPECT_EQ(info->Address, "10.0.0.5");
    EXPECT_EQ(info->Port, 8080);
    EXPECT_EQ(info->UserName, "admin");
    EXPECT_EQ(info->Password, "secret");
    EXPECT_EQ(info->Model, "VX-100");
    EXPECT_EQ(info->HttpTimeout, 5000u);
    EXPECT_EQ(info->StreamTimeout, 10000u);
    EXPECT_EQ(d.driver->GetChannelCount(), 4u);
    EXPECT_EQ(d.driver->GetDeviceValues(), (std::pair<uint32_t, uint32_t>{2, 1}));
    EXPECT_EQ(d.driver->GetCodec(), 2);
    EXPECT_EQ(d.driver->GetAddressText(), "10.0.0.5:8080");
    EXPECT_EQ(d.driver->GetHostContext(), &d.allocator);
    // The host directory is the test executable's, with its trailing separator.
    const std::string dir = d.driver->GetHostDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');

    auto* capture = d.driver->GetVideoCapture();
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(capture->GetChannelCount(), 4u);
    EXPECT_EQ(d.driver->GetVideoCaptureEx(), capture);
    d.driver->Close();
    EXPECT_EQ(d.driver->GetVideoCapture(), nullptr);
    EXPECT_EQ(d.driver->GetCaptureIO(), nullptr);
    EXPECT_EQ(d.driver->GetPTZDriver(), nullptr);
}

struct OpenedLineCase {
    const char* model;
    const char* firmware;
    const char* line;  // null: no line
};

class OpenedLine : public ::testing::TestWithParam<OpenedLineCase> {};

TEST_P(OpenedLine, IsWrittenOnlyWithAModel) {
    OpenDriver d;
    d.description.address = "10.0.0.5";
    d.description.model = GetParam().model;
    d.description.parameters = {{1, "0"}, {2, "0"}, {3, "(none)"}, {4, "1"}, {5, "x"}, {6, GetParam().firmware}};
    ASSERT_TRUE(d.Open());
    auto lines = d.debug.Lines();
    if (!GetParam().line) {
        EXPECT_TRUE(lines.empty());
        return;
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 3);  // 100 under the default host version 5.12
    EXPECT_EQ(lines[0].text, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Driver, OpenedLine,
    ::testing::Values(
        OpenedLineCase{"", "1.2", nullptr},
        OpenedLineCase{"VX-100", "", "DRIVER IS OPENED (name: Quarnel, device model: VX-100, address: 10.0.0.5:80)"},
        OpenedLineCase{"VX%s-%n", "2.0%d",
                       "DRIVER IS OPENED (name: Quarnel, device model: VX%s-%n, FW: 2.0%d, address: 10.0.0.5:80)"}));

struct CreateCase {
    const char* group;  // driver parameter 4; null: absent
    int codec;
    bool h264;          // an H.264 channel is created
};

class CreateChannel : public ::testing::TestWithParam<CreateCase> {};

TEST_P(CreateChannel, ByDeviceGroupAndCodec) {
    OpenDriver d;
    d.description.codec = GetParam().codec;
    if (GetParam().group) d.description.parameters = {{1, "0"}, {2, "0"}, {3, "554"}, {4, GetParam().group}};
    ASSERT_TRUE(d.Open());
    std::unique_ptr<dravnel::ICameraChannel> channel(d.driver->CreateChannel(0, nullptr));
    EXPECT_EQ(dynamic_cast<dravnel::CH264ChannelRTSP*>(channel.get()) != nullptr, GetParam().h264);
    EXPECT_EQ(channel != nullptr, GetParam().h264);
}

INSTANTIATE_TEST_SUITE_P(Driver, CreateChannel,
                         ::testing::Values(CreateCase{nullptr, 3, true},  // absent group: a current device
                                           CreateCase{"2", 3, true},
                                           CreateCase{"0", 3, false},  // older Vista devices have no H.264
                                           CreateCase{"1", 2, false}));

// The exports, reached the way a host reaches them.
class Exports : public ::testing::Test {
protected:
    void SetUp() override {
        handle = dlopen(QUARNEL_BIN_DIR "/libquarnel.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
    }
    void TearDown() override {
        if (handle) dlclose(handle);
    }
    template <class F>
    F Find(const char* name) {
        return reinterpret_cast<F>(dlsym(handle, name));
    }
    void* handle = nullptr;
};

TEST_F(Exports, TheTwoCreateExportsGiveIndependentDriversAndDeleteIgnoresNull) {
    auto create = Find<decltype(&CreateIPCapture)>("CreateIPCapture");
    auto createEx = Find<decltype(&CreateIPCaptureEx)>("CreateIPCaptureEx");
    auto destroy = Find<decltype(&DeleteIPCapture)>("DeleteIPCapture");
    auto destroyEx = Find<decltype(&DeleteIPCaptureEx)>("DeleteIPCaptureEx");
    ASSERT_TRUE(create && createEx && destroy && destroyEx);
    auto* a = create();
    auto* b = createEx();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);

    quarnel::host::DebugSink debugA, debugB;
    quarnel::host::FrameAllocator allocator;
    quarnel::host::DeviceDescription descA, descB;
    descA.parameters = {{1, "0"}, {2, "0"}};
    descA.model = "A";
    descB.parameters = {{1, "0"}, {2, "1"}};
    descB.model = "B";
    EXPECT_TRUE(a->Open(&debugA, &allocator, &descA));
    EXPECT_TRUE(b->Open(&debugB, &allocator, &descB));
    EXPECT_TRUE(debugA.Contains("device model: A"));
    EXPECT_FALSE(debugA.Contains("device model: B"));
    EXPECT_TRUE(debugB.Contains("device model: B"));
    a->Close();
    destroy(a);
    destroyEx(b);  // without Close: the destructor closes
    destroy(nullptr);
    destroyEx(nullptr);
}

TEST_F(Exports, TheLibraryExportsExactlyTheTenFunctions) {
    FILE* pipe = popen("nm -D --defined-only " QUARNEL_BIN_DIR "/libquarnel.so", "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> symbols;
    char line[1024];
    while (fgets(line, sizeof line, pipe)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        const auto space = s.rfind(' ');
        const std::string type = s.size() > 17 ? s.substr(17, 1) : "";
        const std::string name = s.substr(space + 1);
        // Version nodes and symbols the toolchain adds are not ours.
        if (type == "A" || name.rfind("__", 0) == 0 || name == "_init" || name == "_fini") continue;
        symbols.insert(name);
    }
    pclose(pipe);
    const std::set<std::string> expected = {
        "CreateIPCapture",          "CreateIPCaptureEx",       "DeleteIPCapture",
        "DeleteIPCaptureEx",        "CreateCapabilityQueryModule", "DeleteCapabilityQueryModule",
        "InitCapabilityQuery",      "StartCapabilityQuery",    "TerminateCapabilityQuery",
        "UninitCapabilityQuery"};
    EXPECT_EQ(symbols, expected);
}
