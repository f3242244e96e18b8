#include "rtp/CRTPMediaParser.h"

#include <algorithm>
#include <cstring>

namespace dravnel {

CRTPMediaParser::CRTPMediaParser(IDriver* driver, std::string streamName)
    : driver_(driver), streamName_(std::move(streamName)) {}

CRTPMediaParser::~CRTPMediaParser() = default;

void CRTPMediaParser::SetCodecConfig(const CodecConfig* config) {
    if (config) codecConfig_ = *config;
}

bool CRTPMediaParser::CheckBufferSize() {
    if (frame_.size() <= kMaxFrameBytes) return true;
    if (driver_) {
        const DEVICE_INFO* device = driver_->GetDeviceInfo();
        driver_->DebugMessage(kLevelError, "%s: Frame buffer overflow detected, device %s:%u",
                              "dravnel::CRTPMediaParser::CheckBufferSize", device ? device->Address.c_str() : "",
                              device ? unsigned{device->Port} : 0u);
    }
    return false;
}

void CRTPMediaParser::ReserveFor(const CRTPPacket& packet) {
    const size_t need = frame_.size() + packet.payload.size() + codecConfig_.sps.size() + codecConfig_.pps.size() +
                        codecConfig_.config.size() + 64;
    if (need <= frame_.capacity()) return;
    // One interleaved packet at most past the limit, where CheckBufferSize stops it.
    constexpr size_t kCeiling = kMaxFrameBytes + 0x10000 + 0x1000;
    frame_.reserve(std::max(need, std::min(2 * frame_.capacity(), kCeiling)));
}

void CRTPMediaParser::ClearFrameBuffer() {
    windowLargest_ = std::max(windowLargest_, frame_.size());
    frame_.clear();
    if (++windowFrames_ < kCapacityWindow) return;
    if (frame_.capacity() > std::max(2 * windowLargest_, kKeptCapacity)) {
        std::vector<uint8_t> fitting;
        fitting.reserve(windowLargest_);
        frame_.swap(fitting);
    }
    windowFrames_ = 0;
    windowLargest_ = 0;
}

bool CRTPMediaParser::IsInSequence(const CRTPPacket* packet) {
    const uint16_t sequence = packet->sequenceNumber;
    const bool inSequence = firstPacket_ || sequence == static_cast<uint16_t>(lastSequence_ + 1);
    firstPacket_ = false;
    lastSequence_ = sequence;
    if (!inSequence) {
        ++sequenceGaps_;
        if (client_) client_->OnSequenceGap();
    }
    return inSequence;
}

uint32_t CRTPMediaParser::SizeClass(uint32_t width, uint32_t height) {
    if (width < 200) return 1;
    if (width < 400) return 2;
    if (width >= 1024) return 4;
    return width > 2 * uint64_t{height} ? 3 : 4;
}

ipcapture::IHostFrameAllocator* CRTPMediaParser::HostContext() const {
    return driver_ ? driver_->GetHostContext() : nullptr;
}

CRTPMediaParser::HostFramePtr CRTPMediaParser::CopyToHostFrame(ipcapture::IHostFrameAllocator* host, uint32_t codecTag,
                                                               bool& noBuffer) {
    noBuffer = false;
    const uint32_t size = static_cast<uint32_t>(frame_.size());
    HostFramePtr frame(host->AllocateFrame(codecTag, size, streamName_.c_str()), FrameReleaser{host});
    if (!frame) return frame;
    uint8_t* buffer = frame->GetBuffer();
    if (!buffer) {
        noBuffer = true;
        frame.reset();
        return frame;
    }
    std::memcpy(buffer, frame_.data(), size);
    return frame;
}

}  // namespace dravnel
