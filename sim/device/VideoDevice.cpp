#include "sim/device/VideoDevice.h"

#include <mutex>

namespace dravnel::sim {

namespace {

constexpr size_t kMaxMessages = 1000;

WebPageReply Answer(std::string body) {
    WebPageReply reply;
    reply.body = std::move(body);
    return reply;
}

}  // namespace

struct VideoDevice::State {
    State(DeviceProfile profile, unsigned channels, bool ntsc, RtspServer* server)
        : settings(profile, channels, ntsc), rtsp(server) {}

    // Brings the RTSP side of a stream in line with its settings.
    void PushLocked(unsigned channel, unsigned stream) {
        const std::string path = settings.RtspPath(channel, stream);
        if (!rtsp || path.empty()) return;
        const RtspStreamConfig config = settings.RtspConfig(channel, stream);
        if (std::string why = config.Validate(); !why.empty()) {
            NoteLocked(path + " keeps its media: " + why);
            return;
        }
        if (rtsp->Stream(path) == config) return;
        if (!rtsp->SetStream(path, config)) NoteLocked(path + ": " + rtsp->LastError());
    }

    void NoteLocked(std::string message) {
        if (messages.size() < kMaxMessages) messages.push_back(std::move(message));
    }

    WebPageReply Video(const WebPageRequest& request) {
        const std::string app = request.Param("app");
        if (app == "get") {
            std::lock_guard<std::mutex> lock(mutex);
            return Answer(settings.AnswerGet(request.params));
        }
        if (app != "set") return Answer("res=400");
        VideoSetResult result;
        SetObserver tell;
        {
            std::lock_guard<std::mutex> lock(mutex);
            result = settings.ApplySet(request.params);
            for (const auto& [channel, stream] : result.changed) PushLocked(channel, stream);
            setRequests.push_back(request.target);
            if (!result.accepted) lastRejection = result.reason;
            tell = observer;
        }
        if (tell) tell(request.target, result.accepted, result.reason);
        return Answer(result.accepted ? "res=200" : "res=400");
    }

    WebPageReply Network(const WebPageRequest& request) {
        if (request.Param("app") != "get") return Answer("res=400");
        std::lock_guard<std::mutex> lock(mutex);
        return Answer(
            "res=200&ip_type=static&ip=127.0.0.1&netmask=255.0.0.0&gateway=127.0.0.1"
            "&http_port=" +
            std::to_string(httpPort) + "&rtsp_port=" + std::to_string(rtspPort));
    }

    mutable std::mutex mutex;
    VideoSettings settings;
    RtspServer* rtsp;  // borrowed; cleared when the VideoDevice goes
    uint16_t httpPort = 80;
    uint16_t rtspPort = 554;
    std::vector<std::string> setRequests;
    std::string lastRejection;
    std::vector<std::string> messages;
    SetObserver observer;
};

VideoDevice::VideoDevice(WebServer& web, RtspServer* rtsp, DeviceProfile profile, unsigned channels, bool ntsc)
    : state_(std::make_shared<State>(profile, channels, ntsc, rtsp)) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        for (unsigned channel = 1; channel <= state_->settings.Channels(); ++channel)
            for (unsigned stream = 1; stream <= VideoSettings::kStreamsPerChannel; ++stream)
                state_->PushLocked(channel, stream);
    }
    web.SetPage("/video/video.php", [state = state_](const WebPageRequest& request) { return state->Video(request); });
    web.SetPage("/system/network.php",
                [state = state_](const WebPageRequest& request) { return state->Network(request); });
}

VideoDevice::~VideoDevice() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->rtsp = nullptr;
    state_->observer = nullptr;
}

unsigned VideoDevice::Channels() const { return state_->settings.Channels(); }

std::string VideoDevice::Get(unsigned channel, unsigned stream, const std::string& name) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->settings.Value(channel, stream, name).value_or("");
}

void VideoDevice::Set(unsigned channel, unsigned stream, const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->settings.SetValue(channel, stream, name, value)) state_->PushLocked(channel, stream);
}

void VideoDevice::Remove(unsigned channel, unsigned stream, const std::string& name) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->settings.RemoveValue(channel, stream, name)) state_->PushLocked(channel, stream);
}

void VideoDevice::SetRtspPort(uint16_t port) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->rtspPort = port;
}

void VideoDevice::SetHttpPort(uint16_t port) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->httpPort = port;
}

std::string VideoDevice::RtspPath(unsigned channel, unsigned stream) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->settings.RtspPath(channel, stream);
}

RtspStreamConfig VideoDevice::RtspConfig(unsigned channel, unsigned stream) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->settings.RtspConfig(channel, stream);
}

size_t VideoDevice::SetRequestCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->setRequests.size();
}

std::vector<std::string> VideoDevice::SetRequests() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->setRequests;
}

std::string VideoDevice::LastRejection() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->lastRejection;
}

std::vector<std::string> VideoDevice::Messages() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->messages;
}

void VideoDevice::ObserveSets(SetObserver observer) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->observer = std::move(observer);
}

}  // namespace dravnel::sim
