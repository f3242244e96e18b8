// Interop with peers written elsewhere: JPEG and MPEG-4 RTP recorded from
// GStreamer's rtpjpegpay and rtpmp4vpay (tests/data/make_jpeg_mpeg4_rtp.sh)
// goes through the depacketizers, and FFmpeg must decode what we deliver
// without a complaint, at the recorded size.
#include <gtest/gtest.h>

#include "rtp/CJpegRTPMediaParser.h"
#include "rtp/CMpeg4RTPMediaParser.h"
#include "tests/rtp/RtpPeers.h"
#include "tests/support/DecodeH264.h"
#include "tests/support/DecodeVideo.h"

namespace {

using dravnel::test::Bytes;
using dravnel::test::Depacketizer;
using dravnel::test::ReadRecording;

// The packets as a camera that computes its tables from Q = 50 sends them:
// the first fragments lose their quantization table header. Offsets count
// scan bytes only, so the later fragments stay as they are. The recording's
// own tables must be those of Q = 50 for the pictures to stay right.
std::vector<Bytes> AtQuality50(std::vector<Bytes> packets) {
    for (Bytes& packet : packets) {
        uint8_t* p = packet.data() + 12;
        if (p[1] || p[2] || p[3]) continue;
        const size_t tables = 8 + (p[4] >= 64 ? 4 : 0);
        const size_t length = size_t(p[tables + 2]) << 8 | p[tables + 3];
        p[5] = 50;
        packet.erase(packet.begin() + long(12 + tables), packet.begin() + long(12 + tables + 4 + length));
    }
    return packets;
}

// Both layouts, with and without restart markers: every frame decodes.
TEST(JpegInterop, EveryLayoutDecodesCleanly) {
    if (!dravnel::test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    const std::pair<const char*, std::vector<Bytes>> kStreams[] = {
        {"Q 255, tables in the stream", ReadRecording("jpeg_q255.rtpstream")},
        {"Q 50, tables from Q", AtQuality50(ReadRecording("jpeg_q50.rtpstream"))},
        {"Q 255, restart markers", ReadRecording("jpeg_restart.rtpstream")},
        {"Q 50, restart markers", AtQuality50(ReadRecording("jpeg_restart.rtpstream"))},
    };
    for (const auto& [name, packets] : kStreams) {
        SCOPED_TRACE(name);
        Depacketizer<dravnel::CJpegRTPMediaParser> d;
        ASSERT_TRUE(d.Feed(packets));
        const auto frames = d.sink.Frames();
        ASSERT_EQ(frames.size(), 10u);
        EXPECT_EQ(frames[0].width, 320u);
        const auto decoded = dravnel::test::DecodeVideo(frames, "mjpeg");
        EXPECT_EQ(decoded.errors, "");
        EXPECT_EQ(decoded.probe, "320,240,10");
    }
}

// Types 64 to 127 with tables from Q, built as RFC 2435's sample code does
// (the restart marker header left in front of the scan, no DRI), do not
// decode: the frame of the stream above that decodes becomes one that fails.
TEST(JpegInterop, RestartMarkersNeedTheirInterval) {
    if (!dravnel::test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    Depacketizer<dravnel::CJpegRTPMediaParser> d;
    ASSERT_TRUE(d.Feed(AtQuality50(ReadRecording("jpeg_restart.rtpstream"))));
    ASSERT_FALSE(d.sink.Frames().empty());
    Bytes image = d.sink.Frames()[0].data;
    const Bytes dri{0xFF, 0xDD, 0x00, 0x04};
    const auto at = std::search(image.begin(), image.end(), dri.begin(), dri.end());
    ASSERT_NE(at, image.end());
    const Bytes restartHeader{at[4], at[5], 0xFF, 0xFF};
    image.erase(at, at + 6);
    const Bytes sos{0xFF, 0xDA, 0x00, 0x0C};
    const auto scan = std::search(image.begin(), image.end(), sos.begin(), sos.end()) + 14;
    image.insert(scan, restartHeader.begin(), restartHeader.end());
    EXPECT_NE(dravnel::test::DecodeVideo(std::vector<Bytes>{image}, "mjpeg").errors, "");
}

// An elementary stream with the headers in front of every key frame.
TEST(Mpeg4Interop, DecodesCleanly) {
    if (!dravnel::test::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    Depacketizer<dravnel::CMpeg4RTPMediaParser> d;
    ASSERT_TRUE(d.Feed(ReadRecording("mpeg4.rtpstream")));
    const auto frames = d.sink.Frames();
    ASSERT_EQ(frames.size(), 30u);
    size_t keyFrames = 0;
    for (const auto& f : frames) keyFrames += f.codecTag == dravnel::kCodecTagMpeg4Key;
    EXPECT_EQ(keyFrames, 3u);
    const auto decoded = dravnel::test::DecodeVideo(frames, "m4v");
    EXPECT_EQ(decoded.errors, "");
    EXPECT_EQ(decoded.probe, "320,240,30");
}

}  // namespace
