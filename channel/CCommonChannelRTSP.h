// Keeps the device's stream configured as the recorder asked before every
// RTSP session: reads the device's video page, works out the wanted codec,
// picture size, frame rate, key-frame distance, bit rate and rate control,
// and sends only the values that differ. Learns the device's RTSP port and
// builds the stream path of the RTSP URL.
//
// Two device kinds (driver parameter 4): standard devices (1, 3) configure
// stream 1 in one set request, with named sizes ("4CIF"); Model B devices (2)
// take "WIDTHxHEIGHT" sizes and a stream parameter, and are configured in two
// passes (codec, size and rate control first; frame rate, GOP and bit rate
// after the device has applied them).
//
//   GET /video/video.php?app=get&ch=1          ->  res=200&ch1_strm1_codec=H264&...
//   GET /video/video.php?app=set&ch=1&ch1_strm1_fps=15&ch1_strm1_gov=15
//   GET /system/network.php?app=get            ->  ...&rtsp_port=554&...
//
// Thread-safety: everything runs on the capture thread, except OnStopThread,
// which closes the sender's request from the stopping thread so that a
// blocked read returns.
#pragma once

#include <cstdint>
#include <string>

#include "channel/CBaseRTSPChannel.h"
#include "channel/CLogThrottle.h"
#include "channel/CResolutionHelper.h"
#include "web/CHttpSender.h"
#include "web/CResultDef.h"

namespace dravnel {

class CCommonChannelRTSP : public CBaseRTSPChannel {
public:
    CCommonChannelRTSP(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink);
    ~CCommonChannelRTSP() override;

    uint16_t RtspPort() const { return rtspPort_; }

protected:
    void OnStopThread() override;
    bool ApplyUpdate() override { return PrepareStream(); }
    bool PrepareStream() override;
    void PrepareRTSPSettings(RTSPConnectionSettings& settings) override;
    virtual std::string BuildStreamPath();
    // The codec class configures a standard or a Model B device.
    virtual bool SetHitronStreamParameters() = 0;
    virtual bool SetHitronStreamParameters_ModelB() = 0;

    // One CGI request: its body in `text`. The reply's "res" must be "200";
    // a lenient request also accepts a reply without "res" or without a body.
    // Failures are logged through the throttle.
    bool RequestGet(const std::string& path, std::string& text, bool lenient);
    bool UpdateMainStreamConfiguration(const std::string& codec);
    bool UpdateMainStreamConfiguration_ModelB(const std::string& codec, bool full);
    std::string BitrateForQuality(const std::string& maxbr);
    // Logs a failure's message when the throttle allows it.
    void LogThrottled(const CResultDef& result);
    std::string NoVideoReason(NoVideoStage stage) override;

    // "ch<n>_strm<stream>_" of this channel.
    std::string Prefix(unsigned stream) const;
    bool IsModelB() const { return deviceKind_ == 2; }

    Web::CHttpSender sender_;
    uint16_t rtspPort_ = 0;  // 0 = not read yet
    const int32_t deviceKind_;
    CResolutionHelper resolutionHelper_;

private:
    CLogThrottle logThrottle_;
    std::string requestFailure_;  // why the last CGI request failed, in a few words
    bool unnamedSizeLogged_ = false;
};

}  // namespace dravnel
