// CRTSPStreamParser over an arbitrary interleaved connection. The first byte
// seeds the block sizes; the same bytes fed whole and in blocks must deliver
// the same packets and replies in the same order.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "rtsp/CRTSPStreamParser.h"

namespace {

struct Recorder : dravnel::IRTPReceiverUser {
    std::vector<std::vector<uint8_t>> frames;
    void OnInterleavedPacket(dravnel::CRTPPacket* packet, const std::vector<uint8_t>* frame) override {
        if (!packet || !frame || frame->size() <= 12) __builtin_trap();
        frames.push_back(*frame);
    }
    void OnRTPPacket(const sockaddr_in*, dravnel::CRTPPacket*) override {}
    void OnTimeout() override {}
    void OnClosed() override {}
    void OnSessionDescription(const dravnel::CodecConfig*) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    uint32_t seed = data[0] * 2654435761u + 1;
    const std::span<const uint8_t> stream(data + 1, size - 1);

    Recorder wholeUser, splitUser;
    std::vector<std::string> wholeReplies, splitReplies;
    dravnel::CRTSPStreamParser whole(&wholeUser, [&](std::string_view r, bool ok) {
        wholeReplies.emplace_back(std::string(ok ? "+" : "-") + std::string(r));
    });
    dravnel::CRTSPStreamParser split(&splitUser, [&](std::string_view r, bool ok) {
        splitReplies.emplace_back(std::string(ok ? "+" : "-") + std::string(r));
    });
    whole.Parse(stream);
    for (size_t at = 0; at < stream.size();) {
        seed = seed * 1103515245u + 12345u;
        const size_t n = std::min<size_t>(stream.size() - at, (seed >> 16) % 64);
        split.Parse(stream.subspan(at, n));
        at += n;
    }
    if (wholeUser.frames != splitUser.frames || wholeReplies != splitReplies) __builtin_trap();
    return 0;
}
