// The settings file beside the host executable, read from a temporary host
// directory.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver/CXMLParser.h"
#include "driver/DeviceSettings.h"
#include "tests/support/FakeDriver.h"

namespace {

using dravnel::DeviceSettings;
using dravnel::ReadDeviceSettings;
using quarnel::test::FakeDriver;

class SettingsFile : public ::testing::Test {
protected:
    SettingsFile() {
        char pattern[] = "/tmp/quarnel-settings-XXXXXX";
        const char* made = mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        directory = made ? made : "";
        driver.hostDirectory = directory + "/";
        driver.device.Address = "10.0.0.5";
        driver.device.Port = 80;
    }
    ~SettingsFile() override { std::filesystem::remove_all(directory); }

    void Write(const std::string& xml) {
        std::ofstream out(directory + "/Quarnel.xml", std::ios::binary | std::ios::trunc);
        out << xml;
    }
    DeviceSettings Read() { return ReadDeviceSettings(&driver); }

    std::string directory;
    FakeDriver driver;
};

// A default section and the section of 10.0.0.5:80.
constexpr const char* kTwoSections = R"(<?xml version="1.0"?>
<Configuration>
  <Default><RTPMode>RTPoverTCP</RTPMode><RTPPacketSize>1400</RTPPacketSize></Default>
  <Device address="10.0.0.5" port="80"><RTPMode>rtpoverrtsp</RTPMode></Device>
</Configuration>
)";

TEST_F(SettingsFile, WithoutAFileOrHostDirectoryTheDefaultsHold) {
    DeviceSettings s = Read();
    EXPECT_EQ(s.RTPMode, dravnel::kRtpOverUdp);
    EXPECT_EQ(s.RTPPacketSize, 0);

    Write(kTwoSections);
    driver.hostDirectory.clear();
    EXPECT_EQ(dravnel::DeviceSettingsPath(&driver), "");
    EXPECT_EQ(Read().RTPMode, dravnel::kRtpOverUdp);
    EXPECT_EQ(ReadDeviceSettings(nullptr).RTPMode, dravnel::kRtpOverUdp);
}

TEST_F(SettingsFile, TheDeviceSectionWinsAndOtherDevicesGetTheDefault) {
    Write(kTwoSections);
    DeviceSettings own = Read();
    EXPECT_EQ(own.RTPMode, dravnel::kRtpOverRtsp);
    EXPECT_EQ(own.RTPPacketSize, 0);  // its section has none: the default is not consulted

    driver.device.Port = 8080;
    DeviceSettings other = Read();
    EXPECT_EQ(other.RTPMode, dravnel::kRtpOverTcp);
    EXPECT_EQ(other.RTPPacketSize, 1400);

    // The address must match as the host gives it: a host name is not its IP.
    driver.device.Port = 80;
    driver.device.Address = "camera.local";
    EXPECT_EQ(Read().RTPMode, dravnel::kRtpOverTcp);
}

TEST_F(SettingsFile, ADeviceSectionWithoutOrWithAnEmptyModeMeansUdp) {
    Write(R"(<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default>
             <Device address="10.0.0.5" port="80"/></Configuration>)");
    EXPECT_EQ(Read().RTPMode, dravnel::kRtpOverUdp);
    Write(R"(<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default>
             <Device address="10.0.0.5" port="80"><RTPMode></RTPMode></Device></Configuration>)");
    EXPECT_EQ(Read().RTPMode, dravnel::kRtpOverUdp);
}

TEST_F(SettingsFile, IsReadAnewOnEveryCall) {
    Write(kTwoSections);
    EXPECT_EQ(Read().RTPMode, dravnel::kRtpOverRtsp);
    Write("<Configuration><Default><RTPMode>RTPoverHTTP</RTPMode></Default></Configuration>");
    EXPECT_EQ(Read().RTPMode, dravnel::kRtpOverHttp);
}

TEST_F(SettingsFile, TheHostDirectoryGetsASeparatorOnlyWhenItLacksOne) {
    Write(kTwoSections);
    driver.hostDirectory = directory;
    EXPECT_EQ(dravnel::DeviceSettingsPath(&driver), directory + "/Quarnel.xml");
    EXPECT_EQ(Read().RTPMode, dravnel::kRtpOverRtsp);
    driver.hostDirectory = directory + "/";
    EXPECT_EQ(dravnel::DeviceSettingsPath(&driver), directory + "/Quarnel.xml");
}

struct FileCase {
    const char* name;
    const char* xml;
    int32_t mode;
    int32_t packetSize;
};

class SettingsFiles : public SettingsFile, public ::testing::WithParamInterface<FileCase> {};

TEST_P(SettingsFiles, GiveTheValuesOrTheDefaultsSilently) {
    Write(GetParam().xml);
    const DeviceSettings s = Read();
    EXPECT_EQ(s.RTPMode, GetParam().mode);
    EXPECT_EQ(s.RTPPacketSize, GetParam().packetSize);
    EXPECT_TRUE(driver.Lines().empty());  // nothing is ever logged
}

#define DEFAULT_SECTION(inner) "<Configuration><Default>" inner "</Default></Configuration>"

INSTANTIATE_TEST_SUITE_P(
    SettingsFile, SettingsFiles,
    ::testing::Values(
        FileCase{"Tcp", DEFAULT_SECTION("<RTPMode>RTPoverTCP</RTPMode>"), 1, 0},
        FileCase{"UpperCase", DEFAULT_SECTION("<RTPMode>RTPOVERRTSP</RTPMode>"), 2, 0},
        FileCase{"Udp", DEFAULT_SECTION("<RTPMode>RTPoverUDP</RTPMode>"), 0, 0},
        FileCase{"Http", DEFAULT_SECTION("<RTPMode>RTPoverHTTP</RTPMode>"), 3, 0},
        FileCase{"UnknownMode", DEFAULT_SECTION("<RTPMode>tcp</RTPMode>"), 0, 0},
        FileCase{"BlankAroundMode", DEFAULT_SECTION("<RTPMode> RTPoverTCP</RTPMode>"), 0, 0},
        FileCase{"ModeInPieces", DEFAULT_SECTION("<RTPMode>RTPover<!-- c --><![CDATA[TCP]]></RTPMode>"), 1, 0},
        FileCase{"ElementNamesAreCaseSensitive", DEFAULT_SECTION("<rtpmode>RTPoverTCP</rtpmode>"), 0, 0},
        FileCase{"Size1400", DEFAULT_SECTION("<RTPPacketSize>1400</RTPPacketSize>"), 0, 1400},
        FileCase{"Size100IsTooSmall", DEFAULT_SECTION("<RTPPacketSize>100</RTPPacketSize>"), 0, 0},
        FileCase{"Size101", DEFAULT_SECTION("<RTPPacketSize>101</RTPPacketSize>"), 0, 101},
        FileCase{"SizeWithTrailingBlank", DEFAULT_SECTION("<RTPPacketSize>1400 </RTPPacketSize>"), 0, 0},
        FileCase{"SizeSigned", DEFAULT_SECTION("<RTPPacketSize>+1400</RTPPacketSize>"), 0, 0},
        FileCase{"SizeTooLarge", DEFAULT_SECTION("<RTPPacketSize>4294968696</RTPPacketSize>"), 0, 0},
        FileCase{"SizeEmpty", DEFAULT_SECTION("<RTPPacketSize/>"), 0, 0},
        FileCase{"Malformed", "<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default>", 0, 0},
        FileCase{"Empty", "", 0, 0},
        FileCase{"NotXml", "RTPMode=RTPoverTCP", 0, 0},
        FileCase{"OtherRoot", "<Settings><Default><RTPMode>RTPoverTCP</RTPMode></Default></Settings>", 0, 0},
        FileCase{"PortMustMatch",
                 "<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default>"
                 "<Device address=\"10.0.0.5\" port=\"81\"><RTPMode>RTPoverRTSP</RTPMode></Device>"
                 "</Configuration>",
                 1, 0},
        FileCase{"AttributeNamesAreCaseSensitive",
                 "<Configuration><Device Address=\"10.0.0.5\" port=\"80\"><RTPMode>RTPoverRTSP</RTPMode>"
                 "</Device></Configuration>",
                 0, 0}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

TEST_F(SettingsFile, AnAddressHoldingAQuoteNamesNoSection) {
    Write(R"(<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default>
             <Device address="x" port="80"><RTPMode>RTPoverRTSP</RTPMode></Device></Configuration>)");
    driver.device.Address = R"(x"][@port="80"] | //Device[@address="x)";
    EXPECT_EQ(Read().RTPMode, dravnel::kRtpOverTcp);
}

TEST(XmlParser, AnswersNothingUntilLoadedAndLoadsOnce) {
    dravnel::CXMLParser parser;
    EXPECT_FALSE(parser.Load(""));
    EXPECT_FALSE(parser.Load("/nonexistent/Quarnel.xml"));
    EXPECT_FALSE(parser.NodeExists("Configuration"));
    EXPECT_EQ(parser.GetText("Configuration"), "");

    char pattern[] = "/tmp/quarnel-xml-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    const std::string first = directory + "/a.xml";
    const std::string second = directory + "/b.xml";
    std::ofstream(first) << "<Configuration><Default><RTPMode>A</RTPMode></Default></Configuration>";
    std::ofstream(second) << "<Configuration><Default><RTPMode>B</RTPMode></Default></Configuration>";

    ASSERT_TRUE(parser.Load(first));
    EXPECT_TRUE(parser.Load(second));  // already loaded: no second read
    EXPECT_EQ(parser.Path(), first);
    EXPECT_EQ(parser.GetText("Configuration/Default/RTPMode"), "A");
    EXPECT_TRUE(parser.NodeExists("Configuration/Default"));
    EXPECT_FALSE(parser.NodeExists("Configuration/Device"));
    EXPECT_FALSE(parser.NodeExists(""));
    EXPECT_FALSE(parser.NodeExists("Configuration/[broken"));  // not XPath
    EXPECT_EQ(parser.GetText("Configuration/[broken"), "");
    std::filesystem::remove_all(directory);
}

TEST(XmlParser, ADirectoryIsNoFile) {
    dravnel::CXMLParser parser;
    EXPECT_FALSE(parser.Load("/tmp"));
}

}  // namespace
