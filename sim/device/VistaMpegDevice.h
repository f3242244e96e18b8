// The older Vista MPEG-4 device's stream page on a WebServer, driving the
// MPEG-4 stream "/video" of its RtspServer, whose VOPs carry the alarm bits
// in a user data block (see MediaServer).
//
//   "/admin/mpeg4.html?app=set[&size=WxH][&mpeg4_br=BPS][&mpeg4_fps=N][&mpeg4_gov=N]"
//        "res=200" and all applied, or HTTP 400 "res=400" and none
//   "/admin/mpeg4.html?app=get"   "res=200&size=640x480&mpeg4_br=1000000&mpeg4_fps=25&mpeg4_gov=25"
//
// Sizes are those of the video standard (PAL 160x112, 320x240, 640x480,
// 720x576; NTSC 160x120, 320x240, 640x480, 720x480), the bit rate 16000 to
// 8000000 bit/s, the frame rate 1 to 30 and the GOV 1 to 1000.
//
// Thread-safety: every member may be called from any thread while the page
// serves requests; the page shares the state and outlives nothing it uses
// after the device is gone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/rtsp/RtspServer.h"
#include "sim/web/WebServer.h"

namespace dravnel::sim {

class VistaMpegDevice {
public:
    static constexpr const char* kPath = "/video";

    // `rtsp` (may be null) is borrowed and must outlive this object.
    VistaMpegDevice(WebServer& web, RtspServer* rtsp, bool ntsc);
    ~VistaMpegDevice();
    VistaMpegDevice(const VistaMpegDevice&) = delete;
    VistaMpegDevice& operator=(const VistaMpegDevice&) = delete;

    // "size", "mpeg4_br", "mpeg4_fps" or "mpeg4_gov"; empty for anything else.
    std::string Get(const std::string& name) const;
    std::vector<std::string> SetRequests() const;  // targets of the set requests, in order
    // The alarm inputs as the video reports them (bit i: input i).
    void SetAlarmBits(uint8_t bits);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace dravnel::sim
