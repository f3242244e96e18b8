// The channel of the older Vista MPEG-4 devices (driver parameter 4 is 0):
// configures the stream over the older "/admin/mpeg4.html" page, plays
// "rtsp://device:<parameter 3, else 554>/video" and passes the alarm bits the
// device writes into its video to the I/O object.
//
//   GET /admin/mpeg4.html?app=set[&size=640x480]&mpeg4_br=2100000[&mpeg4_fps=25&mpeg4_gov=25]
//
//   frame:  ... 00 00 01 B2 b4 b5 b6 b7 b8 [alarm bits] ...   first user data block
//               i           i+4            i+9
//
// Thread-safety: as CBaseRTSPChannel. PrepareStream runs on the capture
// thread, OnStopThread on the stopping thread (it only closes the sender's
// request); OnFrame, and with it the alarm sink, on the thread that drives the
// parser. Set the sink before the channel starts.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "channel/CBaseRTSPChannel.h"
#include "io/CVistaIOCallback.h"
#include "rtp/CMpeg4RTPMediaParser.h"
#include "web/CHttpSender.h"

namespace dravnel {

class CVistaMPEGChannelRTSP : public CBaseRTSPChannel {
public:
    // `alarmSink` (borrowed; may be null) gets the alarm bits of the video.
    CVistaMPEGChannelRTSP(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink,
                          CVistaIOCallback* alarmSink);
    ~CVistaMPEGChannelRTSP() override;

    void SetAlarmSink(CVistaIOCallback* sink) { alarmSink_ = sink; }
    bool OnFrame(ipcapture::IHostFrame* frame) override;

    // The request that configures the stream for the channel's parameters.
    std::string ConfigurationPath();
    // The alarm bits of a frame: the byte 9 bytes behind the first user data
    // start code, when the frame holds more than one byte after it.
    static std::optional<uint8_t> AlarmBitsOf(std::span<const uint8_t> frame);

protected:
    void OnStopThread() override { sender_.CloseRequest(); }
    bool ApplyUpdate() override { return PrepareStream(); }
    bool PrepareStream() override;
    void PrepareRTSPSettings(RTSPConnectionSettings& settings) override;
    void HandleRTPPacket(CRTPPacket* packet) override { parser_.ProcessPacket(packet); }
    void StopStreaming() override;

private:
    Web::CHttpSender sender_;
    CMpeg4RTPMediaParser parser_;
    CVistaIOCallback* alarmSink_;
};

}  // namespace dravnel
