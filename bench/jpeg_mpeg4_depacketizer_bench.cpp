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

#include "rtp/CJpegRTPMediaParser.h"
#include "rtp/CMpeg4RTPMediaParser.h"
#include "tests/support/FakeDriver.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kJpegRecording = QUARNEL_BENCH_DATA_DIR "/jpeg_1080p.rtpstream";
const std::string kMpeg4Recording = QUARNEL_BENCH_DATA_DIR "/mpeg4_1080p.rtpstream";

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

bool Record(const std::string& path, const std::string& encoder) {
    const std::string command =
        "gst-launch-1.0 -q videotestsrc num-buffers=50 pattern=smpte horizontal-speed=4 "
        "! video/x-raw,width=1920,height=1080,framerate=25/1,format=I420 ! " +
        encoder + " ! rtpstreampay ! filesink location='" + path + "'";
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
    std::vector<dravnel::CRTPPacket> packets;
    size_t payloadBytes = 0;
    size_t largestFrame = 0;
    size_t frames = 0;
};

Stream Load(const std::string& path) {
    Stream s;
    size_t frame = 0;
    for (const Bytes& w : ReadPackets(path)) {
        dravnel::CRTPPacket p;
        if (!p.Parse(w)) continue;
        s.payloadBytes += p.payload.size();
        frame += p.payload.size();
        if (p.marker) {
            s.largestFrame = std::max(s.largestFrame, frame);
            frame = 0;
            ++s.frames;
        }
        s.packets.push_back(std::move(p));
    }
    return s;
}

const Stream& JpegStream() {
    static const Stream s = Load(kJpegRecording);
    return s;
}
const Stream& Mpeg4Stream() {
    static const Stream s = Load(kMpeg4Recording);
    return s;
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

template <class Parser>
void Depacketize(benchmark::State& state, const Stream& (*stream)()) {
    const Stream& s = stream();
    ReusingAllocator host;
    quarnel::test::FakeDriver driver;
    driver.hostContext = &host;
    Parser parser(&driver, "Quarnel");
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

// The same payload bytes, one memcpy each into a frame-sized buffer.
void MemcpyBaseline(benchmark::State& state, const Stream& (*stream)()) {
    const Stream& s = stream();
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

void DepacketizeJpeg(benchmark::State& state) { Depacketize<dravnel::CJpegRTPMediaParser>(state, JpegStream); }
void DepacketizeMpeg4(benchmark::State& state) { Depacketize<dravnel::CMpeg4RTPMediaParser>(state, Mpeg4Stream); }

BENCHMARK(DepacketizeJpeg);
BENCHMARK_CAPTURE(MemcpyBaseline, Jpeg, JpegStream);
BENCHMARK(DepacketizeMpeg4);
BENCHMARK_CAPTURE(MemcpyBaseline, Mpeg4, Mpeg4Stream);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // Plain runs, or the mean when repetitions are asked for.
        for (const Run& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (rate == run.counters.end()) continue;
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "mean") {
                rates[run.run_name.function_name + "/" + run.run_name.args] =
                    rate->second;  // DepacketizeJpeg/, MemcpyBaseline/Jpeg
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    if ((!Exists(kJpegRecording) && !Record(kJpegRecording, "jpegenc ! rtpjpegpay mtu=1400")) ||
        (!Exists(kMpeg4Recording) &&
         !Record(kMpeg4Recording,
                 "avenc_mpeg4 bitrate=8000000 gop-size=25 max-bframes=0 ! rtpmp4vpay mtu=1400 "
                 "config-interval=-1"))) {
        std::fprintf(stderr, "no recordings (gst-launch-1.0 with jpegenc and avenc_mpeg4 is needed)\n");
        return 1;
    }
    for (const auto& [name, s] : {std::pair{"JPEG", &JpegStream()}, std::pair{"MPEG-4", &Mpeg4Stream()}})
        std::printf("%s: %zu packets, %zu frames, %.1f MB of payload, largest frame %zu bytes\n", name,
                    s->packets.size(), s->frames, s->payloadBytes / 1e6, s->largestFrame);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* codec : {"Jpeg", "Mpeg4"}) {
        double depacketize = 0, copy = 0;
        for (const auto& [name, rate] : reporter.rates) {
            if (name.find(codec) == std::string::npos) continue;
            (name.rfind("Depacketize", 0) == 0 ? depacketize : copy) = rate;
        }
        if (depacketize > 0 && copy > 0) std::printf("%s: depacketize / memcpy = %.3f\n", codec, depacketize / copy);
    }
    benchmark::Shutdown();
    return 0;
}
