#include "sim/device/VistaMpegDevice.h"

#include <mutex>

#include "sim/device/SizeTable.h"

namespace dravnel::sim {

namespace {

struct Size {
    unsigned width, height;
};
constexpr Size kPalSizes[] = {{160, 112}, {320, 240}, {640, 480}, {720, 576}};
constexpr Size kNtscSizes[] = {{160, 120}, {320, 240}, {640, 480}, {720, 480}};

std::optional<unsigned> Number(const std::string& text, unsigned low, unsigned high) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned value = static_cast<unsigned>(std::stoul(text));
    if (value < low || value > high) return std::nullopt;
    return value;
}

WebPageReply Reply(int status, std::string body) {
    WebPageReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

}  // namespace

struct VistaMpegDevice::State {
    std::mutex mutex;
    bool ntsc = false;
    RtspServer* rtsp = nullptr;  // cleared when the device goes
    RtspStreamConfig config;
    std::vector<std::string> sets;

    std::string Text() const {
        return "res=200&size=" + std::to_string(config.width) + "x" + std::to_string(config.height) +
               "&mpeg4_br=" + std::to_string(config.bitrateKbps * 1000) + "&mpeg4_fps=" + std::to_string(config.fps) +
               "&mpeg4_gov=" + std::to_string(config.gop);
    }

    // Checks every value first; applies all or none.
    bool Apply(const WebPageRequest& request) {
        RtspStreamConfig next = config;
        for (const auto& [name, value] : request.params) {
            if (name == "app") continue;
            if (name == "size") {
                const auto size = SizeTable::ParseDimensions(value);
                bool known = false;
                for (const Size& s : ntsc ? kNtscSizes : kPalSizes)
                    known = known || (size && size->width == s.width && size->height == s.height);
                if (!known) return false;
                next.width = size->width;
                next.height = size->height;
            } else if (name == "mpeg4_br") {
                const auto bps = Number(value, 16000, 8000000);
                if (!bps) return false;
                next.bitrateKbps = *bps / 1000;
            } else if (name == "mpeg4_fps") {
                const auto fps = Number(value, 1, 30);
                if (!fps) return false;
                next.fps = *fps;
            } else if (name == "mpeg4_gov") {
                const auto gov = Number(value, 1, 1000);
                if (!gov) return false;
                next.gop = *gov;
            } else {
                return false;
            }
        }
        if (!(next == config)) {
            config = next;
            if (rtsp) rtsp->SetStream(kPath, config);
        }
        return true;
    }
};

VistaMpegDevice::VistaMpegDevice(WebServer& web, RtspServer* rtsp, bool ntsc) : state_(std::make_shared<State>()) {
    state_->ntsc = ntsc;
    state_->rtsp = rtsp;
    state_->config.codec = RtspCodec::MPEG4;
    state_->config.width = 640;
    state_->config.height = 480;
    state_->config.fps = ntsc ? 30 : 25;
    state_->config.gop = state_->config.fps;
    state_->config.bitrateKbps = 1000;
    state_->config.alarmData = true;
    if (rtsp) rtsp->SetStream(kPath, state_->config);
    web.SetPage("/admin/mpeg4.html", [state = state_](const WebPageRequest& request) {
        std::lock_guard<std::mutex> lock(state->mutex);
        const std::string app = request.Param("app");
        if (app == "get") return Reply(200, state->Text());
        if (app != "set") return Reply(400, "res=400\r\n");
        state->sets.push_back(request.target);
        return state->Apply(request) ? Reply(200, "res=200\r\n") : Reply(400, "res=400\r\n");
    });
}

VistaMpegDevice::~VistaMpegDevice() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->rtsp = nullptr;
}

std::string VistaMpegDevice::Get(const std::string& name) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    const RtspStreamConfig& c = state_->config;
    if (name == "size") return std::to_string(c.width) + "x" + std::to_string(c.height);
    if (name == "mpeg4_br") return std::to_string(c.bitrateKbps * 1000);
    if (name == "mpeg4_fps") return std::to_string(c.fps);
    if (name == "mpeg4_gov") return std::to_string(c.gop);
    return {};
}

std::vector<std::string> VistaMpegDevice::SetRequests() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->sets;
}

void VistaMpegDevice::SetAlarmBits(uint8_t bits) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->rtsp) state_->rtsp->SetAlarmBits(bits);
}

}  // namespace dravnel::sim
