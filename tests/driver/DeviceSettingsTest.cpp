// The settings file beside the host executable, read from a temporary host
// directory.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "driver/CXMLParser.h"
#include "driver/DeviceSettings.h"
#include "tests/support/FakeDriver.h"

namespace {

using dravnel::DeviceSettings;
using dravnel::ReadDeviceSettings;

std::string MakeDirectory() {
    char pattern[] = "/tmp/quarnel-settings-XXXXXX";
    const char* made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    return made ? made : "";
}

class SettingsFile : public ::testing::Test {
protected:
    SettingsFile() {
        driver.hostDirectory = directory + "/";
        driver.device.Address = "10.0.0.5";
        driver.device.Port = 80;
    }
    ~SettingsFile() override { std::filesystem::remove_all(directory); }

    void Write(const std::string& xml) {
        std::ofstream(directory + "/Quarnel.xml", std::ios::binary | std::ios::trunc) << xml;
    }
    DeviceSettings Read() { return ReadDeviceSettings(&driver); }

    std::string directory = MakeDirectory();
    quarnel::test::FakeDriver driver;
};

// A default section and the section of 10.0.0.5:80.
constexpr const char* kTwoSections = R"(<?xml version="1.0"?>
<Configuration>
  <Default><RTPMode>RTPoverTCP</RTPMode><RTPPacketSize>1400</RTPPacketSize></Default>
  <Device address="10.0.0.5" port="80"><RTPMode>rtpoverrtsp</RTPMode></Device>
</Configuration>
)";

TEST_F(SettingsFile, IsTheDriverNameInTheHostDirectoryAndIsReadAnewEachTime) {
    const DeviceSettings none = Read();  // no file yet
    EXPECT_EQ(none.RTPMode, dravnel::kRtpOverUdp);
    EXPECT_EQ(none.RTPPacketSize, 0);
    Write(kTwoSections);
    EXPECT_EQ(Read().RTPMode, dravnel::kRtpOverRtsp);

    driver.hostDirectory = directory;  // a separator is added only when missing
    EXPECT_EQ(dravnel::DeviceSettingsPath(&driver), directory + "/Quarnel.xml");
    Write("<Configuration><Default><RTPMode>RTPoverHTTP</RTPMode></Default></Configuration>");
    EXPECT_EQ(Read().RTPMode, dravnel::kRtpOverHttp);

    driver.hostDirectory.clear();  // no host directory: no file
    EXPECT_EQ(dravnel::DeviceSettingsPath(&driver), "");
    EXPECT_EQ(Read().RTPMode, dravnel::kRtpOverUdp);
    EXPECT_EQ(ReadDeviceSettings(nullptr).RTPMode, dravnel::kRtpOverUdp);
}

struct FileCase {
    const char* name;
    const char* xml;
    int32_t mode;
    int32_t packetSize;
    const char* address = "10.0.0.5";
    uint16_t port = 80;
};

class SettingsFiles : public SettingsFile, public ::testing::WithParamInterface<FileCase> {};

TEST_P(SettingsFiles, GiveTheValuesOrTheDefaultsSilently) {
    Write(GetParam().xml);
    driver.device.Address = GetParam().address;
    driver.device.Port = GetParam().port;
    const DeviceSettings s = Read();
    EXPECT_EQ(s.RTPMode, GetParam().mode);
    EXPECT_EQ(s.RTPPacketSize, GetParam().packetSize);
    EXPECT_TRUE(driver.Lines().empty());  // nothing is ever logged
}

#define DEFAULT_SECTION(inner) "<Configuration><Default>" inner "</Default></Configuration>"
#define WITH_DEVICE(device) \
    "<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default>" device "</Configuration>"

INSTANTIATE_TEST_SUITE_P(
    SettingsFile, SettingsFiles,
    ::testing::Values(
        // The device's own section is the only one consulted for it (its
        // block size is not taken from the default); others get the default.
        FileCase{"OwnSection", kTwoSections, 2, 0},
        FileCase{"OtherPort", kTwoSections, 1, 1400, "10.0.0.5", 8080},
        FileCase{"HostNameIsNotTheAddress", kTwoSections, 1, 1400, "camera.local"},
        FileCase{"SectionWithoutMode", WITH_DEVICE("<Device address=\"10.0.0.5\" port=\"80\"/>"), 0, 0},
        FileCase{"SectionWithEmptyMode",
                 WITH_DEVICE("<Device address=\"10.0.0.5\" port=\"80\"><RTPMode></RTPMode></Device>"), 0, 0},
        FileCase{"AttributeNamesAreCaseSensitive",
                 WITH_DEVICE("<Device Address=\"10.0.0.5\" port=\"80\"><RTPMode>RTPoverRTSP</RTPMode></Device>"),
                 1, 0},
        // An address holding a quote is never spliced into the XPath expression.
        FileCase{"QuoteInTheAddress",
                 WITH_DEVICE("<Device address=\"x\" port=\"80\"><RTPMode>RTPoverRTSP</RTPMode></Device>"), 1, 0,
                 R"(x"][@port="80"] | //Device[@address="x)"},
        FileCase{"UpperCase", DEFAULT_SECTION("<RTPMode>RTPOVERRTSP</RTPMode>"), 2, 0},
        FileCase{"Http", DEFAULT_SECTION("<RTPMode>RTPoverHTTP</RTPMode>"), 3, 0},
        FileCase{"UnknownMode", DEFAULT_SECTION("<RTPMode>tcp</RTPMode>"), 0, 0},
        FileCase{"BlankAroundMode", DEFAULT_SECTION("<RTPMode> RTPoverTCP</RTPMode>"), 0, 0},
        FileCase{"ModeInPieces", DEFAULT_SECTION("<RTPMode>RTPover<!-- c --><![CDATA[TCP]]></RTPMode>"), 1, 0},
        FileCase{"ElementNamesAreCaseSensitive", DEFAULT_SECTION("<rtpmode>RTPoverTCP</rtpmode>"), 0, 0},
        FileCase{"Size100IsTooSmall", DEFAULT_SECTION("<RTPPacketSize>100</RTPPacketSize>"), 0, 0},
        FileCase{"Size101", DEFAULT_SECTION("<RTPPacketSize>101</RTPPacketSize>"), 0, 101},
        FileCase{"SizeWithTrailingBlank", DEFAULT_SECTION("<RTPPacketSize>1400 </RTPPacketSize>"), 0, 0},
        FileCase{"SizeTooLarge", DEFAULT_SECTION("<RTPPacketSize>4294968696</RTPPacketSize>"), 0, 0},
        FileCase{"Malformed", "<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default>", 0, 0},
        FileCase{"Empty", "", 0, 0},
        FileCase{"OtherRoot", "<Settings><Default><RTPMode>RTPoverTCP</RTPMode></Default></Settings>", 0, 0}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

TEST(XmlParser, AnswersNothingUntilLoadedAndLoadsOnce) {
    dravnel::CXMLParser parser;
    EXPECT_FALSE(parser.Load(""));
    EXPECT_FALSE(parser.Load("/nonexistent/Quarnel.xml"));
    EXPECT_FALSE(parser.Load("/tmp"));  // a directory is no file
    EXPECT_FALSE(parser.NodeExists("Configuration"));
    EXPECT_EQ(parser.GetText("Configuration"), "");

    const std::string directory = MakeDirectory();
    std::ofstream(directory + "/a.xml") << "<Configuration><Default><RTPMode>A</RTPMode></Default></Configuration>";
    std::ofstream(directory + "/b.xml") << "<Configuration><Default><RTPMode>B</RTPMode></Default></Configuration>";
    ASSERT_TRUE(parser.Load(directory + "/a.xml"));
    EXPECT_TRUE(parser.Load(directory + "/b.xml"));  // already loaded: no second read
    EXPECT_EQ(parser.GetText("Configuration/Default/RTPMode"), "A");
    EXPECT_TRUE(parser.NodeExists("Configuration/Default"));
    EXPECT_FALSE(parser.NodeExists("Configuration/Device"));
    EXPECT_FALSE(parser.NodeExists(""));
    EXPECT_FALSE(parser.NodeExists("Configuration/[broken"));  // not XPath
    EXPECT_EQ(parser.GetText("Configuration/[broken"), "");
    std::filesystem::remove_all(directory);
}

}  // namespace
