// H.264 depacketizer (RFC 6184): single NAL unit packets, STAP-A and FU-A
// become one Annex B access unit per frame, closed by the RTP marker bit.
//
//   delivered frame:  [00 00 01 SPS 00 00 01 PPS]  00 00 01 NAL ...  00 00 01 09 30
//                      from the session description  the packets'    access unit
//                      when an IDR opens a frame      NAL units       delimiter
//                      that brought no SPS
//
// Frames are held back until the first one carrying an SPS (a key frame),
// and again after every loss, malformed packet or refused frame.
//
// Thread-safety: as CRTPMediaParser.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "rtp/CRTPMediaParser.h"
#include "rtp/H264Sps.h"

namespace dravnel {

class CH264RTPMediaParser : public CRTPMediaParser {
public:
    CH264RTPMediaParser(IDriver* driver, std::string streamName);

    void ProcessPacket(CRTPPacket* packet) override;
    void Reset() override;
    // Keeps the SPS and PPS only when the SPS gives a picture size.
    void SetCodecConfig(const CodecConfig* config) override;

    bool WaitingForKeyFrame() const { return waitingForKeyFrame_; }
    uint32_t Width() const { return size_.width; }
    uint32_t Height() const { return size_.height; }

private:
    bool HandlePayload(std::span<const uint8_t> payload);
    bool HandleSingleNalUnit(std::span<const uint8_t> nal);
    bool HandleStapA(std::span<const uint8_t> payload);
    bool HandleFuA(std::span<const uint8_t> payload);
    void AppendNalUnit(std::span<const uint8_t> nal);
    void PrependParameterSets();
    void ClearFrame();
    void Deliver();

    bool waitingForKeyFrame_ = true;
    bool frameComplete_ = false;
    // The frame buffer holds nothing but whole NAL units other than slices
    // and parameter sets (empty included).
    bool headOnly_ = true;
    PictureSize size_;
};

}  // namespace dravnel
