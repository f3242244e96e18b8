// Throughput of H.264 depacketization on a 1080p stream that is mostly FU-A
// fragments, beside a plain memcpy of the same payload bytes into frame-sized
// buffers, one memcpy per packet. Depacketizing copies every byte twice
// (payload to frame buffer, then the whole frame to the host's frame), so
// about half the memcpy rate is what it can reach; the second copy, one large
// block per frame, runs faster per byte than the per-packet baseline, which
// can lift the ratio above 0.5. The program ends by printing the ratio.
//
// The stream is recorded with GStreamer (x264enc, rtph264pay, rtpstreampay)
// into the build directory the first time the program runs.
//
// Usage: h264_depacketizer_bench [recording] [Google Benchmark options]
#include <cstdio>
#include <string>

#include "bench/DepacketizerBench.h"
#include "rtp/CH264RTPMediaParser.h"

namespace {

using namespace dravnel::bench;

std::string g_recording = QUARNEL_BENCH_DATA_DIR "/h264_1080p.rtpstream";

const Stream& TheStream() {
    static const Stream stream = Load(g_recording);
    return stream;
}

size_t Fragments(const Stream& s) {
    size_t fragments = 0;
    for (const auto& p : s.packets)
        if (!p.payload.empty() && (p.payload[0] & 0x1F) == 28) ++fragments;
    return fragments;
}

// What the receiver adds in front: the copy out of the datagram.
void ParseAndDepacketize(benchmark::State& state) {
    const Stream& s = TheStream();
    ReusingAllocator host;
    dravnel::test::FakeDriver driver;
    driver.hostContext = &host;
    dravnel::CH264RTPMediaParser parser(&driver, "Quarnel");
    parser.SetClient(&host);
    dravnel::CRTPPacket packet;
    uint16_t sequence = 0;
    for (auto _ : state) {
        for (const Bytes& w : s.wire) {
            packet.Parse(w);
            packet.sequenceNumber = sequence++;
            parser.ProcessPacket(&packet);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.payloadBytes));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && argv[1][0] != '-') {
        g_recording = argv[1];
        --argc;
        ++argv;
    }
    if (!Exists(g_recording) &&
        !Record(g_recording,
                "videotestsrc num-buffers=100 pattern=smpte horizontal-speed=4 "
                "! video/x-raw,width=1920,height=1080,framerate=25/1 "
                "! x264enc bitrate=8000 speed-preset=ultrafast key-int-max=50 bframes=0 ! rtph264pay mtu=1400 pt=96")) {
        std::fprintf(stderr, "no recording at %s (gst-launch-1.0 with x264enc is needed)\n", g_recording.c_str());
        return 1;
    }
    const Stream& s = TheStream();
    std::printf("%s: %zu packets, %zu FU-A, %zu frames, %.1f MB of payload, largest frame %zu bytes\n",
                g_recording.c_str(), s.packets.size(), Fragments(s), s.frames, s.payloadBytes / 1e6, s.largestFrame);
    benchmark::RegisterBenchmark(
        "Depacketize", [](benchmark::State& state) { Depacketize<dravnel::CH264RTPMediaParser>(state, TheStream()); });
    benchmark::RegisterBenchmark("ParseAndDepacketize", ParseAndDepacketize);
    benchmark::RegisterBenchmark("MemcpyBaseline", [](benchmark::State& state) { MemcpyBaseline(state, TheStream()); });

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (const double ratio = reporter.Ratio("Depacketize", "MemcpyBaseline"); ratio > 0)
        std::printf("depacketize / memcpy = %.3f\n", ratio);
    benchmark::Shutdown();
    return 0;
}
