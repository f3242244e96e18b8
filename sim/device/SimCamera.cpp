#include "sim/device/SimCamera.h"

#include <algorithm>

namespace dravnel::sim {

SimCamera::SimCamera(SimCameraOptions options)
    : options_(std::move(options)),
      rtsp_(RtspOptions(options_)),
      device_(web_),
      video_(web_, &rtsp_, options_.profile, options_.channels, options_.ntsc),
      identity_(web_, IdentityOf(options_)),
      ptz_(web_, options_.channels),
      alarms_(web_, options_.inputs, options_.outputs) {
    if (options_.vistaMpeg) vistaMpeg_ = std::make_unique<VistaMpegDevice>(web_, &rtsp_, options_.ntsc);
    web_.SetAuth(options_.webAuth, options_.user, options_.password);
    rtsp_.SetAuth(options_.rtspAuth, options_.user, options_.password);  // refused without a user: see Start
    if (!options_.replay.empty()) rtsp_.SetReplay(options_.replay);      // read at Start
}

SimCamera::~SimCamera() {
    Stop();
    web_.Stop();
}

RtspServer::Options SimCamera::RtspOptions(const SimCameraOptions& options) {
    RtspServer::Options rtsp;
    rtsp.executable = options.rtspExecutable;
    rtsp.channels = std::clamp(options.channels, 1u, VideoSettings::kMaxChannels);
    return rtsp;
}

IdentityOptions SimCamera::IdentityOf(const SimCameraOptions& options) {
    IdentityOptions identity;
    identity.profile = options.identity;
    identity.model = options.model;
    identity.firmware = options.firmware;
    identity.ntsc = options.ntsc;
    identity.channels = std::clamp(options.channels, 1u, VideoSettings::kMaxChannels);
    identity.alarmInputs = options.inputs;
    identity.alarmOutputs = std::min(options.outputs, 1u);
    identity.ptz = options.ptz;
    return identity;
}

bool SimCamera::Start() {
    std::lock_guard<std::mutex> control(control_);
    if (Running()) {
        Fail("the camera is running");
        return false;
    }
    return StartLocked();
}

void SimCamera::Stop() {
    std::lock_guard<std::mutex> control(control_);
    StopLocked();
}

bool SimCamera::Restart() {
    std::lock_guard<std::mutex> control(control_);
    StopLocked();
    return StartLocked();
}

bool SimCamera::StartLocked() {
    if ((options_.webAuth != WebAuth::None || options_.rtspAuth != RtspServer::Auth::None) && options_.user.empty()) {
        Fail("authentication needs a user name");
        return false;
    }
    bool first;
    uint16_t webPort, rtspPort;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        first = webPort_ == 0;
        webPort = first ? options_.webPort : webPort_;
        rtspPort = first ? options_.rtspPort : rtspPort_;
    }
    if (!webStarted_) {
        if (!web_.Start(0)) {
            Fail("the web server cannot listen on 127.0.0.1");
            return false;
        }
        webStarted_ = true;
    }
    // The RTSP side first: once the HTTP port answers, the network page names
    // the RTSP port.
    if (!rtsp_.Start(rtspPort)) {
        Fail("RTSP server: " + rtsp_.LastError());
        return false;
    }
    video_.SetRtspPort(rtsp_.Port());
    std::string error;
    if (!gate_.Open(webPort, web_.Port(), error)) {
        rtsp_.Stop();
        Fail("HTTP: " + error);
        return false;
    }
    video_.SetHttpPort(gate_.Port());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        webPort_ = gate_.Port();
        rtspPort_ = rtsp_.Port();
        running_ = true;
    }
    if (first) UpdateConfigText();
    return true;
}

void SimCamera::StopLocked() {
    gate_.Close();
    rtsp_.Stop();
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
}

bool SimCamera::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

std::string SimCamera::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

uint16_t SimCamera::WebPort() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return webPort_;
}

uint16_t SimCamera::RtspPort() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rtspPort_;
}

std::string SimCamera::WebUrl() const { return "http://127.0.0.1:" + std::to_string(WebPort()); }

std::string SimCamera::RtspUrl(unsigned channel, unsigned stream) const {
    return "rtsp://127.0.0.1:" + std::to_string(RtspPort()) + video_.RtspPath(channel, stream);
}

void SimCamera::Fail(std::string error) {
    std::lock_guard<std::mutex> lock(mutex_);
    lastError_ = std::move(error);
}

// Identification as the capability query reads it, one name=value a line.
void SimCamera::UpdateConfigText() { device_.SetConfigText(identity_.ConfigText(WebPort(), RtspPort())); }

}  // namespace dravnel::sim
