// The MJPEG channel: configures the device's second stream for JPEG and turns
// its RTP packets into JPEG images for the host.
//
//   standard device:  GET /video/video.php?app=get&ch=1
//                     GET /video/video.php?app=set&ch=1&ch1_strm2_codec=JPEG&ch1_strm2_quality=60...
//                     stream "/1/stream2"
//   Model B device:   GET /video/video.php?app=get&ch=1&strm=2   (ch1_strm2_vga=1: the size is free)
//                     [stream 1 first set to the size when it is not]
//                     GET /video/video.php?app=set&ch=1&strm=2&ch1_strm2_en=1&ch1_strm2_codec=MJPEG...
//                     stream "/1/stream1"
//
// A Model B device scales its second stream from the first: a frame of
// another width than the channel's is dropped and the signal counts as lost.
//
// Thread-safety: as CCommonChannelRTSP; the parser is driven by one thread at
// a time (the RTP delivery thread or the RTSP client thread).
#pragma once

#include "channel/CCommonChannelRTSP.h"
#include "rtp/CJpegRTPMediaParser.h"

namespace dravnel {

class CMJPEGChannelRTSP : public CCommonChannelRTSP {
public:
    CMJPEGChannelRTSP(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink);
    ~CMJPEGChannelRTSP() override;

    bool OnFrame(ipcapture::IHostFrame* frame) override;

protected:
    void HandleRTPPacket(CRTPPacket* packet) override { parser_.ProcessPacket(packet); }
    void StopStreaming() override;
    std::string BuildStreamPath() override;
    bool SetHitronStreamParameters() override;
    bool SetHitronStreamParameters_ModelB() override;

private:
    CJpegRTPMediaParser parser_;
};

}  // namespace dravnel
