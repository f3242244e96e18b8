// JPEG depacketizer (RFC 2435): the fragments of a frame are gathered and,
// at the RTP marker bit, turned into a complete baseline JPEG image (the
// headers the payload format leaves out are rebuilt, see JpegHeaders.h).
//
//   frame buffer:  | first fragment's whole payload | later fragments' scan bytes ... |
//                    (main, restart and table headers)  (their 8 or 12 header bytes cut)
//
// Fragments are appended in arrival order; a lost packet (sequence break)
// drops the frame, and later fragments are ignored until the next first
// fragment (offset 0).
//
// Thread-safety: as CRTPMediaParser.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "rtp/CRTPMediaParser.h"

namespace dravnel {

class CJpegRTPMediaParser : public CRTPMediaParser {
public:
    CJpegRTPMediaParser(IDriver* driver, std::string streamName);

    void ProcessPacket(CRTPPacket* packet) override;
    void Reset() override;

    bool WaitingForFirstFragment() const { return waitingForFirstFragment_; }
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }

private:
    bool HandlePayload(std::span<const uint8_t> payload);
    void Deliver();

    bool waitingForFirstFragment_ = true;
    size_t headerSize_ = 8;  // of the later fragments: 12 with a restart marker header
    uint32_t width_ = 0;
    uint32_t height_ = 0;
};

}  // namespace dravnel
