// What the depacketizer fuzz targets share: a host that hands out one frame
// object, a client that checks each delivered frame, and the record format
// their inputs are read in:
//
//   | control | length (16, big-endian) | payload ... |
//
//   control bit 0: marker; bit 1: skip a sequence number before this packet;
//   bit 2: the payload is the session description's codec parameters instead;
//   bit 3: the host refuses the next frame.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "rtp/CRTPMediaParser.h"
#include "rtp/CRTPPacket.h"
#include "tests/support/FakeDriver.h"

namespace dravnel::fuzz {

class Frame : public dravnel::ipcapture::IHostFrame {
public:
    uint8_t* GetBuffer() override { return buffer.data(); }
    void SetDataSize(uint32_t s) override { size = s; }
    void SetTime(const dravnel::SYSTEMTIME*) override {}
    void SetCodecTag(uint32_t t) override { tag = t; }
    void SetHeight(uint32_t) override {}
    uint32_t GetWidth() override { return 0; }
    void SetWidth(uint32_t) override {}
    void SetSizeClass(uint32_t) override {}
    std::vector<uint8_t> buffer;
    uint32_t size = 0;
    uint32_t tag = 0;
};

class Allocator : public dravnel::ipcapture::IHostFrameAllocator {
public:
    dravnel::ipcapture::IHostFrame* AllocateFrame(uint32_t, uint32_t capacity, const char*) override {
        frame.buffer.assign(capacity, 0);
        return &frame;
    }
    void ReleaseFrame(dravnel::ipcapture::IHostFrame*) override {}
    Frame frame;
};

// Traps when `check` finds a delivered frame wrong.
class Client : public dravnel::IMediaParserClient {
public:
    explicit Client(std::function<bool(const Frame&)> check) : check_(std::move(check)) {}
    bool OnFrame(dravnel::ipcapture::IHostFrame* f) override {
        const auto* frame = static_cast<Frame*>(f);
        if (frame->size > dravnel::CRTPMediaParser::kMaxFrameBytes + 70000 || !check_(*frame)) __builtin_trap();
        const bool accepted = !refuse;
        refuse = false;
        return accepted;
    }
    std::pair<uint32_t, uint32_t> GetFrameSize() override { return {0, 0}; }
    bool refuse = false;

private:
    std::function<bool(const Frame&)> check_;
};

// Feeds the records of `data` to a new Parser. `config` is handed each
// session-description payload (it may ignore them).
template <class Parser>
void RunDepacketizer(const uint8_t* data, size_t size, std::function<bool(const Frame&)> check,
                     std::function<void(Parser&, const uint8_t*, size_t)> config) {
    Allocator allocator;
    dravnel::test::FakeDriver driver;
    driver.hostContext = &allocator;
    Parser parser(&driver, "Quarnel");
    Client client(std::move(check));
    parser.SetClient(&client);
    parser.FrameClock().SetClock([] { return uint64_t{133537680000000000ull}; });

    uint16_t sequence = 0;
    uint32_t timeStamp = 1;
    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t control = data[at];
        const size_t length = std::min<size_t>(size_t{data[at + 1]} << 8 | data[at + 2], size - at - 3);
        const uint8_t* payload = data + at + 3;
        at += 3 + length;
        if (control & 0x08) client.refuse = true;
        if (control & 0x04) {
            config(parser, payload, length);
            continue;
        }
        if (control & 0x02) ++sequence;
        dravnel::CRTPPacket packet;
        packet.sequenceNumber = sequence++;
        packet.marker = control & 0x01;
        packet.timeStamp = timeStamp;
        if (packet.marker) timeStamp += 3600;
        packet.payload.assign(payload, payload + length);
        packet.payloadLength = static_cast<uint32_t>(length);
        parser.ProcessPacket(&packet);
    }
}

}  // namespace dravnel::fuzz
