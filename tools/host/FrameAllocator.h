// The host's frame allocator and frame objects, recording every setter call.
//
// Thread-safety: AllocateFrame and ReleaseFrame may run on any thread at once;
// one frame object is used by one thread at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "quarnel/HostObjects.h"

namespace dravnel::host {

class HostFrame : public dravnel::ipcapture::IHostFrame {
public:
    HostFrame(uint32_t codecTag, uint32_t capacity, std::string streamName);

    uint8_t* GetBuffer() override { return buffer.data(); }
    void SetDataSize(uint32_t size) override {
        dataSize = size;
        calls.push_back("size");
    }
    void SetTime(const dravnel::SYSTEMTIME* utc) override;
    void SetCodecTag(uint32_t tag) override {
        codecTag = tag;
        calls.push_back("tag");
    }
    void SetHeight(uint32_t h) override {
        height = h;
        calls.push_back("height");
    }
    uint32_t GetWidth() override { return width; }
    void SetWidth(uint32_t w) override {
        width = w;
        calls.push_back("width");
    }
    void SetSizeClass(uint32_t c) override {
        sizeClass = c;
        calls.push_back("class");
    }

    uint32_t allocationTag;
    uint32_t capacity;
    std::string streamName;
    std::vector<uint8_t> buffer;
    uint32_t dataSize = 0;
    uint32_t codecTag = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t sizeClass = 0;
    bool timeSet = false;
    dravnel::SYSTEMTIME time{};
    std::vector<std::string> calls;  // setter names in call order
};

class FrameAllocator : public dravnel::ipcapture::IHostFrameAllocator {
public:
    dravnel::ipcapture::IHostFrame* AllocateFrame(uint32_t codecTag, uint32_t capacity,
                                                  const char* streamName) override;
    void ReleaseFrame(dravnel::ipcapture::IHostFrame* frame) override;

    // When false, AllocateFrame returns null.
    std::atomic<bool> allocate{true};
    std::atomic<uint64_t> allocated{0};
    std::atomic<uint64_t> released{0};
};

}  // namespace dravnel::host
