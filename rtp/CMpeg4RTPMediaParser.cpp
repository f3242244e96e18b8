#include "rtp/CMpeg4RTPMediaParser.h"

#include <cstring>

namespace dravnel {

namespace {

constexpr uint8_t kVisualObjectSequence = 0xB0;
constexpr uint8_t kUserData = 0xB2;
constexpr uint8_t kGroupOfVop = 0xB3;
constexpr uint8_t kVop = 0xB6;
// A packet that opens with configuration headers but holds no VOP is taken
// as configuration only when it is this short.
constexpr size_t kConfigurationOnly = 64;

bool StartCodeAt(std::span<const uint8_t> p, size_t at, uint8_t code) {
    return at + 4 <= p.size() && p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1 && p[at + 3] == code;
}

// The VOP start code in [4, size - 4] of a packet; size when none.
size_t FindVop(std::span<const uint8_t> p) {
    for (size_t i = 4; i + 4 <= p.size(); ++i)
        if (StartCodeAt(p, i, kVop)) return i;
    return p.size();
}

// Where the VOP of a frame beginning at `at` starts: at once, or behind user
// data and GOV headers, which some cameras put in front of every VOP (and
// which belong to its frame). p.size() when no VOP starts the frame.
size_t VopOfFrame(std::span<const uint8_t> p, size_t at) {
    while (StartCodeAt(p, at, kUserData) || StartCodeAt(p, at, kGroupOfVop)) {
        size_t next = at + 4;
        while (next + 3 <= p.size() && !(p[next] == 0 && p[next + 1] == 0 && p[next + 2] == 1)) ++next;
        at = next;
    }
    return StartCodeAt(p, at, kVop) ? at : p.size();
}

}  // namespace

CMpeg4RTPMediaParser::CMpeg4RTPMediaParser(IDriver* driver, std::string streamName)
    : CRTPMediaParser(driver, std::move(streamName)) {}

void CMpeg4RTPMediaParser::Reset() {
    waitingForKeyFrame_ = true;
    keyFrame_ = false;
    width_ = height_ = 0;
    ClearFrameBuffer();
}

void CMpeg4RTPMediaParser::ProcessPacket(CRTPPacket* packet) {
    if (!packet) return;
    if (!IsInSequence(packet)) Reset();  // the partial frame is lost; this packet still counts
    ReserveFor(*packet);
    const std::span<const uint8_t> p = packet->payload;
    const size_t length = p.size();

    size_t off = 0;
    if (length > 4 && StartCodeAt(p, 0, kVisualObjectSequence)) {
        const size_t vop = FindVop(p);
        if (vop < length) {
            mp4_.SetConfiguration(p.first(vop));
            off = vop;
        } else if (length < kConfigurationOnly) {
            mp4_.SetConfiguration(p);
            off = length;
        }
    }
    if (length > off + 4) {
        const size_t vop = VopOfFrame(p, off);
        if (vop + 4 < length) StartFrame(p, vop);
    }
    if (waitingForKeyFrame_) return;

    if (length > off) frame_.insert(frame_.end(), p.begin() + static_cast<ptrdiff_t>(off), p.end());
    if (!CheckBufferSize()) {
        Reset();
        return;
    }
    if (packet->marker && !frame_.empty()) {
        clock_.Convert(packet->timeStamp);
        Deliver();
        ClearFrameBuffer();
    }
}

void CMpeg4RTPMediaParser::StartFrame(std::span<const uint8_t> p, size_t vop) {
    ClearFrameBuffer();
    const uint8_t codingType = p[vop + 4] >> 6;  // 0 I, 1 P, 2 B, 3 S
    if (codingType != 0) {
        keyFrame_ = false;
        return;
    }
    const std::vector<uint8_t>& inBand = mp4_.Configuration();
    const std::vector<uint8_t>& described = codecConfig_.config;
    const std::vector<uint8_t>& headers = inBand.empty() ? described : inBand;
    frame_.insert(frame_.end(), headers.begin(), headers.end());
    waitingForKeyFrame_ = false;
    keyFrame_ = true;
}

void CMpeg4RTPMediaParser::Deliver() {
    ipcapture::IHostFrameAllocator* host = HostContext();
    if (!client_ || frame_.empty() || !host) return;
    uint32_t tag = kCodecTagMpeg4;
    if (keyFrame_) {
        uint32_t width = 0, height = 0;
        if (!CMP4Parser::ReadFrameSize(frame_, width, height)) {
            Reset();
            return;
        }
        width_ = width;
        height_ = height;
        tag = kCodecTagMpeg4Key;
    }
    HostFramePtr frame(host->AllocateFrame(tag, static_cast<uint32_t>(frame_.size()), streamName_.c_str()),
                       FrameReleaser{host});
    if (!frame) return;
    frame->SetWidth(width_);
    frame->SetHeight(height_);
    frame->SetSizeClass(SizeClass(width_, height_));
    frame->SetDataSize(static_cast<uint32_t>(frame_.size()));
    frame->SetCodecTag(tag);
    const SYSTEMTIME time = clock_.GetTime();
    frame->SetTime(&time);
    uint8_t* buffer = frame->GetBuffer();
    if (!buffer) {
        Reset();
        return;
    }
    std::memcpy(buffer, frame_.data(), frame_.size());
    if (!client_->OnFrame(frame.get())) Reset();
}

}  // namespace dravnel
