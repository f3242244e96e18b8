// The pure parts of the stream configuration: resolution names, frame rates,
// bit rates, the configuration summary, the change list and the log throttle.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "channel/CLogThrottle.h"
#include "channel/CResolutionHelper.h"
#include "channel/CStreamChanges.h"
#include "channel/StreamValues.h"

namespace {

using dravnel::CResolutionHelper;
using dravnel::CStreamChanges;

// A size takes the name of its first match in search order.
TEST(StreamConfig, ResolutionNamesFollowTheSearchOrder) {
    const std::tuple<bool, bool, uint32_t, uint32_t, const char*> names[] = {
        // ntsc, preferHd, width, height, name
        {false, false, 704, 576, "4cif"},
        {true, false, 704, 480, "4cif"},
        {false, false, 704, 480, ""},  // an NTSC size on a PAL channel
        // 352 x 288 is "cif" in the PAL family and "cifp" in the general table.
        {false, false, 352, 288, "cif"},
        {false, true, 352, 288, "cifp"},
        {true, true, 352, 240, "cifn"},
        {false, false, 1920, 1080, "1080p"},
        {false, true, 1280, 960, "960p"},  // before "quadvga"
        {false, true, 176, 144, "qcif"},   // general table first, then the CIF family
        {false, false, 800, 600, ""},
    };
    for (const auto& [ntsc, preferHd, width, height, name] : names)
        EXPECT_EQ(CResolutionHelper(ntsc, preferHd).GetName(width, height), name) << width << "x" << height;
}

// The channel's frame rate follows the interval or its marked rate and is
// never 0; the device is asked for a rate it offers.
TEST(StreamConfig, FrameRates) {
    const std::pair<uint32_t, uint32_t> rates[] = {
        {0, 1},
        {40, 25},
        {33, 30},
        {6, 167},   // 166.67
        {400, 3},   // 2.5 rounds up
        {1999, 1},  // 0.50025
        {0x700F, 15},
        {0x7FFF, 4095},
        {0x6FFF, 1},  // not marked: 1000 / 28671
        // Never 0 frames per second:
        {2001, 1},
        {0x7000, 1},
        {0xFFFFFFFF, 1},
    };
    for (const auto& [interval, rate] : rates) EXPECT_EQ(dravnel::ChannelFrameRate(interval), rate) << interval;

    // The device is asked for a rate it offers.
    const std::tuple<const char*, uint32_t, bool, uint32_t> offered[] = {
        {"ch1_strm1_fps_list=5|10|15", 30, true, 15},  // lowered to the maximum
        {"ch1_strm1_fps_list=5|10|15", 7, true, 5},    // a listed rate, not 7
        {"ch1_strm1_fps_list=5|10|15", 3, true, 5},    // all above: the smallest
        {"ch1_strm1_fps_list=15|auto|7\r\nch1_strm1_maxfps=30", 12, true, 7},
        {"ch1_strm1_fps_list=auto&ch1_strm1_maxfps=25", 30, true, 25},
        {"ch1_strm1_fps_list=&ch1_strm1_maxfps=25", 30, true, 25},  // empty list
        {"ch1_strm1_maxfps=25", 12, true, 12},
        {"ch1_strm1_fps_list=5|10&ch1_strm1_maxfps=25", 30, false, 25},
        {"ch2_strm1_maxfps=25", 30, true, 30},  // nothing known
    };
    for (const auto& [reply, channelRate, fromList, asked] : offered) {
        EXPECT_EQ(dravnel::DeviceFrameRate(reply, "ch1_strm1_", channelRate, fromList), asked)
            << reply << " at " << channelRate;
    }
}

TEST(StreamConfig, BitrateScalesTheQualityBetween100AndTheMaximum) {
    const std::tuple<const char*, uint32_t, uint32_t, const char*> rates[] = {
        {"4000", 704, 50, "2000"},  // m 40: 1 + 49 x 39 / 99 = 20.30
        {"4000", 704, 1, "100"},
        {"4099", 704, 100, "4000"},  // m is maxbr / 100, cut
        {"3000", 704, 75, "2300"},   // 1 + 74 x 29 / 99 = 22.68
        {"200", 704, 51, "200"},     // 1 + 50 / 99 = 1.505 rounds up
        {"99", 1920, 100, "6000"},   // m 0: default by width
        {"", 1600, 100, "6000"},
        {"", 1599, 100, "4000"},
        {"", 720, 100, "4000"},
        {"", 719, 100, "3000"},
        {"", 640, 100, "3000"},
        {"", 639, 100, "2000"},
        {"4000 ", 352, 100, "2000"},  // not a number: default
        // Out of the host's range: clamped to 1 and 100.
        {"4000", 704, 0, "100"},
        {"4000", 704, 250, "4000"},
        {"4294967295", 704, 100, "4294967200"},
    };
    for (const auto& [maxbr, width, quality, bitrate] : rates) {
        EXPECT_EQ(dravnel::BitrateForQuality(maxbr, width, quality), bitrate)
            << maxbr << ", width " << width << ", quality " << quality;
    }
}

TEST(StreamConfig, TheSummaryKeepsTheStreamEntriesWithoutLimitsOrLists) {
    const std::pair<const char*, const char*> replies[] = {
        {"res=200&ch1_strm1_codec=H264&ch1_strm1_res=4CIF&ch1_strm1_maxbr=4000"
         "&ch1_strm1_fps_list=5|10|15&ch1_strm1_fps=15&total_ch=1",
         "&ch1_strm1_codec=H264&ch1_strm1_res=4CIF&ch1_strm1_fps=15"},
        // One entry per line reads like the query-string form.
        {"res=200\r\nch1_strm1_codec=H264\r\nch1_strm1_maxfps=30\nch12_strm2_gov=15\r\n",
         "&ch1_strm1_codec=H264&ch12_strm2_gov=15"},
        {"ch_strm1_codec=x&chA_strm1_codec=x&ch1_strm_codec=x&ch1_strm1codec=x", ""},
        {"ch1_strm1_res_list=CIF|4CIF&ch1_strm1_en", "&ch1_strm1_en"},
        {"ch1_strm1_note=a=b&ch1_strm1_x=max", "&ch1_strm1_note=a=b&ch1_strm1_x=max"},
        {"&&\r\n", ""},
    };
    for (const auto& [reply, summary] : replies) EXPECT_EQ(dravnel::DescribeConfiguration(reply), summary) << reply;
}

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

TEST(LogThrottle, LogsTheFirst14ThenEveryPowerStepAndWrapsTo4095) {
    dravnel::CLogThrottle throttle;
    std::vector<uint32_t> logged, expected;
    for (uint32_t i = 1; i <= 65535 + 8192; ++i) {
        if (throttle.Advance()) logged.push_back(throttle.Count());
    }
    // Counts 1 to 14, then every 16th, 256th and 4096th below 65535. Failure
    // 65535 sets the count back to 4095 silently; the next 8192 failures
    // reach 12287 and log at 4096 and 8192.
    for (const auto& [first, last, step] : {std::tuple{1u, 14u, 1u},
                                            {16u, 240u, 16u},
                                            {256u, 3840u, 256u},
                                            {4096u, 61440u, 4096u},
                                            {4096u, 8192u, 4096u}}) {
        for (uint32_t n = first; n <= last; n += step) expected.push_back(n);
    }
    EXPECT_EQ(logged, expected);
    EXPECT_EQ(throttle.Count(), 4095u + 8192u);
}

}  // namespace
