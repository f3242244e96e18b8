// Reading the RTP recordings the simulated camera replays: the committed
// interop recordings as GStreamer's payloaders wrote them, and files that
// are not recordings, each refused with where and why.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/rtsp/RtpRecording.h"

namespace dravnel::sim {
namespace {

std::vector<uint8_t> ReadData(const std::string& name) {
    std::ifstream in(std::string(QUARNEL_SOURCE_DIR) + "/tests/data/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Parameter(const RtpRecording& recording, const std::string& name) {
    for (const auto& [key, value] : recording.parameters)
        if (key == name) return value;
    return {};
}

TEST(RtpRecording, ReadsFramesAndTheSdpParametersOfEachCodec) {
    const struct {
        const char* file;
        RtspCodec codec;
        uint8_t payloadType;
        size_t frames;
        const char* parameter;  // one the SDP must carry, and how it starts
        const char* starts;
    } cases[] = {
        // x264's constrained baseline at level 1.3 (42 C0 0D), SPS then PPS.
        {"h264_fua.rtpstream", RtspCodec::H264, 96, 50, "profile-level-id", "42c0"},
        {"h264_slices.rtpstream", RtspCodec::H264, 96, 40, "sprop-parameter-sets", "Z0"},
        {"jpeg_q50.rtpstream", RtspCodec::JPEG, 26, 10, nullptr, nullptr},
        // avenc_mpeg4 stamped every packet alike: one frame; the VOS header first.
        {"mpeg4.rtpstream", RtspCodec::MPEG4, 96, 1, "config", "000001b0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto file = ReadData(c.file);
        ASSERT_FALSE(file.empty());
        std::string error;
        const auto recording = RtpRecording::Parse(file, error);
        ASSERT_TRUE(recording) << error;
        EXPECT_EQ(recording->codec, c.codec);
        EXPECT_EQ(recording->payloadType, c.payloadType);
        EXPECT_EQ(recording->frames.size(), c.frames);
        // 25 frames a second: each frame 3600 ticks on from the one before.
        EXPECT_EQ(recording->loopTicks, c.frames * 3600);
        EXPECT_EQ(recording->frames.back().ticksFromStart, (c.frames - 1) * 3600);
        if (c.parameter) {
            const std::string value = Parameter(*recording, c.parameter);
            EXPECT_EQ(value.rfind(c.starts, 0), 0u) << c.parameter << "=" << value;
        }
        size_t packets = 0;
        for (const auto& frame : recording->frames) packets += frame.packetCount;
        EXPECT_EQ(packets, recording->packets.size());
    }
}

TEST(RtpRecording, RefusesWhatIsNotARecordingAndSaysWhere) {
    // 2-byte length, then a 12-byte RTP header (V=2, PT 96) and 2 payload bytes.
    const std::vector<uint8_t> good = {0, 14, 0x80, 96, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0x65, 0x88};
    auto with = [&](size_t at, uint8_t value) {
        auto bytes = good;
        bytes[at] = value;
        return bytes;
    };
    std::vector<uint8_t> twoTypes = good;
    twoTypes.insert(twoTypes.end(), good.begin(), good.end());
    twoTypes[good.size() + 3] = 97;
    const struct {
        const char* name;
        std::vector<uint8_t> file;
        const char* error;
    } cases[] = {
        {"empty", {}, "holds no packet"},
        {"cut short", std::vector<uint8_t>(good.begin(), good.end() - 1),
         "packet 1 at byte 0: the file ends inside it"},
        {"length of one byte", {0, 1, 0x80}, "too short for its RTP header (1 bytes)"},
        {"version 1", with(2, 0x40), "not RTP version 2"},
        {"CSRCs past the end", with(2, 0x8F), "too short"},
        {"two payload types", twoTypes, "packet 2 at byte 16: payload type 97 after 96"},
        {"static type not JPEG", with(3, 0), "payload type 0 is not JPEG"},
        {"neither codec", with(14, 0x80), "neither H.264 nor MPEG-4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_FALSE(RtpRecording::Parse(c.file, error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    std::string error;
    EXPECT_TRUE(RtpRecording::Parse(good, error)) << error;
}

}  // namespace
}  // namespace dravnel::sim
