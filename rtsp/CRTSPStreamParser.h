// Cuts RTP out of an RTSP connection in interleaved mode (RFC 2326 section
// 10.12). Each frame is
//
//    0               1               2               3
//   +---------------+---------------+---------------+---------------+
//   |   "$" 0x24    |   channel     |      length (network order)   |
//   +---------------+---------------+---------------+---------------+
//   |   <length> bytes: one RTP (channel 0) or RTCP (channel 1) packet ...
//
// and RTSP replies ("RTSP/1.0 200 OK ..." up to their empty line, plus their
// Content-Length body) arrive between frames. Blocks may split frames and
// replies anywhere. Channel-0 frames are parsed as RTP and handed to the
// user; frames of other channels are skipped whole by their length, so their
// bytes never start a false frame; replies are handed whole to the reply
// handler. Other bytes are skipped one at a time until a frame or a reply
// starts; a zero length resets the parser.
//
// Thread-safety: an object is used by one thread; it calls its user and its
// reply handler on that thread.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rtp/CRTPPacket.h"
#include "rtp/IRTPClient.h"

namespace dravnel {

class CRTSPStreamParser {
public:
    // A whole reply (header block and body). `complete` is false for a reply
    // that cannot be read: a header block or body above the reply limit; the
    // text then holds what was collected of its header.
    using ReplyHandler = std::function<void(std::string_view reply, bool complete)>;

    explicit CRTSPStreamParser(IRTPReceiverUser* user, ReplyHandler onReply = {});
    virtual ~CRTSPStreamParser() = default;

    // Consumes one received block; complete packets and replies are handed
    // on from inside the call.
    void Parse(std::span<const uint8_t> block);
    // Bytes skipped since the last call because they started neither a frame
    // nor a reply (a peer writing junk); resets the count.
    uint64_t TakeSkipped() {
        const uint64_t skipped = skipped_;
        skipped_ = 0;
        return skipped;
    }

private:
    enum class Stage { Hunting, Channel, Length, Payload, ReplyPrefix, ReplyHeader, ReplyBody };

    size_t Step(std::span<const uint8_t> block, size_t i);
    void Hunt(uint8_t byte);
    void DeliverFrame();
    void FinishReply(bool complete);
    void Reset();

    IRTPReceiverUser* user_;  // borrowed
    ReplyHandler onReply_;
    Stage stage_ = Stage::Hunting;
    uint8_t channel_ = 0;
    uint8_t lengthBytes_[2] = {};
    size_t lengthHeld_ = 0;
    size_t remaining_ = 0;
    std::vector<uint8_t> frame_;
    std::string reply_;
    CRTPPacket packet_;
    uint64_t skipped_ = 0;
};

}  // namespace dravnel
