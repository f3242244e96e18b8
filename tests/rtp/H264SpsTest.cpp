// Picture sizes from sequence parameter sets: encoder output taken from x264
// and sets written field by field.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "rtp/H264Sps.h"
#include "tests/rtp/H264TestData.h"

namespace {

using dravnel::PictureSize;
using quarnel::test::Bytes;
using quarnel::test::SpsFields;
using quarnel::test::SpsNal;

Bytes FromHex(const std::string& hex) {
    Bytes b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return b;
}

struct EncoderSps {
    const char* name;
    const char* hex;
    uint32_t width;
    uint32_t height;
};

// SPS NAL units as x264 (through GStreamer's x264enc) wrote them.
const EncoderSps kEncoderSps[] = {
    // 67: NAL header; 64 00 28: High profile, level 4.0; chroma 4:2:0;
    // 120 x 68 macroblocks (1920 x 1088) cropped by 4 chroma rows at the
    // bottom; the VUI behind it holds 00 00 03 twice.
    {"High1080p", "67640028acd940780227e5c05a808080a0000003002000000651e30632c0", 1920, 1080},
    // 42 c0 0d: Constrained Baseline, level 1.3; 20 x 15 macroblocks.
    {"Baseline240p", "6742c00dda0507ec05a8303035280000030008000003019478a155", 320, 240},
    // 42 c0 14: level 2.0; 22 x 18 macroblocks.
    {"Baseline288p", "6742c014da05825b014a0c0c0d4a000003000200000300651e285540", 352, 288},
};

class EncoderSpsSize : public ::testing::TestWithParam<EncoderSps> {};

TEST_P(EncoderSpsSize, ReadsThePictureSize) {
    PictureSize size;
    ASSERT_TRUE(dravnel::ReadSpsSize(FromHex(GetParam().hex), size));
    EXPECT_EQ(size.width, GetParam().width);
    EXPECT_EQ(size.height, GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(X264, EncoderSpsSize, ::testing::ValuesIn(kEncoderSps),
                         [](const auto& info) { return std::string(info.param.name); });

struct BuiltSps {
    std::string name;
    SpsFields fields;
    uint32_t width;
    uint32_t height;
};

std::vector<BuiltSps> BuiltCases() {
    std::vector<BuiltSps> c;
    c.push_back({"Baseline320x240", SpsFields{}, 320, 240});
    {
        SpsFields f;
        f.profile = 100;
        f.widthMbs = 120;
        f.heightMapUnits = 68;
        f.cropping = true;
        f.cropBottom = 4;  // 4 chroma rows = 8 luma rows
        c.push_back({"High1080pCropped", f, 1920, 1080});
    }
    {
        // Field coding: map units are pairs of macroblock rows, and a crop
        // unit is 4 luma rows (1088 - 4 x 2).
        SpsFields f;
        f.profile = 100;
        f.widthMbs = 120;
        f.heightMapUnits = 34;
        f.frameMbsOnly = false;
        f.cropping = true;
        f.cropBottom = 2;
        c.push_back({"Interlaced1080i", f, 1920, 1080});
    }
    {
        // 4:4:4 crops in luma samples: 2 columns left and right.
        SpsFields f;
        f.profile = 244;
        f.chromaFormat = 3;
        f.cropping = true;
        f.cropLeft = 1;
        f.cropRight = 1;
        c.push_back({"High444Cropped", f, 318, 240});
    }
    {
        SpsFields f;
        f.profile = 100;
        f.scalingMatrix = true;
        f.pocType = 0;
        c.push_back({"HighScalingLists", f, 320, 240});
    }
    {
        // 4:4:4 carries twelve scaling lists, not eight.
        SpsFields f;
        f.profile = 244;
        f.chromaFormat = 3;
        f.scalingMatrix = true;
        c.push_back({"High444TwelveScalingLists", f, 320, 240});
    }
    {
        SpsFields f;
        f.pocType = 1;
        f.offsetForNonRefPic = 5;
        f.widthMbs = 44;
        f.heightMapUnits = 36;
        c.push_back({"PocType1", f, 704, 576});
    }
    return c;
}

class BuiltSpsSize : public ::testing::TestWithParam<BuiltSps> {};

TEST_P(BuiltSpsSize, ReadsThePictureSize) {
    PictureSize size;
    ASSERT_TRUE(dravnel::ReadSpsSize(SpsNal(GetParam().fields), size));
    EXPECT_EQ(size.width, GetParam().width);
    EXPECT_EQ(size.height, GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(Fields, BuiltSpsSize, ::testing::ValuesIn(BuiltCases()),
                         [](const auto& info) { return info.param.name; });

// An offset of -2^24 codes as se(v) with 25 leading zero bits: the encoder
// inserts emulation prevention bytes before the picture size fields. Read
// with those bytes left in, this SPS gives 16 x 32.
TEST(H264Sps, EmulationPreventionBytesAreRemoved) {
    SpsFields f;
    f.pocType = 1;
    f.offsetForNonRefPic = -(1 << 24);
    f.widthMbs = 40;
    f.heightMapUnits = 30;
    const Bytes nal = SpsNal(f);
    const Bytes prevention{0x00, 0x00, 0x03};
    ASSERT_NE(std::search(nal.begin(), nal.end(), prevention.begin(), prevention.end()), nal.end());
    PictureSize size;
    ASSERT_TRUE(dravnel::ReadSpsSize(nal, size));
    EXPECT_EQ(size.width, 640u);
    EXPECT_EQ(size.height, 480u);
}

TEST(H264Sps, RejectsWhatIsNoPictureSize) {
    PictureSize size;
    const Bytes good = SpsNal(SpsFields{});
    EXPECT_FALSE(dravnel::ReadSpsSize({}, size));
    // Another NAL type.
    Bytes pps = good;
    pps[0] = 0x68;
    EXPECT_FALSE(dravnel::ReadSpsSize(pps, size));
    // Cut before the cropping flag.
    EXPECT_FALSE(dravnel::ReadSpsSize(Bytes(good.begin(), good.begin() + 6), size));
    // Cropped away entirely.
    SpsFields f;
    f.cropping = true;
    f.cropLeft = 80;
    f.cropRight = 80;
    EXPECT_FALSE(dravnel::ReadSpsSize(SpsNal(f), size));
    // Beyond 65535 pixels.
    SpsFields huge;
    huge.widthMbs = 5000;
    EXPECT_FALSE(dravnel::ReadSpsSize(SpsNal(huge), size));
    // A next start code ends the SPS: its fields may not run on into the PPS.
    Bytes cut(good.begin(), good.begin() + 6);
    cut.insert(cut.end(), {0x00, 0x00, 0x01, 0x68, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_FALSE(dravnel::ReadSpsSize(cut, size));
}

TEST(H264Sps, FindSpsSizeLooksAtTheStartOfAFrame) {
    const Bytes sps = SpsNal(SpsFields{});
    auto frameWithSpsAt = [&](size_t offset) {
        Bytes frame(offset, 0xAB);
        frame.insert(frame.end(), {0x00, 0x00, 0x01});
        frame.insert(frame.end(), sps.begin(), sps.end());
        frame.insert(frame.end(), {0x00, 0x00, 0x01, 0x68, 0xCE, 0x3C, 0x80});
        return frame;
    };
    PictureSize size;
    EXPECT_TRUE(dravnel::FindSpsSize(frameWithSpsAt(0), 64, size));
    EXPECT_EQ(size.width, 320u);
    EXPECT_TRUE(dravnel::FindSpsSize(frameWithSpsAt(60), 64, size));
    EXPECT_FALSE(dravnel::FindSpsSize(frameWithSpsAt(61), 64, size));
    EXPECT_FALSE(dravnel::FindSpsSize(Bytes{0x00, 0x00, 0x01}, 64, size));
}

}  // namespace
