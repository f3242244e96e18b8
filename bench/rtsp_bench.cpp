// Throughput of the RTSP client's byte paths: the interleaved stream parser
// (runs for every byte of an interleaved stream), the reply parser and MD5.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "rtp/ByteReader.h"
#include "rtsp/CRTSPResponseParser.h"
#include "rtsp/CRTSPStreamParser.h"
#include "rtsp/Md5.h"

namespace {

struct NullUser : dravnel::IRTPReceiverUser {
    void OnInterleavedPacket(dravnel::CRTPPacket*, const std::vector<uint8_t>* frame) override {
        benchmark::DoNotOptimize(frame->data());
    }
    void OnRTPPacket(const sockaddr_in*, dravnel::CRTPPacket*) override {}
    void OnTimeout() override {}
    void OnClosed() override {}
    void OnSessionDescription(const dravnel::CodecConfig*) override {}
};

// 1 MiB of interleaved 1400-byte RTP packets with an RTCP frame every 50.
std::vector<uint8_t> Stream() {
    std::vector<uint8_t> out;
    dravnel::ByteWriter w(out);
    const std::vector<uint8_t> payload(1388, 0x5A);
    for (uint16_t seq = 0; out.size() < (1u << 20); ++seq) {
        w.U8('$').U8(0).U16(1400).U8(0x80).U8(96).U16(seq).U32(seq * 3600u).U32(0x11223344).Bytes(payload);
        if (seq % 50 == 0) w.U8('$').U8(1).U16(28).Bytes(std::vector<uint8_t>(28, 0x81));
    }
    return out;
}

void StreamParser(benchmark::State& state) {
    const auto stream = Stream();
    const size_t block = static_cast<size_t>(state.range(0));
    NullUser user;
    dravnel::CRTSPStreamParser parser(&user);
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += block)
            parser.Parse(std::span<const uint8_t>(stream.data() + at, std::min(block, stream.size() - at)));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(StreamParser)->Arg(8192)->Arg(1500);

void DescribeReply(benchmark::State& state) {
    const std::string sdp =
        "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Session\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
        "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAH5WoFAFuQA==,aM48gA==\r\na=control:trackID=1\r\n";
    const std::string reply =
        "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Base: rtsp://127.0.0.1/h264/\r\n"
        "Content-Type: application/sdp\r\nContent-Length: " +
        std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    dravnel::CRTSPResponseParser parser;
    for (auto _ : state) benchmark::DoNotOptimize(parser.Parse(reply, dravnel::RTSPMethod::Describe));
}
BENCHMARK(DescribeReply);

void Md5Hex(benchmark::State& state) {
    const std::string text(static_cast<size_t>(state.range(0)), 'x');
    for (auto _ : state) benchmark::DoNotOptimize(dravnel::Md5Hex(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(Md5Hex)->Arg(64)->Arg(4096);

}  // namespace
