#include "rtp/CRTPMediaParser.h"

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
