// The whole simulated camera on 127.0.0.1: the web server with the device's
// pages (WebDevice: "/system/user.php", "/config.txt"; VideoDevice: the video
// and network pages; PtzPages: the PTZ command and configuration pages) and
// the RTSP server, started and stopped together.
//
// The web server runs behind a TcpGate from the first Start until the camera
// is destroyed: Stop and Restart take the HTTP port (the gate) and the RTSP
// server away, and Start brings both back on the ports they had, so a
// "reboot" refuses and cuts connections while the pages, the request logs,
// the authentication and every setting live on. Web().Port() is the inner
// server's port; clients use WebPort(). "/config.txt" is written when the
// camera first comes up (it names the ports): set another text after Start.
//
// Example:
//   dravnel::sim::SimCamera camera({.profile = DeviceProfile::ModelB, .webAuth = WebAuth::Digest});
//   if (!camera.Start()) FAIL() << camera.LastError();
//   ... driver at 127.0.0.1:camera.WebPort(), user "admin", password "admin" ...
//   camera.Video().Get(1, 1, "res");   // "704x576" once the driver set it
//
// Thread-safety: Start, Stop and Restart belong to one thread at a time (they
// are serialised); the accessors and the objects they return may be used from
// any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "sim/device/AlarmDevice.h"
#include "sim/device/DeviceIdentity.h"
#include "sim/device/PtzPages.h"
#include "sim/device/TcpGate.h"
#include "sim/device/VideoDevice.h"
#include "sim/device/VistaMpegDevice.h"
#include "sim/rtsp/RtspServer.h"
#include "sim/web/WebDevice.h"
#include "sim/web/WebServer.h"

namespace dravnel::sim {

struct SimCameraOptions {
    DeviceProfile profile = DeviceProfile::Standard;
    unsigned channels = 1;  // 1 to VideoSettings::kMaxChannels
    bool ntsc = false;
    WebAuth webAuth = WebAuth::None;
    RtspServer::Auth rtspAuth = RtspServer::Auth::None;
    std::string user = "admin", password = "admin";
    uint16_t webPort = 0, rtspPort = 0;  // 0: free ports
    // What "/config.txt" reports as the device's model and firmware.
    std::string model = "QSIM-100";
    std::string firmware = "1.0.0";
    // Alarm inputs and relay outputs (AlarmDevice); the probe pages report the
    // same counts (at most one output).
    unsigned inputs = 4;
    unsigned outputs = 1;
    // Which firmware generation "/config.txt" and the probe pages show, and
    // whether they report PTZ (see DeviceIdentity).
    IdentityProfile identity = IdentityProfile::Group1;
    bool ptz = false;
    // The RTSP media process; empty: quarnel-sim-rtsp beside the running program.
    std::string rtspExecutable;
    // An older Vista MPEG-4 device as well: its "/admin/mpeg4.html" page and
    // the MPEG-4 stream "/video" with alarm bits (VistaMpegDevice).
    bool vistaMpeg = false;
    // An RFC 4571 RTP recording every stream replays instead of encoding
    // (RtspServer::SetReplay); empty: live encoders.
    std::string replay{};
};

class SimCamera {
public:
    explicit SimCamera(SimCameraOptions options = {});
    ~SimCamera();
    SimCamera(const SimCamera&) = delete;
    SimCamera& operator=(const SimCamera&) = delete;

    // Brings the camera up: on the ports of the options the first time, on the
    // ports it had afterwards. False with LastError(); nothing then runs.
    bool Start();
    // Both servers go away; no child process, relay thread or public port
    // remains. Idempotent.
    void Stop();
    // Stop, then Start on the same ports with the same state.
    bool Restart();
    bool Running() const;

    std::string LastError() const;
    uint16_t WebPort() const;
    uint16_t RtspPort() const;
    // "http://127.0.0.1:<port>"
    std::string WebUrl() const;
    // The RTSP URL of a stream (channel and stream from 1, as on the video page).
    std::string RtspUrl(unsigned channel, unsigned stream) const;

    WebServer& Web() { return web_; }
    RtspServer& Rtsp() { return rtsp_; }
    VideoDevice& Video() { return video_; }
    WebDevice& Device() { return device_; }
    // Null unless the options ask for the older device.
    VistaMpegDevice* VistaMpeg() { return vistaMpeg_.get(); }
    AlarmDevice& Alarms() { return alarms_; }
    DeviceIdentity& Identity() { return identity_; }
    PtzPages& Ptz() { return ptz_; }
    const SimCameraOptions& Options() const { return options_; }

private:
    bool StartLocked();
    void StopLocked();
    void Fail(std::string error);
    void UpdateConfigText();
    static RtspServer::Options RtspOptions(const SimCameraOptions& options);
    static IdentityOptions IdentityOf(const SimCameraOptions& options);

    const SimCameraOptions options_;
    WebServer web_;
    RtspServer rtsp_;
    WebDevice device_;
    VideoDevice video_;
    std::unique_ptr<VistaMpegDevice> vistaMpeg_;
    // Before the alarm device: its alarm pages answer the probe too, and
    // replace the identity's plain ones.
    DeviceIdentity identity_;
    PtzPages ptz_;
    AlarmDevice alarms_;
    TcpGate gate_;

    std::mutex control_;        // serialises Start, Stop and Restart
    mutable std::mutex mutex_;  // guards the fields below
    bool webStarted_ = false;
    bool running_ = false;
    uint16_t webPort_ = 0;
    uint16_t rtspPort_ = 0;
    std::string lastError_;
};

}  // namespace dravnel::sim
