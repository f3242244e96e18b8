// The pure parts of the stream configuration: resolution names, frame rates,
// bit rates, the configuration summary, the change list and the log throttle.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel/CLogThrottle.h"
#include "channel/CResolutionHelper.h"
#include "channel/CStreamChanges.h"
#include "channel/StreamValues.h"

namespace {

using dravnel::CResolutionHelper;
using dravnel::CStreamChanges;

// ---- resolution names ------------------------------------------------------

struct NameCase {
    bool ntsc;
    bool preferHd;
    uint32_t width;
    uint32_t height;
    const char* name;
};

class ResolutionNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(ResolutionNames, NameASizeByTheFirstMatchInSearchOrder) {
    const NameCase& c = GetParam();
    EXPECT_EQ(CResolutionHelper(c.ntsc, c.preferHd).GetName(c.width, c.height), c.name);
}

INSTANTIATE_TEST_SUITE_P(
    StreamConfig, ResolutionNames,
    ::testing::Values(
        NameCase{false, false, 704, 576, "4cif"}, NameCase{true, false, 704, 480, "4cif"},
        NameCase{false, false, 704, 480, ""},  // an NTSC size on a PAL channel
        // 352 x 288 is "cif" in the PAL family and "cifp" in the general table.
        NameCase{false, false, 352, 288, "cif"}, NameCase{false, true, 352, 288, "cifp"},
        NameCase{true, true, 352, 240, "cifn"}, NameCase{false, false, 1920, 1080, "1080p"},
        NameCase{false, true, 1280, 960, "960p"},  // before "quadvga"
        NameCase{false, true, 176, 144, "qcif"},   // general table first, then the CIF family
        NameCase{false, false, 800, 600, ""}));

struct SizeCase {
    bool ntsc;
    const char* text;
    bool ok;
    uint32_t width;
    uint32_t height;
};

class ResolutionSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ResolutionSizes, ReadANameOrWidthByHeight) {
    const SizeCase& c = GetParam();
    uint32_t width = 7;
    uint32_t height = 7;
    EXPECT_EQ(CResolutionHelper(c.ntsc, false).GetSize(c.text, width, height), c.ok);
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
}

INSTANTIATE_TEST_SUITE_P(StreamConfig, ResolutionSizes,
                         ::testing::Values(SizeCase{true, "4cif", true, 704, 480},
                                           SizeCase{false, "QuadVGA", true, 1280, 960},
                                           SizeCase{false, "UXGA", true, 1600, 1200},  // holds an 'x'
                                           SizeCase{false, "640X480", true, 640, 480},
                                           SizeCase{false, "1280x", false, 0, 0},
                                           SizeCase{false, "1280 x720", false, 0, 0},
                                           SizeCase{false, "+1280x720", false, 0, 0},
                                           SizeCase{false, "1280x720x1", false, 0, 0},
                                           SizeCase{false, "99999999999x1", false, 0, 0},
                                           SizeCase{false, "svga", false, 0, 0}));

// ---- frame rates -----------------------------------------------------------

struct RateCase {
    uint32_t interval;
    uint32_t rate;
};

class FrameRates : public ::testing::TestWithParam<RateCase> {};

TEST_P(FrameRates, FollowTheIntervalOrItsMarkedRate) {
    EXPECT_EQ(dravnel::ChannelFrameRate(GetParam().interval), GetParam().rate);
}

INSTANTIATE_TEST_SUITE_P(StreamConfig, FrameRates,
                         ::testing::Values(RateCase{0, 1}, RateCase{40, 25}, RateCase{33, 30},
                                           RateCase{6, 167},   // 166.67
                                           RateCase{400, 3},   // 2.5 rounds up
                                           RateCase{1999, 1},  // 0.50025
                                           RateCase{0x700F, 15}, RateCase{0x7FFF, 4095},
                                           RateCase{0x6FFF, 1},  // not marked: 1000 / 28671
                                           // Never 0 frames per second:
                                           RateCase{2001, 1}, RateCase{0x7000, 1}, RateCase{0xFFFFFFFF, 1}));

struct DeviceRateCase {
    const char* reply;
    uint32_t channelRate;
    bool fromList;
    uint32_t asked;
};

class DeviceRate : public ::testing::TestWithParam<DeviceRateCase> {};

TEST_P(DeviceRate, IsARateTheDeviceOffers) {
    const auto& c = GetParam();
    EXPECT_EQ(dravnel::DeviceFrameRate(c.reply, "ch1_strm1_", c.channelRate, c.fromList), c.asked);
}

INSTANTIATE_TEST_SUITE_P(
    StreamConfig, DeviceRate,
    ::testing::Values(DeviceRateCase{"ch1_strm1_fps_list=5|10|15", 30, true, 15},  // lowered to the maximum
                      DeviceRateCase{"ch1_strm1_fps_list=5|10|15", 7, true, 5},   // a listed rate, not 7
                      DeviceRateCase{"ch1_strm1_fps_list=5|10|15", 3, true, 5},   // all above: the smallest
                      DeviceRateCase{"ch1_strm1_fps_list=15|auto|7\r\nch1_strm1_maxfps=30", 12, true, 7},
                      DeviceRateCase{"ch1_strm1_fps_list=auto&ch1_strm1_maxfps=25", 30, true, 25},
                      DeviceRateCase{"ch1_strm1_fps_list=&ch1_strm1_maxfps=25", 30, true, 25},  // empty list
                      DeviceRateCase{"ch1_strm1_maxfps=25", 12, true, 12},
                      DeviceRateCase{"ch1_strm1_fps_list=5|10&ch1_strm1_maxfps=25", 30, false, 25},
                      DeviceRateCase{"ch2_strm1_maxfps=25", 30, true, 30}));  // nothing known

// ---- bit rate --------------------------------------------------------------

struct BitrateCase {
    const char* maxbr;
    uint32_t width;
    uint32_t quality;
    const char* bitrate;
};

class Bitrates : public ::testing::TestWithParam<BitrateCase> {};

TEST_P(Bitrates, ScaleTheQualityBetween100AndTheMaximum) {
    const BitrateCase& c = GetParam();
    EXPECT_EQ(dravnel::BitrateForQuality(c.maxbr, c.width, c.quality), c.bitrate);
}

INSTANTIATE_TEST_SUITE_P(
    StreamConfig, Bitrates,
    ::testing::Values(BitrateCase{"4000", 704, 50, "2000"},  // m 40: 1 + 49 x 39 / 99 = 20.30
                      BitrateCase{"4000", 704, 1, "100"},
                      BitrateCase{"4099", 704, 100, "4000"},  // m is maxbr / 100, cut
                      BitrateCase{"3000", 704, 75, "2300"},   // 1 + 74 x 29 / 99 = 22.68
                      BitrateCase{"200", 704, 51, "200"},     // 1 + 50 / 99 = 1.505 rounds up
                      BitrateCase{"99", 1920, 100, "6000"},   // m 0: default by width
                      BitrateCase{"", 1600, 100, "6000"}, BitrateCase{"", 1599, 100, "4000"},
                      BitrateCase{"", 720, 100, "4000"}, BitrateCase{"", 719, 100, "3000"},
                      BitrateCase{"", 640, 100, "3000"}, BitrateCase{"", 639, 100, "2000"},
                      BitrateCase{"4000 ", 352, 100, "2000"},  // not a number: default
                      // Out of the host's range: clamped to 1 and 100.
                      BitrateCase{"4000", 704, 0, "100"}, BitrateCase{"4000", 704, 250, "4000"},
                      BitrateCase{"4294967295", 704, 100, "4294967200"}));

// ---- configuration summary -------------------------------------------------

struct DescribeCase {
    const char* reply;
    const char* summary;
};

class Describe : public ::testing::TestWithParam<DescribeCase> {};

TEST_P(Describe, KeepsTheStreamEntriesWithoutLimitsOrLists) {
    EXPECT_EQ(dravnel::DescribeConfiguration(GetParam().reply), GetParam().summary);
}

INSTANTIATE_TEST_SUITE_P(
    StreamConfig, Describe,
    ::testing::Values(
        DescribeCase{"res=200&ch1_strm1_codec=H264&ch1_strm1_res=4CIF&ch1_strm1_maxbr=4000"
                     "&ch1_strm1_fps_list=5|10|15&ch1_strm1_fps=15&total_ch=1",
                     "&ch1_strm1_codec=H264&ch1_strm1_res=4CIF&ch1_strm1_fps=15"},
        // One entry per line reads like the query-string form.
        DescribeCase{"res=200\r\nch1_strm1_codec=H264\r\nch1_strm1_maxfps=30\nch12_strm2_gov=15\r\n",
                     "&ch1_strm1_codec=H264&ch12_strm2_gov=15"},
        DescribeCase{"ch_strm1_codec=x&chA_strm1_codec=x&ch1_strm_codec=x&ch1_strm1codec=x", ""},
        DescribeCase{"ch1_strm1_res_list=CIF|4CIF&ch1_strm1_en", "&ch1_strm1_en"},
        DescribeCase{"ch1_strm1_note=a=b&ch1_strm1_x=max", "&ch1_strm1_note=a=b&ch1_strm1_x=max"},
        DescribeCase{"&&\r\n", ""}));

// ---- change list -----------------------------------------------------------

TEST(StreamChanges, SendOnlyReportedKeysWhoseValueDiffersByteForByte) {
    CStreamChanges changes("&ch1_strm1_codec=H264&ch1_strm1_res=cif&ch1_strm1_fps=25&ch1_strm1_gov=");
    using R = CStreamChanges::Result;
    EXPECT_EQ(changes.Change("ch1_strm1_codec", "H264"), R::Unchanged);
    EXPECT_EQ(changes.Change("ch1_strm1_res", "CIF"), R::Changed);  // case counts
    EXPECT_EQ(changes.Change("ch1_strm1_bitrate", "2000"), R::NotReported);
    EXPECT_EQ(changes.Change("ch1_strm1_gov", "25"), R::NotReported);  // an empty value is no report
    EXPECT_EQ(changes.Change("ch1_strm1_fps", ""), R::EmptyValue);     // nothing wanted: never sent
    EXPECT_EQ(changes.Change("ch1_strm1_fps", "15"), R::Changed);
    EXPECT_EQ(changes.Change("codec", "MJPEG"), R::NotReported);  // names match whole
    changes.Append("ch1_strm1_gov_struct", "1");                  // whatever the device reports
    EXPECT_EQ(changes.List(), "&ch1_strm1_res=CIF&ch1_strm1_fps=15&ch1_strm1_gov_struct=1");
    EXPECT_EQ(changes.Text(), "&ch1_strm1_codec=H264&ch1_strm1_res=CIF&ch1_strm1_fps=15&ch1_strm1_gov=");
    // The text now holds the new value, so the same change is not made twice.
    EXPECT_EQ(changes.Change("ch1_strm1_res", "CIF"), R::Unchanged);
}

// ---- log throttle ----------------------------------------------------------

TEST(LogThrottle, LogsTheFirst14ThenEveryPowerStepAndWrapsTo4095) {
    dravnel::CLogThrottle throttle;
    std::vector<uint32_t> logged;
    for (uint32_t i = 1; i <= 65535 + 8192; ++i) {
        if (throttle.Advance()) logged.push_back(throttle.Count());
    }
    std::vector<uint32_t> expected;
    for (uint32_t n = 1; n <= 14; ++n) expected.push_back(n);
    for (uint32_t n = 16; n <= 240; n += 16) expected.push_back(n);
    for (uint32_t n = 256; n <= 3840; n += 256) expected.push_back(n);
    for (uint32_t n = 4096; n <= 61440; n += 4096) expected.push_back(n);
    // Failure 65535 sets the count back to 4095 silently; the next 8192
    // failures reach 12287 and log at 4096 and 8192.
    expected.push_back(4096);
    expected.push_back(8192);
    EXPECT_EQ(logged, expected);
    EXPECT_EQ(throttle.Count(), 4095u + 8192u);
}

}  // namespace
