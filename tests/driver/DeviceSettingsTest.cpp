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

using dravnel::ReadDeviceSettings;

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(mkdtemp(directory.data()), nullptr);
        driver.hostDirectory = directory + "/";
    }
    ~SettingsFile() override { std::filesystem::remove_all(directory); }

    void Write(const std::string& xml) {
        std::ofstream(directory + "/Quarnel.xml", std::ios::binary | std::ios::trunc) << xml;
    }

    std::string directory = "/tmp/quarnel-settings-XXXXXX";
    dravnel::test::FakeDriver driver;
};

// A default section and the section of 10.0.0.5:80.
constexpr const char* kTwoSections = R"(<?xml version="1.0"?>
<Configuration>
  <Default><RTPMode>RTPoverTCP</RTPMode><RTPPacketSize>1400</RTPPacketSize></Default>
  <Device address="10.0.0.5" port="80"><RTPMode>rtpoverrtsp</RTPMode></Device>
</Configuration>
)";

#define DEFAULT_SECTION(inner) "<Configuration><Default>" inner "</Default></Configuration>"
#define WITH_DEVICE(device) "<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default>" device "</Configuration>"

// Every file gives its values or the defaults, silently.
TEST_F(SettingsFile, GivesTheValuesOrTheDefaultsSilently) {
    const struct {
        const char* name;
        const char* xml;  // null: no file
        int32_t mode;
        int32_t packetSize;
        const char* address = "10.0.0.5";
        uint16_t port = 80;
        int32_t receiveBuffer = 0;
    } cases[] = {
        {"NoFile", nullptr, 0, 0},
        // The device's own section is the only one consulted for it (its
        // block size is not taken from the default); others get the default.
        {"OwnSection", kTwoSections, 2, 0},
        {"OtherPort", kTwoSections, 1, 1400, "10.0.0.5", 8080},
        {"HostNameIsNotTheAddress", kTwoSections, 1, 1400, "camera.local"},
        {"SectionWithoutMode", WITH_DEVICE("<Device address=\"10.0.0.5\" port=\"80\"/>"), 0, 0},
        {"SectionWithEmptyMode", WITH_DEVICE("<Device address=\"10.0.0.5\" port=\"80\"><RTPMode></RTPMode></Device>"),
         0, 0},
        {"AttributeNamesAreCaseSensitive",
         WITH_DEVICE("<Device Address=\"10.0.0.5\" port=\"80\"><RTPMode>RTPoverRTSP</RTPMode></Device>"), 1, 0},
        // An address holding a quote is never spliced into the XPath expression.
        {"QuoteInTheAddress", WITH_DEVICE("<Device address=\"x\" port=\"80\"><RTPMode>RTPoverRTSP</RTPMode></Device>"),
         1, 0, R"(x"][@port="80"] | //Device[@address="x)"},
        {"Http", DEFAULT_SECTION("<RTPMode>RTPoverHTTP</RTPMode>"), 3, 0},
        {"UnknownMode", DEFAULT_SECTION("<RTPMode>tcp</RTPMode>"), 0, 0},
        {"BlankAroundMode", DEFAULT_SECTION("<RTPMode> RTPoverTCP</RTPMode>"), 0, 0},
        {"ModeInPieces", DEFAULT_SECTION("<RTPMode>RTPover<!-- c --><![CDATA[TCP]]></RTPMode>"), 1, 0},
        {"ElementNamesAreCaseSensitive", DEFAULT_SECTION("<rtpmode>RTPoverTCP</rtpmode>"), 0, 0},
        {"Size100IsTooSmall", DEFAULT_SECTION("<RTPPacketSize>100</RTPPacketSize>"), 0, 0},
        {"Size101", DEFAULT_SECTION("<RTPPacketSize>101</RTPPacketSize>"), 0, 101},
        {"SizeWithTrailingBlank", DEFAULT_SECTION("<RTPPacketSize>1400 </RTPPacketSize>"), 0, 0},
        {"SizeTooLarge", DEFAULT_SECTION("<RTPPacketSize>4294968696</RTPPacketSize>"), 0, 0},
        {"ReceiveBuffer", DEFAULT_SECTION("<RTPReceiveBuffer>8388608</RTPReceiveBuffer>"), 0, 0, "10.0.0.5", 80,
         8388608},
        {"ReceiveBufferTooSmall", DEFAULT_SECTION("<RTPReceiveBuffer>4095</RTPReceiveBuffer>"), 0, 0},
        {"ReceiveBufferNotANumber", DEFAULT_SECTION("<RTPReceiveBuffer>2M</RTPReceiveBuffer>"), 0, 0},
        {"Malformed", "<Configuration><Default><RTPMode>RTPoverTCP</RTPMode></Default>", 0, 0},
        {"Empty", "", 0, 0},
        {"OtherRoot", "<Settings><Default><RTPMode>RTPoverTCP</RTPMode></Default></Settings>", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.xml) Write(c.xml);
        driver.device.Address = c.address;
        driver.device.Port = c.port;
        const auto s = ReadDeviceSettings(&driver);
        EXPECT_EQ(s.RTPMode, c.mode);
        EXPECT_EQ(s.RTPPacketSize, c.packetSize);
        EXPECT_EQ(s.RTPReceiveBuffer, c.receiveBuffer);
    }
    EXPECT_TRUE(driver.Lines().empty());  // nothing is ever logged
}

// The file is the driver's name in the host directory, with a separator put
// in only when missing; without a host directory there is none.
TEST_F(SettingsFile, IsTheDriverNameInTheHostDirectory) {
    Write(kTwoSections);
    driver.hostDirectory = directory;
    EXPECT_EQ(dravnel::DeviceSettingsPath(&driver), directory + "/Quarnel.xml");
    EXPECT_EQ(ReadDeviceSettings(&driver).RTPMode, dravnel::kRtpOverTcp);
    driver.hostDirectory.clear();
    EXPECT_EQ(dravnel::DeviceSettingsPath(&driver), "");
    EXPECT_EQ(ReadDeviceSettings(&driver).RTPMode, dravnel::kRtpOverUdp);
    EXPECT_EQ(ReadDeviceSettings(nullptr).RTPMode, dravnel::kRtpOverUdp);

    dravnel::CXMLParser parser;  // a broken XPath expression matches nothing
    ASSERT_TRUE(parser.Load(directory + "/Quarnel.xml"));
    EXPECT_FALSE(parser.NodeExists("Configuration/[broken"));
    EXPECT_EQ(parser.GetText("Configuration/[broken"), "");
}

}  // namespace
