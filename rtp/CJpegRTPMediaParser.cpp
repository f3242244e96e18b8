#include "rtp/CJpegRTPMediaParser.h"

#include "rtp/JpegHeaders.h"

namespace dravnel {

CJpegRTPMediaParser::CJpegRTPMediaParser(IDriver* driver, std::string streamName)
    : CRTPMediaParser(driver, std::move(streamName)) {}

void CJpegRTPMediaParser::Reset() {
    waitingForFirstFragment_ = true;
    width_ = height_ = 0;
    ClearFrameBuffer();
}

void CJpegRTPMediaParser::ProcessPacket(CRTPPacket* packet) {
    if (!packet) return;
    if (!IsInSequence(packet)) Reset();  // the rest of the broken frame is lost; this packet still counts
    ReserveFor(*packet);
    if (HandlePayload(packet->payload) && packet->marker) {
        clock_.Convert(packet->timeStamp);
        Deliver();
        ClearFrameBuffer();
    }
}

bool CJpegRTPMediaParser::HandlePayload(std::span<const uint8_t> payload) {
    bool ok = payload.size() >= 4;
    if (ok) {
        const uint32_t offset = uint32_t{payload[1]} << 16 | uint32_t{payload[2]} << 8 | payload[3];
        if (offset == 0) {
            if (payload.size() >= 12) headerSize_ = payload[4] >= 64 && payload[4] <= 127 ? 12 : 8;
            frame_.insert(frame_.end(), payload.begin(), payload.end());
            waitingForFirstFragment_ = false;
        } else if (waitingForFirstFragment_) {
            ok = false;
        } else if (payload.size() > headerSize_) {
            frame_.insert(frame_.end(), payload.begin() + static_cast<ptrdiff_t>(headerSize_), payload.end());
        }
    }
    if (!ok || !CheckBufferSize()) {
        Reset();
        return false;
    }
    return true;
}

void CJpegRTPMediaParser::Deliver() {
    if (!client_ || frame_.empty()) return;
    ipcapture::IHostFrameAllocator* host = HostContext();
    if (!host) return;
    const size_t capacity = frame_.size() + kJpegHeaderRoom;
    HostFramePtr frame(host->AllocateFrame(kCodecTagJpeg, static_cast<uint32_t>(capacity), streamName_.c_str()),
                       FrameReleaser{host});
    if (!frame) return;
    uint8_t* buffer = frame->GetBuffer();
    JpegImageSize size;
    const size_t length = buffer ? BuildJpegImage(frame_, buffer, capacity, size) : 0;
    width_ = size.width;
    height_ = size.height;
    if (length == 0) {
        Reset();
        return;
    }
    frame->SetDataSize(static_cast<uint32_t>(length));
    frame->SetWidth(width_);
    frame->SetHeight(height_);
    frame->SetSizeClass(SizeClass(width_, height_));
    const SYSTEMTIME time = clock_.GetTime();
    frame->SetTime(&time);
    if (!client_->OnFrame(frame.get())) Reset();
}

}  // namespace dravnel
