// The H.264 channel: configures the device's first stream for H.264 and turns
// its RTP packets into Annex B frames for the host.
//
// Thread-safety: as CCommonChannelRTSP; the parser is driven by one thread at
// a time (the RTP delivery thread or the RTSP client thread).
#pragma once

#include "channel/CCommonChannelRTSP.h"
#include "rtp/CH264RTPMediaParser.h"

namespace dravnel {

class CH264ChannelRTSP : public CCommonChannelRTSP {
public:
    CH264ChannelRTSP(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink);
    ~CH264ChannelRTSP() override;

    // The SPS and PPS of the session description, when both are there.
    void OnSessionDescription(const CodecConfig* config) override;

protected:
    void HandleRTPPacket(CRTPPacket* packet) override { parser_.ProcessPacket(packet); }
    void StopStreaming() override;
    bool SetHitronStreamParameters() override { return UpdateMainStreamConfiguration("H264MP"); }
    bool SetHitronStreamParameters_ModelB() override { return UpdateMainStreamConfiguration_ModelB("H264BP", true); }

private:
    CH264RTPMediaParser parser_;
};

}  // namespace dravnel
