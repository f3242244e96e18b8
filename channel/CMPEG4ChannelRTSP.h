// The MPEG-4 channel: configures the device's first stream for MPEG-4 Simple
// Profile ("MPEG4SP") and turns its RTP packets into MPEG-4 frames for the
// host. Model B devices have no MPEG-4 encoder: the channel refuses them on
// every attempt, so it never streams there.
//
// Thread-safety: as CCommonChannelRTSP; the parser is driven by one thread at
// a time (the RTP delivery thread or the RTSP client thread).
#pragma once

#include "channel/CCommonChannelRTSP.h"
#include "rtp/CMpeg4RTPMediaParser.h"

namespace dravnel {

class CMPEG4ChannelRTSP : public CCommonChannelRTSP {
public:
    CMPEG4ChannelRTSP(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink);
    ~CMPEG4ChannelRTSP() override;

    // The SDP's "config" (the stream's headers), when there is one.
    void OnSessionDescription(const CodecConfig* config) override;

protected:
    void HandleRTPPacket(CRTPPacket* packet) override { parser_.ProcessPacket(packet); }
    void StopStreaming() override;
    bool SetHitronStreamParameters() override { return UpdateMainStreamConfiguration("MPEG4SP"); }
    bool SetHitronStreamParameters_ModelB() override;

private:
    CMpeg4RTPMediaParser parser_;
};

}  // namespace dravnel
