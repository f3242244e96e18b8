#include "tools/host/FrameAllocator.h"

namespace dravnel::host {

HostFrame::HostFrame(uint32_t tag, uint32_t cap, std::string name)
    : allocationTag(tag), capacity(cap), streamName(std::move(name)), buffer(cap) {}

void HostFrame::SetTime(const dravnel::SYSTEMTIME* utc) {
    calls.push_back("time");
    if (utc) {
        time = *utc;
        timeSet = true;
    }
}

dravnel::ipcapture::IHostFrame* FrameAllocator::AllocateFrame(uint32_t codecTag, uint32_t capacity,
                                                              const char* streamName) {
    if (!allocate) return nullptr;
    ++allocated;
    return new HostFrame(codecTag, capacity, streamName ? streamName : "");
}

void FrameAllocator::ReleaseFrame(dravnel::ipcapture::IHostFrame* frame) {
    if (!frame) return;
    ++released;
    delete frame;
}

}  // namespace dravnel::host
