// H.264 test data and a depacketizer among recording host objects: byte
// strings from hex, RTP packets around payloads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rtp/CH264RTPMediaParser.h"
#include "rtp/CRTPPacket.h"
#include "tests/support/FakeDriver.h"
#include "tools/host/ChannelSink.h"
#include "tools/host/FrameAllocator.h"

namespace quarnel::test {

using Bytes = std::vector<uint8_t>;

inline Bytes FromHex(const std::string& hex) {
    Bytes b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return b;
}

// An SPS as x264 (through GStreamer's x264enc) wrote it. 67: NAL header;
// 42 c0 0d: Constrained Baseline, level 1.3; 20 x 15 macroblocks (320 x 240).
inline const char kSps320x240[] = "6742c00dda0507ec05a8303035280000030008000003019478a155";

inline dravnel::CRTPPacket Packet(uint16_t sequence, uint32_t timeStamp, bool marker, Bytes payload) {
    dravnel::CRTPPacket p;
    p.sequenceNumber = sequence;
    p.timeStamp = timeStamp;
    p.marker = marker ? 1 : 0;
    p.payloadLength = static_cast<uint32_t>(payload.size());
    p.payload = std::move(payload);
    return p;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A depacketizer with the host around it: frames come from the recording
// allocator and, as the channel would pass them on, go to the recording host
// sink (which refuses them when told to).
struct Depacketizer : public dravnel::IMediaParserClient {
    Depacketizer() {
        driver.hostContext = &allocator;
        parser.SetClient(this);
    }
    bool OnFrame(dravnel::ipcapture::IHostFrame* frame) override { return sink.DeliverFrame(frame); }
    std::pair<uint32_t, uint32_t> GetFrameSize() override { return {0, 0}; }

    quarnel::host::FrameAllocator allocator;
    quarnel::host::ChannelSink sink;
    FakeDriver driver;
    dravnel::CH264RTPMediaParser parser{&driver, "Quarnel"};
};

}  // namespace quarnel::test
