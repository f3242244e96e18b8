#include "sim/device/PtzPages.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>

namespace dravnel::sim {

namespace {

constexpr double kDegreesPerSpeedStep = 5.0;  // per second
constexpr double kZoomPerSecond = 1.0;

uint64_t SteadyMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

WebPageReply Answer(int status, std::string body) {
    WebPageReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

// A strict decimal number in [min, max]; 0 when it is not one.
unsigned Number(const std::string& text, unsigned min, unsigned max) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    const unsigned n = static_cast<unsigned>(std::stoul(text));
    return n >= min && n <= max ? n : 0;
}

struct Head {
    PtzPosition at;
    int panDirection = 0, tiltDirection = 0, zoomDirection = 0;
    double panSpeed = 0, tiltSpeed = 0;
    uint64_t since = 0;
    std::map<unsigned, PtzPosition> presets;

    void Advance(uint64_t now) {
        const double seconds = now > since ? static_cast<double>(now - since) / 1000.0 : 0.0;
        since = now;
        at.pan = std::fmod(at.pan + panDirection * panSpeed * kDegreesPerSpeedStep * seconds, 360.0);
        if (at.pan < 0) at.pan += 360.0;
        at.tilt = std::clamp(at.tilt + tiltDirection * tiltSpeed * kDegreesPerSpeedStep * seconds, -90.0, 90.0);
        at.zoom = std::clamp(at.zoom + zoomDirection * kZoomPerSecond * seconds, 1.0, 20.0);
    }
};

}  // namespace

struct PtzPages::State {
    explicit State(unsigned channelCount) : heads(std::max(channelCount, 1u)), enabled(heads.size(), true) {}

    uint64_t Now() const { return clock ? clock() : SteadyMs(); }

    WebPageReply Control(const WebPageRequest& request) {
        std::unique_lock<std::mutex> lock(mutex);
        commands.push_back(request.target);
        changed.notify_all();
        // The slow camera: answers only after its delay, or when let go.
        if (delayMs != 0) changed.wait_for(lock, std::chrono::milliseconds(delayMs), [&] { return closed; });
        changed.wait_for(lock, std::chrono::milliseconds(kMaxHoldMs), [&] { return !held || closed; });

        const unsigned channel = Number(request.Param("ch"), 1, static_cast<unsigned>(heads.size()));
        if (channel == 0) return Answer(400, "res=400");
        Head& head = heads[channel - 1];
        head.Advance(Now());
        bool known = false;
        if (request.params.count("move")) {
            if (!Move(head, request)) return Answer(400, "res=400");
            known = true;
        }
        const auto motion = [&](const char* key, std::string& state, std::initializer_list<const char*> values) {
            if (!request.params.count(key)) return true;
            const std::string value = request.Param(key);
            for (const char* v : values)
                if (value == v) {
                    state = value;
                    known = true;
                    return true;
                }
            return false;
        };
        if (!motion("zoom", head.at.zoomMotion, {"tele", "wide", "stop"}) ||
            !motion("focus", head.at.focus, {"near", "far", "stop"}) ||
            !motion("iris", head.at.iris, {"open", "close", "stop"}))
            return Answer(400, "res=400");
        head.zoomDirection = head.at.zoomMotion == "tele" ? 1 : head.at.zoomMotion == "wide" ? -1 : 0;
        if (request.params.count("presetsave")) {
            const unsigned preset = Number(request.Param("presetsave"), 1, kMaxPresets);
            if (preset == 0) return Answer(400, "res=400");
            head.presets[preset] = head.at;
            known = true;
        }
        if (request.params.count("preset")) {
            const unsigned preset = Number(request.Param("preset"), 1, kMaxPresets);
            const auto stored = head.presets.find(preset);
            if (stored == head.presets.end()) return Answer(400, "res=400");
            head.at.pan = stored->second.pan;
            head.at.tilt = stored->second.tilt;
            head.at.zoom = stored->second.zoom;
            head.at.move = head.at.zoomMotion = "stop";
            head.panDirection = head.tiltDirection = head.zoomDirection = 0;
            known = true;
        }
        return known ? Answer(200, "res=200") : Answer(400, "res=400");
    }

    static bool Move(Head& head, const WebPageRequest& request) {
        static const std::map<std::string, std::pair<int, int>> kMoves = {
            {"left", {-1, 0}},   {"right", {1, 0}},      {"up", {0, 1}},         {"down", {0, -1}}, {"upleft", {-1, 1}},
            {"upright", {1, 1}}, {"downleft", {-1, -1}}, {"downright", {1, -1}}, {"stop", {0, 0}}};
        const std::string move = request.Param("move");
        const auto found = kMoves.find(move);
        if (found == kMoves.end()) return false;
        const unsigned pspd = Number(request.Param("pspd"), 1, 8);
        const unsigned tspd = Number(request.Param("tspd"), 1, 8);
        head.panDirection = found->second.first;
        head.tiltDirection = found->second.second;
        head.panSpeed = pspd ? pspd : tspd ? tspd : 1;
        head.tiltSpeed = tspd ? tspd : 1;
        head.at.move = move;
        return true;
    }

    WebPageReply Configuration(const WebPageRequest& request) {
        if (request.Param("app") != "get") return Answer(400, "res=400");
        std::lock_guard<std::mutex> lock(mutex);
        if (emptyConfiguration) return Answer(200, "");
        std::string body = "res=200&ptz_count=" + std::to_string(enabled.size());
        for (size_t i = 0; i < enabled.size(); ++i)
            body += "&ptz" + std::to_string(i + 1) + "_enable=" + (enabled[i] ? "1" : "0");
        return Answer(200, body);
    }

    Head* HeadOf(unsigned channel) { return channel >= 1 && channel <= heads.size() ? &heads[channel - 1] : nullptr; }

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<Head> heads;
    std::vector<bool> enabled;
    std::vector<std::string> commands;
    bool emptyConfiguration = false;
    uint32_t delayMs = 0;
    bool held = false;
    bool closed = false;
    Clock clock;
};

PtzPages::PtzPages(WebServer& web, unsigned channels) : state_(std::make_shared<State>(channels)) {
    web.SetPage("/ptz/control.php", [state = state_](const WebPageRequest& r) { return state->Control(r); });
    web.SetPage("/device/ptz.php", [state = state_](const WebPageRequest& r) { return state->Configuration(r); });
}

PtzPages::~PtzPages() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->closed = true;
    state_->clock = nullptr;
    state_->changed.notify_all();
}

std::vector<std::string> PtzPages::Commands() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->commands;
}

void PtzPages::ClearCommands() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->commands.clear();
}

bool PtzPages::WaitForCommands(size_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return state_->commands.size() >= count; });
}

PtzPosition PtzPages::Position(unsigned channel) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    Head* head = state_->HeadOf(channel);
    if (!head) return {};
    head->Advance(state_->Now());
    return head->at;
}

void PtzPages::SetPosition(unsigned channel, double pan, double tilt, double zoom) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (Head* head = state_->HeadOf(channel)) {
        head->Advance(state_->Now());
        head->at.pan = pan;
        head->at.tilt = tilt;
        head->at.zoom = zoom;
    }
}

bool PtzPages::HasPreset(unsigned channel, unsigned preset) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    const Head* head = state_->HeadOf(channel);
    return head && head->presets.count(preset) != 0;
}

void PtzPages::SetPtzEnabled(unsigned channel, bool enabled) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (channel >= 1 && channel <= state_->enabled.size()) state_->enabled[channel - 1] = enabled;
}

void PtzPages::SetEmptyConfiguration(bool empty) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->emptyConfiguration = empty;
}

void PtzPages::SetDelayMs(uint32_t ms) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->delayMs = ms;
}

void PtzPages::Hold(bool hold) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->held = hold;
    state_->changed.notify_all();
}

void PtzPages::SetClock(Clock clock) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (Head& head : state_->heads) head.Advance(state_->Now());
    state_->clock = std::move(clock);
    const uint64_t now = state_->Now();
    for (Head& head : state_->heads) head.since = now;
}

}  // namespace dravnel::sim
