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
#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "rtp/CH264RTPMediaParser.h"
#include "tests/support/FakeDriver.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string g_recording = QUARNEL_BENCH_DATA_DIR "/h264_1080p.rtpstream";

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

bool Record(const std::string& path) {
    const std::string command =
        "gst-launch-1.0 -q videotestsrc num-buffers=100 pattern=smpte horizontal-speed=4 "
        "! video/x-raw,width=1920,height=1080,framerate=25/1 "
        "! x264enc bitrate=8000 speed-preset=ultrafast key-int-max=50 bframes=0 "
        "! rtph264pay mtu=1400 pt=96 ! rtpstreampay ! filesink location='" +
        path + "'";
    std::fprintf(stderr, "recording %s\n", path.c_str());
    return std::system(command.c_str()) == 0 && Exists(path);
}

// RFC 4571 framing: 16-bit length, packet.
std::vector<Bytes> ReadPackets(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Bytes> packets;
    for (size_t at = 0; at + 2 <= all.size();) {
        const size_t length = size_t{all[at]} << 8 | all[at + 1];
        if (at + 2 + length > all.size()) break;
        packets.emplace_back(all.begin() + static_cast<long>(at + 2), all.begin() + static_cast<long>(at + 2 + length));
        at += 2 + length;
    }
    return packets;
}

struct Stream {
    std::vector<Bytes> wire;
    std::vector<dravnel::CRTPPacket> packets;
    size_t payloadBytes = 0;
    size_t largestFrame = 0;
    size_t frames = 0;
    size_t fragments = 0;
};

const Stream& TheStream() {
    static const Stream stream = [] {
        Stream s;
        s.wire = ReadPackets(g_recording);
        size_t frame = 0;
        for (const Bytes& w : s.wire) {
            dravnel::CRTPPacket p;
            if (!p.Parse(w)) continue;
            s.payloadBytes += p.payload.size();
            frame += p.payload.size();
            if (!p.payload.empty() && (p.payload[0] & 0x1F) == 28) ++s.fragments;
            if (p.marker) {
                s.largestFrame = std::max(s.largestFrame, frame);
                frame = 0;
                ++s.frames;
            }
            s.packets.push_back(std::move(p));
        }
        return s;
    }();
    return stream;
}

// The host's side at no cost of its own: one frame object, reused.
class ReusedFrame : public dravnel::ipcapture::IHostFrame {
public:
    uint8_t* GetBuffer() override { return buffer.data(); }
    void SetDataSize(uint32_t s) override { size = s; }
    void SetTime(const dravnel::SYSTEMTIME*) override {}
    void SetCodecTag(uint32_t) override {}
    void SetHeight(uint32_t) override {}
    uint32_t GetWidth() override { return 0; }
    void SetWidth(uint32_t) override {}
    void SetSizeClass(uint32_t) override {}
    Bytes buffer;
    uint32_t size = 0;
};

class ReusingAllocator : public dravnel::ipcapture::IHostFrameAllocator, public dravnel::IMediaParserClient {
public:
    dravnel::ipcapture::IHostFrame* AllocateFrame(uint32_t, uint32_t capacity, const char*) override {
        if (frame.buffer.size() < capacity) frame.buffer.resize(capacity);
        return &frame;
    }
    void ReleaseFrame(dravnel::ipcapture::IHostFrame*) override {}
    bool OnFrame(dravnel::ipcapture::IHostFrame* f) override {
        benchmark::DoNotOptimize(static_cast<ReusedFrame*>(f)->buffer.data());
        ++delivered;
        return true;
    }
    std::pair<uint32_t, uint32_t> GetFrameSize() override { return {0, 0}; }
    ReusedFrame frame;
    size_t delivered = 0;
};

void Depacketize(benchmark::State& state) {
    const Stream& s = TheStream();
    ReusingAllocator host;
    quarnel::test::FakeDriver driver;
    driver.hostContext = &host;
    dravnel::CH264RTPMediaParser parser(&driver, "Quarnel");
    parser.SetClient(&host);
    std::vector<dravnel::CRTPPacket> packets = s.packets;
    uint16_t sequence = 0;
    for (auto _ : state) {
        for (dravnel::CRTPPacket& p : packets) {
            p.sequenceNumber = sequence++;  // one continuous stream over all rounds
            parser.ProcessPacket(&p);
        }
    }
    if (host.delivered < s.frames * state.iterations()) state.SkipWithError("frames were lost");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.payloadBytes));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(s.frames * state.iterations()), benchmark::Counter::kIsRate);
}

// What the receiver adds in front: the copy out of the datagram.
void ParseAndDepacketize(benchmark::State& state) {
    const Stream& s = TheStream();
    ReusingAllocator host;
    quarnel::test::FakeDriver driver;
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

// The same payload bytes, one memcpy each into a frame-sized buffer.
void MemcpyBaseline(benchmark::State& state) {
    const Stream& s = TheStream();
    Bytes frame(s.largestFrame + 64);
    for (auto _ : state) {
        size_t at = 0;
        for (const dravnel::CRTPPacket& p : s.packets) {
            std::memcpy(frame.data() + at, p.payload.data(), p.payload.size());
            at += p.payload.size();
            if (p.marker) {
                benchmark::DoNotOptimize(frame.data());
                benchmark::ClobberMemory();
                at = 0;
            }
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.payloadBytes));
}

BENCHMARK(Depacketize);
BENCHMARK(ParseAndDepacketize);
BENCHMARK(MemcpyBaseline);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // Plain runs, or the mean when repetitions are asked for.
        for (const Run& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (rate == run.counters.end()) continue;
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "mean") {
                rates[run.run_name.function_name] = rate->second;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && argv[1][0] != '-') {
        g_recording = argv[1];
        --argc;
        ++argv;
    }
    if (!Exists(g_recording) && !Record(g_recording)) {
        std::fprintf(stderr, "no recording at %s (gst-launch-1.0 with x264enc is needed)\n", g_recording.c_str());
        return 1;
    }
    const Stream& s = TheStream();
    std::printf("%s: %zu packets, %zu FU-A, %zu frames, %.1f MB of payload, largest frame %zu bytes\n",
                g_recording.c_str(), s.packets.size(), s.fragments, s.frames, s.payloadBytes / 1e6, s.largestFrame);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto depacketize = reporter.rates.find("Depacketize");
    const auto memcpyRate = reporter.rates.find("MemcpyBaseline");
    if (depacketize != reporter.rates.end() && memcpyRate != reporter.rates.end() && memcpyRate->second > 0) {
        std::printf("depacketize / memcpy = %.3f\n", depacketize->second / memcpyRate->second);
    }
    benchmark::Shutdown();
    return 0;
}
