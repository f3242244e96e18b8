// Picture sizes from sequence parameter sets: x264's own output (through
// GStreamer's x264enc and FFmpeg's libx264), and sets written field by field
// for what x264 does not put into an SPS (scaling lists, POC type 1).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "rtp/H264Sps.h"
#include "tests/rtp/H264TestData.h"

namespace {

using dravnel::PictureSize;
using quarnel::test::Bytes;
using quarnel::test::SpsNal;

Bytes FromHex(const std::string& hex) {
    Bytes b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return b;
}

struct SpsCase {
    std::string name;
    Bytes nal;
    uint32_t width;
    uint32_t height;
};

std::vector<SpsCase> Cases() {
    return {
        // 67: NAL header; 64 00 28: High
        // profile, level 4.0; 120 x 68 macroblocks (1920 x 1088) cropped by 4
        // chroma rows at the bottom; the VUI behind it holds 00 00 03 twice.
        {"X264High1080p", FromHex("67640028acd940780227e5c05a808080a0000003002000000651e30632c0"), 1920, 1080},
        // 42 c0 0d: Constrained Baseline, level 1.3; 20 x 15 macroblocks.
        {"X264Baseline240p", FromHex("6742c00dda0507ec05a8303035280000030008000003019478a155"), 320, 240},
        // 42 c0 14: level 2.0; 22 x 18 macroblocks.
        {"X264Baseline288p", FromHex("6742c014da05825b014a0c0c0d4a000003000200000300651e285540"), 352, 288},
        // x264 --interlaced: 64 00 28 High, level 4.0; frame_mbs_only_flag 0,
        // so 34 map units are 68 macroblock rows (1088) and the 2 crop units
        // at the bottom are 4 luma rows each.
        {"X264Interlaced1080i", FromHex("67640028acd94078044fde0220000003002000000643e2c5b2c0"), 1920, 1080},
        // f4 00 0d: High 4:4:4 Predictive, level 1.3; 20 x 15 macroblocks, of
        // which 4:4:4 crops 2 columns on the right in luma samples.
        {"X264High444Cropped", FromHex("67f4000d919b28283fdf80880000030008000003019078a14cb0"), 318, 240},
        // 4:4:4 carries twelve scaling lists, not eight.
        {"High444TwelveScalingLists", SpsNal({.profile = 244, .chromaFormat = 3, .scalingMatrix = true}), 320, 240},
        // 4:2:0 with eight lists, and POC type 0.
        {"HighScalingLists", SpsNal({.profile = 100, .scalingMatrix = true, .pocType = 0}), 320, 240},
    };
}

class SpsSize : public ::testing::TestWithParam<SpsCase> {};

TEST_P(SpsSize, ReadsThePictureSize) {
    PictureSize size;
    ASSERT_TRUE(dravnel::ReadSpsSize(GetParam().nal, size));
    EXPECT_EQ(size.width, GetParam().width);
    EXPECT_EQ(size.height, GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(Sets, SpsSize, ::testing::ValuesIn(Cases()), [](const auto& info) { return info.param.name; });

// An offset of -2^24 codes as se(v) with 25 leading zero bits, so the
// encoder puts an emulation prevention byte before the picture size fields.
// Read with that byte left in, this SPS gives 16 x 32.
TEST(H264Sps, EmulationPreventionBytesAreRemoved) {
    const Bytes nal = SpsNal({.pocType = 1, .offsetForNonRefPic = -(1 << 24), .widthMbs = 40, .heightMapUnits = 30});
    const Bytes prevention{0x00, 0x00, 0x03};
    ASSERT_NE(std::search(nal.begin(), nal.end(), prevention.begin(), prevention.end()), nal.end());
    PictureSize size;
    ASSERT_TRUE(dravnel::ReadSpsSize(nal, size));
    EXPECT_EQ(size.width, 640u);
    EXPECT_EQ(size.height, 480u);
}

TEST(H264Sps, RejectsWhatIsNoPictureSize) {
    PictureSize size;
    const Bytes good = SpsNal({});
    Bytes pps = good;
    pps[0] = 0x68;
    Bytes runsIntoPps(good.begin(), good.begin() + 6);  // cut before the size fields
    runsIntoPps.insert(runsIntoPps.end(), {0x00, 0x00, 0x01, 0x68, 0xFF, 0xFF, 0xFF, 0xFF});
    const Bytes rejected[] = {
        {},
        pps,                                   // another NAL type
        Bytes(good.begin(), good.begin() + 6),  // truncated
        runsIntoPps,                           // the next start code ends the SPS
        SpsNal({.cropping = true, .cropLeft = 80, .cropRight = 80}),  // cropped away entirely
        SpsNal({.widthMbs = 5000}),                                   // beyond 65535 pixels
    };
    for (const Bytes& nal : rejected) EXPECT_FALSE(dravnel::ReadSpsSize(nal, size)) << nal.size() << " bytes";
}

// The start code and the SPS header must both lie in the searched bytes.
TEST(H264Sps, FindSpsSizeLooksAtTheStartOfAFrame) {
    const Bytes sps = SpsNal({});
    auto frameWithSpsAt = [&](size_t offset) {
        Bytes frame(offset, 0xAB);
        frame.insert(frame.end(), {0x00, 0x00, 0x01});
        frame.insert(frame.end(), sps.begin(), sps.end());
        return frame;
    };
    PictureSize size;
    EXPECT_TRUE(dravnel::FindSpsSize(frameWithSpsAt(60), 64, size));
    EXPECT_EQ(size.width, 320u);
    EXPECT_FALSE(dravnel::FindSpsSize(frameWithSpsAt(61), 64, size));
    EXPECT_FALSE(dravnel::FindSpsSize(Bytes{0x00, 0x00, 0x01}, 64, size));
}

}  // namespace
