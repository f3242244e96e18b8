#include "rtsp/CRTSPStreamParser.h"

#include <algorithm>

#include "rtsp/RTSPReplyFraming.h"

namespace dravnel {

namespace {

constexpr uint8_t kFrameStart = 0x24;  // "$"
constexpr uint8_t kRtpChannel = 0;
constexpr std::string_view kReplyStart = "RTSP/";

}  // namespace

CRTSPStreamParser::CRTSPStreamParser(IRTPReceiverUser* user, ReplyHandler onReply)
    : user_(user), onReply_(std::move(onReply)) {}

void CRTSPStreamParser::Parse(std::span<const uint8_t> block) {
    size_t i = 0;
    while (i < block.size()) i = Step(block, i);
}

// Consumes bytes from position i of the block; returns the next position.
size_t CRTSPStreamParser::Step(std::span<const uint8_t> block, size_t i) {
    const uint8_t byte = block[i];
    switch (stage_) {
    case Stage::Hunting:
        Hunt(byte);
        return i + 1;

    case Stage::Channel:
        // "$$": the later "$" may be the real frame start.
        if (byte != kFrameStart) {
            channel_ = byte;
            stage_ = Stage::Length;
        }
        return i + 1;

    case Stage::Length:
        lengthBytes_[lengthHeld_++] = byte;
        if (lengthHeld_ == 2) {
            remaining_ = static_cast<size_t>(lengthBytes_[0]) << 8 | lengthBytes_[1];
            if (remaining_ == 0) {
                Reset();
            } else {
                stage_ = Stage::Payload;
                frame_.clear();
            }
        }
        return i + 1;

    case Stage::Payload: {
        const size_t n = std::min(remaining_, block.size() - i);
        if (channel_ == kRtpChannel)
            frame_.insert(frame_.end(), block.begin() + static_cast<ptrdiff_t>(i),
                          block.begin() + static_cast<ptrdiff_t>(i + n));
        remaining_ -= n;
        if (remaining_ == 0) {
            if (channel_ == kRtpChannel) DeliverFrame();
            Reset();
        }
        return i + n;
    }

    case Stage::ReplyPrefix:
        if (byte == static_cast<uint8_t>(kReplyStart[reply_.size()])) {
            reply_.push_back(static_cast<char>(byte));
            if (reply_.size() == kReplyStart.size()) stage_ = Stage::ReplyHeader;
            return i + 1;
        }
        // Not a reply after all: the bytes so far were no frame start
        // either, but this one may be.
        reply_.clear();
        stage_ = Stage::Hunting;
        return i;

    case Stage::ReplyHeader: {
        reply_.push_back(static_cast<char>(byte));
        const size_t size = reply_.size();
        if (size > kMaxReplyBytes) {
            FinishReply(false);
            Reset();
        } else if (size >= 4 && byte == '\n' && reply_.compare(size - 4, 4, "\r\n\r\n") == 0) {
            const size_t body = AnnouncedContentLength(reply_);
            if (body > kMaxReplyBytes - size) {
                FinishReply(false);
                Reset();
            } else if (body == 0) {
                FinishReply(true);
                Reset();
            } else {
                remaining_ = body;
                stage_ = Stage::ReplyBody;
            }
        }
        return i + 1;
    }

    case Stage::ReplyBody: {
        const size_t n = std::min(remaining_, block.size() - i);
        reply_.append(reinterpret_cast<const char*>(block.data() + i), n);
        remaining_ -= n;
        if (remaining_ == 0) {
            FinishReply(true);
            Reset();
        }
        return i + n;
    }
    }
    return i + 1;
}

void CRTSPStreamParser::Hunt(uint8_t byte) {
    if (byte == kFrameStart) {
        stage_ = Stage::Channel;
    } else if (byte == static_cast<uint8_t>(kReplyStart[0])) {
        reply_.assign(1, static_cast<char>(byte));
        stage_ = Stage::ReplyPrefix;
    } else {
        ++skipped_;
    }
}

void CRTSPStreamParser::DeliverFrame() {
    if (frame_.empty() || !packet_.Parse(frame_)) return;
    if (user_) user_->OnInterleavedPacket(&packet_, &frame_);
}

void CRTSPStreamParser::FinishReply(bool complete) {
    if (onReply_) onReply_(reply_, complete);
}

void CRTSPStreamParser::Reset() {
    stage_ = Stage::Hunting;
    lengthHeld_ = 0;
    remaining_ = 0;
    frame_.clear();
    reply_.clear();
}

}  // namespace dravnel
