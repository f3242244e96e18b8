// An RTP channel whose stream comes from an RTSP session: chooses the RTP
// transport, fills the client's settings from the device record and starts
// and stops the session around the capture loop's connects.
//
// Thread-safety: as CBaseRTPChannel; RTPMode and RTPPacketSize are written and
// read on the capture thread only.
#pragma once

#include <cstdint>

#include "channel/CBaseRTPChannel.h"
#include "driver/DeviceSettings.h"
#include "rtsp/CBaseRTSPClient.h"
#include "rtsp/RTSPConnectionSettings.h"

namespace dravnel {

class CBaseRTSPChannel : public CBaseRTPChannel {
public:
    CBaseRTSPChannel(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink);
    ~CBaseRTSPChannel() override;

protected:
    // UDP mode binds the ports first; every mode then starts the session.
    bool StartStreaming() override;
    void StopStreaming() override;
    // The codec channel completes the settings (stream path, port, media).
    virtual void PrepareRTSPSettings(RTSPConnectionSettings& settings) = 0;

    // From the device settings file, read before every connect.
    int32_t RTPMode = kRtpOverUdp;
    int32_t RTPPacketSize = 0;

private:
    CBaseRTSPClient client_;
};

}  // namespace dravnel
