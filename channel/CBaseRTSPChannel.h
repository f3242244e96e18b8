// An RTP channel whose stream comes from an RTSP session: chooses the RTP
// transport, fills the client's settings from the device record and starts
// and stops the session around the capture loop's connects.
//
// Thread-safety: as CBaseRTPChannel; RTPMode and RTPPacketSize are written and
// read on the capture thread only.
#pragma once

#include <cstdint>
#include <string>

#include "channel/CBaseRTPChannel.h"
#include "channel/CLogThrottle.h"
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
    // Logs why a connect pass brought no video, at level 2, the same reason
    // through a throttle.
    void ReportNoVideo(NoVideoStage stage) override;
    // The reason, in a few words; a channel that prepares its stream over
    // HTTP says why that failed.
    virtual std::string NoVideoReason(NoVideoStage stage);

    // From the device settings file, read before every connect.
    int32_t RTPMode = kRtpOverUdp;
    int32_t RTPPacketSize = 0;

private:
    CBaseRTSPClient client_;
    uint16_t serverPort_ = 0;  // of the last session
    std::string lastNoVideo_;
    CLogThrottle noVideoThrottle_;
};

}  // namespace dravnel
