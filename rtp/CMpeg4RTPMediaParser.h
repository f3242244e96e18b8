// MPEG-4 Visual depacketizer (RFC 3016): one frame per VOP, closed by the RTP
// marker bit. Key frames (I-VOPs) get the configuration headers in front:
// those the camera sent in-band, else the session description's "config".
//
//   packet:   [00 00 01 B0 ... VOL ... GOV]  [00 00 01 B2 user data]  00 00 01 B6 VOP ...
//              in-band configuration, kept    belongs to the frame     coding type: 2 bits
//   I frame:  configuration | [user data] | VOP ...                      tag "DIVX"
//   P frame:  [user data] | VOP ...                                      tag "DIVI"
//
// Frames are held back until the first I-VOP, and again after a loss, an
// oversized frame, an I-VOP whose headers give no picture size, or a frame
// the host refused.
//
// Thread-safety: as CRTPMediaParser.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "rtp/CMP4Parser.h"
#include "rtp/CRTPMediaParser.h"

namespace dravnel {

class CMpeg4RTPMediaParser : public CRTPMediaParser {
public:
    CMpeg4RTPMediaParser(IDriver* driver, std::string streamName);

    void ProcessPacket(CRTPPacket* packet) override;
    void Reset() override;

    bool WaitingForKeyFrame() const { return waitingForKeyFrame_; }
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    const CMP4Parser& Headers() const { return mp4_; }

private:
    void StartFrame(std::span<const uint8_t> payload, size_t vop);
    void Deliver();

    bool waitingForKeyFrame_ = true;
    bool keyFrame_ = false;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    CMP4Parser mp4_;
};

}  // namespace dravnel
