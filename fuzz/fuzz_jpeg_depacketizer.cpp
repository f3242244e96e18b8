// The JPEG depacketizer fed a sequence of packets. The input is a list of
// records:
//
//   | control | length (16, big-endian) | payload ... |
//
//   control bit 0: marker; bit 1: skip a sequence number before this packet;
//   bit 3: the host refuses the next frame.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "rtp/CJpegRTPMediaParser.h"
#include "tests/support/FakeDriver.h"

namespace {

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

class Client : public dravnel::IMediaParserClient {
public:
    bool OnFrame(dravnel::ipcapture::IHostFrame* f) override {
        auto* frame = static_cast<Frame*>(f);
        // The image fits the room asked for and is a JPEG image.
        if (frame->size > frame->buffer.size() || frame->size < 4) __builtin_trap();
        if (frame->buffer[0] != 0xFF || frame->buffer[1] != 0xD8) __builtin_trap();
        const bool accepted = !refuse;
        refuse = false;
        return accepted;
    }
    std::pair<uint32_t, uint32_t> GetFrameSize() override { return {0, 0}; }
    bool refuse = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Allocator allocator;
    quarnel::test::FakeDriver driver;
    driver.hostContext = &allocator;
    dravnel::CJpegRTPMediaParser parser(&driver, "Quarnel");
    Client client;
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
        if (control & 0x04) continue;  // no session description
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
    return 0;
}
