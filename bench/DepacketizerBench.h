// What the depacketizer benchmarks share: recordings made with GStreamer into
// the build directory, read from their RFC 4571 framing (16-bit length,
// packet); a host that reuses one frame at no cost of its own; the timing
// loop of a depacketizer and of the memcpy baseline it is held against; and
// a reporter that keeps each benchmark's bytes per second for the ratio.
#pragma once

#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "rtp/CRTPPacket.h"
#include "rtp/IMediaParserClient.h"
#include "tests/support/FakeDriver.h"

namespace dravnel::bench {

using Bytes = std::vector<uint8_t>;

inline bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// Runs a gst-launch-1.0 pipeline (without its sink) into the file.
inline bool Record(const std::string& path, const std::string& pipeline) {
    const std::string command = "gst-launch-1.0 -q " + pipeline + " ! rtpstreampay ! filesink location='" + path + "'";
    std::fprintf(stderr, "recording %s\n", path.c_str());
    return std::system(command.c_str()) == 0 && Exists(path);
}

inline std::vector<Bytes> ReadPackets(const std::string& path) {
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
};

inline Stream Load(const std::string& path) {
    Stream s;
    s.wire = ReadPackets(path);
    size_t frame = 0;
    for (const Bytes& w : s.wire) {
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

// The parsed packets of the stream through a parser, as one continuous
// stream over all rounds.
template <class Parser>
void Depacketize(benchmark::State& state, const Stream& s) {
    ReusingAllocator host;
    dravnel::test::FakeDriver driver;
    driver.hostContext = &host;
    Parser parser(&driver, "Quarnel");
    parser.SetClient(&host);
    std::vector<dravnel::CRTPPacket> packets = s.packets;
    uint16_t sequence = 0;
    for (auto _ : state) {
        for (dravnel::CRTPPacket& p : packets) {
            p.sequenceNumber = sequence++;
            parser.ProcessPacket(&p);
        }
    }
    if (host.delivered < s.frames * state.iterations()) state.SkipWithError("frames were lost");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.payloadBytes));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(s.frames * state.iterations()), benchmark::Counter::kIsRate);
}

// The same payload bytes, one memcpy each into a frame-sized buffer.
inline void MemcpyBaseline(benchmark::State& state, const Stream& s) {
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

// Bytes per second by benchmark name ("Depacketize", "MemcpyBaseline/Jpeg"):
// of plain runs, or the mean when repetitions are asked for.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (rate == run.counters.end()) continue;
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "mean")
                rates[run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args)] =
                    rate->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // The ratio of two rates; 0 when either is missing.
    double Ratio(const std::string& over, const std::string& under) const {
        const auto a = rates.find(over), b = rates.find(under);
        return a == rates.end() || b == rates.end() || b->second <= 0 ? 0 : a->second / b->second;
    }
    std::map<std::string, double> rates;
};

}  // namespace dravnel::bench
