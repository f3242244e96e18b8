// Throughput of JPEG and MPEG-4 depacketization on 1080p streams, beside a
// plain memcpy of the same payload bytes into frame-sized buffers, one memcpy
// per packet, as the H.264 benchmark measures it. Both parsers copy every
// byte twice (payload to frame buffer, then the frame to the host's frame;
// the JPEG one writes its rebuilt header in front), so about half the memcpy
// rate is what they can reach. The program ends by printing both ratios.
//
// The streams are recorded with GStreamer (jpegenc and rtpjpegpay, Q=255 with
// the tables in the stream; avenc_mpeg4 and rtpmp4vpay; rtpstreampay) into
// the build directory the first time the program runs.
//
// Usage: jpeg_mpeg4_depacketizer_bench [Google Benchmark options]
#include <cstdio>
#include <string>
#include <tuple>
#include <utility>

#include "bench/DepacketizerBench.h"
#include "rtp/CJpegRTPMediaParser.h"
#include "rtp/CMpeg4RTPMediaParser.h"

namespace {

using namespace dravnel::bench;

const std::string kJpegRecording = QUARNEL_BENCH_DATA_DIR "/jpeg_1080p.rtpstream";
const std::string kMpeg4Recording = QUARNEL_BENCH_DATA_DIR "/mpeg4_1080p.rtpstream";
const char* kSource =
    "videotestsrc num-buffers=50 pattern=smpte horizontal-speed=4 "
    "! video/x-raw,width=1920,height=1080,framerate=25/1,format=I420 ! ";

const Stream& JpegStream() {
    static const Stream s = Load(kJpegRecording);
    return s;
}
const Stream& Mpeg4Stream() {
    static const Stream s = Load(kMpeg4Recording);
    return s;
}

void DepacketizeJpeg(benchmark::State& state) { Depacketize<dravnel::CJpegRTPMediaParser>(state, JpegStream()); }
void DepacketizeMpeg4(benchmark::State& state) { Depacketize<dravnel::CMpeg4RTPMediaParser>(state, Mpeg4Stream()); }

BENCHMARK(DepacketizeJpeg);
BENCHMARK_CAPTURE(MemcpyBaseline, Jpeg, JpegStream());
BENCHMARK(DepacketizeMpeg4);
BENCHMARK_CAPTURE(MemcpyBaseline, Mpeg4, Mpeg4Stream());

}  // namespace

int main(int argc, char** argv) {
    if ((!Exists(kJpegRecording) && !Record(kJpegRecording, kSource + std::string("jpegenc ! rtpjpegpay mtu=1400"))) ||
        (!Exists(kMpeg4Recording) &&
         !Record(kMpeg4Recording, kSource + std::string("avenc_mpeg4 bitrate=8000000 gop-size=25 max-bframes=0 "
                                                        "! rtpmp4vpay mtu=1400 config-interval=-1")))) {
        std::fprintf(stderr, "no recordings (gst-launch-1.0 with jpegenc and avenc_mpeg4 is needed)\n");
        return 1;
    }
    for (const auto& [name, s] : {std::pair{"JPEG", &JpegStream()}, std::pair{"MPEG-4", &Mpeg4Stream()}})
        std::printf("%s: %zu packets, %zu frames, %.1f MB of payload, largest frame %zu bytes\n", name,
                    s->packets.size(), s->frames, s->payloadBytes / 1e6, s->largestFrame);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [codec, depacketize, copy] : {std::tuple{"Jpeg", "DepacketizeJpeg", "MemcpyBaseline/Jpeg"},
                                                   std::tuple{"Mpeg4", "DepacketizeMpeg4", "MemcpyBaseline/Mpeg4"}})
        if (const double ratio = reporter.Ratio(depacketize, copy); ratio > 0)
            std::printf("%s: depacketize / memcpy = %.3f\n", codec, ratio);
    benchmark::Shutdown();
    return 0;
}
