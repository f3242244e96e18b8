// Picture sizes from sequence parameter sets: x264's own output (through
// GStreamer's x264enc and FFmpeg's libx264), and sets with what x264 does not
// put into an SPS (scaling lists, POC type 1), written bit by bit.
#include <gtest/gtest.h>

#include <string>

#include "rtp/H264Sps.h"
#include "tests/rtp/H264TestData.h"

namespace {

using dravnel::PictureSize;
using quarnel::test::Bytes;
using quarnel::test::FromHex;

struct SpsCase {
    const char* name;
    const char* hex;
    uint32_t width;
    uint32_t height;
};

// 67: NAL header; then profile_idc, constraint flags, level_idc.
const SpsCase kCases[] = {
    // 64 00 28: High, level 4.0; 120 x 68 macroblocks (1920 x 1088) cropped
    // by 4 chroma rows at the bottom; the VUI behind it holds 00 00 03 twice.
    {"X264High1080p", "67640028acd940780227e5c05a808080a0000003002000000651e30632c0", 1920, 1080},
    {"X264Baseline240p", quarnel::test::kSps320x240, 320, 240},
    // 42 c0 14: Constrained Baseline, level 2.0; 22 x 18 macroblocks.
    {"X264Baseline288p", "6742c014da05825b014a0c0c0d4a000003000200000300651e285540", 352, 288},
    // x264 --interlaced: frame_mbs_only_flag 0, so 34 map units are 68
    // macroblock rows (1088), and the 2 crop units at the bottom are 4 luma
    // rows each.
    {"X264Interlaced1080i", "67640028acd94078044fde0220000003002000000643e2c5b2c0", 1920, 1080},
    // f4 00 0d: High 4:4:4 Predictive; 20 x 15 macroblocks, of which 2
    // columns on the right are cropped: 4:4:4 crops in luma samples.
    {"X264High444Cropped", "67f4000d919b28283fdf80880000030008000003019078a14cb0", 318, 240},
    // 64 00 1e: High; seq_scaling_matrix_present_flag with 8 list flags,
    // lists 0, 2, 4, 6 sent (deltas +8, -16: 16s ended early); POC type 0;
    // 20 x 15 macroblocks.
    {"HighScalingLists", "6764001ead84010a1004284010a10042da0507e4", 320, 240},
    // f4 00 1e: High 4:4:4 Predictive, chroma_format_idc 3: 12 list flags,
    // lists 0, 2, 4, 6, 8, 10 sent as above; 20 x 15 macroblocks.
    {"High444TwelveScalingLists", "67f4001e91b08021420085080214200850802142008568141f90", 320, 240},
    // 42 00 1e: Baseline; POC type 1 with offset_for_non_ref_pic -2^24 (25
    // leading zero bits), so emulation prevention bytes (00 00 03) come
    // before the picture size, 40 x 30 macroblocks. Read with them left in,
    // the size would be 16 x 32.
    {"EmulationPrevention", "6742001ed00000030100000300d00004000501407b20", 640, 480},
};

class SpsSize : public ::testing::TestWithParam<SpsCase> {};

TEST_P(SpsSize, ReadsThePictureSize) {
    PictureSize size;
    ASSERT_TRUE(dravnel::ReadSpsSize(FromHex(GetParam().hex), size));
    EXPECT_EQ(size.width, GetParam().width);
    EXPECT_EQ(size.height, GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(Sets, SpsSize, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(H264Sps, RejectsWhatIsNoPictureSize) {
    PictureSize size;
    const Bytes rejected[] = {
        {},
        FromHex("68ce3c80"),      // a PPS
        FromHex("6742c00dda0507"),  // cut inside pic_height_in_map_units_minus1
        // the same, then a start code: read on into the unit behind it, the
        // size would be 320 x 448
        FromHex("6742c00dda0507" "000001" "6800"),
        FromHex("6742001eda0507f028814740"),  // 20 x 15 macroblocks, 80 crop units left and right
        FromHex("6742001eda0004e207e4"),      // 5000 macroblocks (80 000 columns) wide
    };
    for (const Bytes& nal : rejected) EXPECT_FALSE(dravnel::ReadSpsSize(nal, size)) << nal.size() << " bytes";
}

// The start code and the SPS header must both lie in the searched bytes.
TEST(H264Sps, FindSpsSizeLooksAtTheStartOfAFrame) {
    auto frameWithSpsAt = [](size_t offset) {
        return quarnel::test::Cat({Bytes(offset, 0xAB), {0x00, 0x00, 0x01}, FromHex(quarnel::test::kSps320x240)});
    };
    PictureSize size;
    EXPECT_TRUE(dravnel::FindSpsSize(frameWithSpsAt(60), 64, size));
    EXPECT_EQ(size.width, 320u);
    EXPECT_FALSE(dravnel::FindSpsSize(frameWithSpsAt(61), 64, size));
    EXPECT_FALSE(dravnel::FindSpsSize(Bytes{0x00, 0x00, 0x01}, 64, size));
}

}  // namespace
