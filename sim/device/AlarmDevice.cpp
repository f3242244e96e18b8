#include "sim/device/AlarmDevice.h"

#include <algorithm>
#include <deque>
#include <mutex>

#include "platform/Clock.h"

namespace dravnel::sim {

namespace {

// One open event stream.
struct Stream {
    uint64_t next = 0;        // sequence number of the next message it owes
    uint32_t lastSentMs = 0;  // when it last sent anything
    bool cut = false;
    bool stalled = false;
    uint32_t stalledAtMs = 0;
};

bool Elapsed(uint32_t since, uint32_t ms) { return platform::MonotonicMs() - since >= ms; }

}  // namespace

struct AlarmDevice::State {
    static constexpr size_t kHistory = 256;

    mutable std::mutex mutex;
    unsigned outputs = 0;
    AlarmSettings settings;
    std::vector<bool> inputs;
    std::vector<bool> relays;     // the older devices' mandatory output
    uint32_t triggerUntilMs = 0;  // the newer devices' relay 1 closes until then
    bool triggerClosed = false;
    unsigned triggers = 0;
    bool badResult = false;
    uint32_t keepAliveMs = 1000;
    uint64_t sequence = 0;  // of the current message
    std::deque<std::pair<uint64_t, std::string>> history;
    std::vector<std::weak_ptr<Stream>> streams;
    Observer observer;

    std::string MessageLocked() const {
        bool any = false;
        std::string lines;
        for (size_t i = 0; i < inputs.size(); ++i) {
            const bool active = inputs[i] && i < settings.inputs.size() && settings.inputs[i].enable;
            any = any || active;
            lines += "alarm" + std::to_string(i + 1) + "=" + (active ? "1" : "0") + "\r\n";
        }
        return std::string("alarm=") + (any ? "1" : "0") + "\r\n" + lines;
    }

    // After any change that may change the message.
    void PublishLocked() {
        std::string message = MessageLocked();
        if (!history.empty() && history.back().second == message) return;
        history.emplace_back(++sequence, std::move(message));
        while (history.size() > kHistory) history.pop_front();
    }

    void Tell(const std::string& line) {
        Observer copy;
        {
            std::lock_guard<std::mutex> lock(mutex);
            copy = observer;
        }
        if (copy) copy(line);
    }
};

namespace {

using StatePtr = std::shared_ptr<AlarmDevice::State>;

WebPageReply Reply(std::string body, int status = 200) {
    WebPageReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

WebPageReply Refused() { return Reply("res=400\r\n"); }

bool Flag(const std::string& value, bool& out) {
    if (value != "0" && value != "1") return false;
    out = value == "1";
    return true;
}

bool Number(const std::string& value, unsigned& out) {
    if (value.empty() || value.size() > 6 || value.find_first_not_of("0123456789") != std::string::npos) return false;
    out = static_cast<unsigned>(std::stoul(value));
    return true;
}

}  // namespace

AlarmDevice::AlarmDevice(WebServer& web, unsigned inputs, unsigned outputs) : state_(std::make_shared<State>()) {
    state_->outputs = outputs;
    state_->inputs.assign(inputs, false);
    state_->relays.assign(outputs, false);
    state_->settings.inputs.assign(inputs, {});
    state_->PublishLocked();
    std::weak_ptr<State> weak = state_;
    const auto page = [weak](WebPageReply (*handler)(State&, const WebPageRequest&)) {
        return [weak, handler](const WebPageRequest& request) {
            const StatePtr s = weak.lock();
            if (!s) return Reply("", 404);
            return handler(*s, request);
        };
    };

    web.SetPage("/event/alarm_in.php", page([](State& s, const WebPageRequest& r) {
                    std::unique_lock<std::mutex> lock(s.mutex);
                    if (s.badResult) return Refused();
                    const std::string app = r.Param("app");
                    if (app == "get") {
                        std::string body = "res=200";
                        for (size_t i = 0; i < s.settings.inputs.size(); ++i) {
                            const auto& in = s.settings.inputs[i];
                            const std::string p = "&alarm_in_" + std::to_string(i + 1) + "_";
                            body += p + "enable=" + (in.enable ? "1" : "0") + p + "type=" + in.type + p +
                                    "time=" + std::to_string(in.time);
                        }
                        return Reply(body + "\r\n");
                    }
                    if (app != "set") return Refused();
                    AlarmSettings::Input staged[64];
                    const size_t n = std::min<size_t>(s.settings.inputs.size(), 64);
                    for (size_t i = 0; i < n; ++i) staged[i] = s.settings.inputs[i];
                    for (const auto& [name, value] : r.params) {
                        if (name == "app") continue;
                        unsigned index = 0;
                        const size_t under = name.rfind('_');
                        if (name.rfind("alarm_in_", 0) != 0 || under == std::string::npos || under <= 9 ||
                            !Number(name.substr(9, under - 9), index) || index < 1 || index > n)
                            return Refused();
                        auto& in = staged[index - 1];
                        const std::string key = name.substr(under + 1);
                        bool valid = false;
                        if (key == "enable") {
                            valid = Flag(value, in.enable);
                        } else if (key == "type") {
                            valid = value == "NO" || value == "NC";
                            if (valid) in.type = value;
                        } else if (key == "time") {
                            valid = Number(value, in.time);
                        }
                        if (!valid) return Refused();
                    }
                    for (size_t i = 0; i < n; ++i) s.settings.inputs[i] = staged[i];
                    s.PublishLocked();
                    lock.unlock();
                    s.Tell("alarm inputs set: " + r.target);
                    return Reply("res=200\r\n");
                }));

    web.SetPage("/event/alarm_out.php", page([](State& s, const WebPageRequest& r) {
                    std::unique_lock<std::mutex> lock(s.mutex);
                    if (s.outputs == 0) return Reply("", 404);  // a device without a relay has no such page
                    if (s.badResult) return Refused();
                    const std::string app = r.Param("app");
                    if (app == "get")
                        return Reply(std::string("res=200&alarm_out_enable=") +
                                     (s.settings.alarmOutEnable ? "1" : "0") +
                                     "&alarm_out_count=" + std::to_string(s.outputs) + "\r\n");
                    bool enable = false;
                    if (app != "set" || !Flag(r.Param("alarm_out_enable"), enable)) return Refused();
                    s.settings.alarmOutEnable = enable;
                    lock.unlock();
                    s.Tell(std::string("alarm output ") + (enable ? "enabled" : "disabled"));
                    return Reply("res=200\r\n");
                }));

    web.SetPage("/event/trigger.php", page([](State& s, const WebPageRequest& r) {
                    std::unique_lock<std::mutex> lock(s.mutex);
                    if (s.badResult) return Refused();
                    const std::string app = r.Param("app");
                    if (app == "get")
                        return Reply(std::string("res=200&trigger1_enable=") + (s.settings.triggerEnable ? "1" : "0") +
                                     "&trigger1_time=" + std::to_string(s.settings.triggerTime) + "\r\n");
                    if (!app.empty() && app != "set") return Refused();
                    std::vector<std::string> told;
                    if (app == "set") {
                        bool enable = s.settings.triggerEnable;
                        unsigned time = s.settings.triggerTime;
                        if (r.params.count("trigger1_enable") && !Flag(r.Param("trigger1_enable"), enable))
                            return Refused();
                        if (r.params.count("trigger1_time") && !Number(r.Param("trigger1_time"), time))
                            return Refused();
                        if (enable != s.settings.triggerEnable || time != s.settings.triggerTime)
                            told.push_back("trigger 1 " + std::string(enable ? "enabled" : "disabled") + ", " +
                                           std::to_string(time) + " s");
                        s.settings.triggerEnable = enable;
                        s.settings.triggerTime = time;
                    }
                    if (r.params.count("make_trigger")) {
                        if (r.Param("make_trigger") != "1") return Refused();
                        bool ruled = false;
                        for (const auto& rule : s.settings.rules)
                            ruled = ruled || (rule.eventIn == "trigger(1)" && rule.action == "AlarmOut");
                        if (s.settings.triggerEnable && s.settings.alarmOutEnable && ruled && s.outputs > 0) {
                            s.triggerClosed = true;
                            s.triggerUntilMs = platform::MonotonicMs() + s.settings.triggerTime * 1000u;
                            ++s.triggers;
                            told.push_back("relay 1 closed for " + std::to_string(s.settings.triggerTime) +
                                           " s (manual trigger)");
                        } else {
                            told.push_back("manual trigger fired; no rule switches the alarm output");
                        }
                    }
                    lock.unlock();
                    for (const auto& line : told) s.Tell(line);
                    return Reply("res=200\r\n");
                }));

    web.SetPage(
        "/event/map.php", page([](State& s, const WebPageRequest& r) {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (s.badResult || r.Param("app") != "get") return Refused();
            std::string list;
            for (const auto& rule : s.settings.rules)
                list += rule.eventInId + "|" + rule.name + "|" + rule.eventIn + "|" + rule.action + "\n";
            return Reply("res=200&event_cnt=" + std::to_string(s.settings.rules.size()) + "&event_list=" + list);
        }));

    web.SetPage(
        "/event/event_pop.php", page([](State& s, const WebPageRequest& r) {
            std::unique_lock<std::mutex> lock(s.mutex);
            if (s.badResult) return Refused();
            const std::string app = r.Param("app"), method = r.Param("method"), id = r.Param("event_in_id");
            const std::string preset = std::string("&preset_use=") + (s.settings.presetUse ? "1" : "0");
            AlarmRule* existing = nullptr;
            for (auto& rule : s.settings.rules)
                if (!id.empty() && rule.eventInId == id) existing = &rule;
            std::string eventIn;
            for (const auto& [name, inId] : s.settings.eventIns)
                if (inId == id) eventIn = name;
            if (app == "get" && method == "add") {
                std::string body = "res=200&event_in_cnt=" + std::to_string(s.settings.eventIns.size());
                for (size_t i = 0; i < s.settings.eventIns.size(); ++i)
                    body += "&event_in_name_list" + std::to_string(i + 1) + "=" + s.settings.eventIns[i].first +
                            "&event_in_id_list" + std::to_string(i + 1) + "=" + s.settings.eventIns[i].second;
                return Reply(body + preset + "\r\n");
            }
            if (app == "get" && method == "modify") {
                if (!existing) return Refused();
                return Reply("res=200&event_name=" + existing->name + "&event_in_id=" + id +
                             "&event_out_alarm=" + (existing->action == "AlarmOut" ? "1" : "0") + preset + "\r\n");
            }
            if (app != "set" || (method != "add" && method != "modify") || eventIn.empty()) return Refused();
            if ((method == "add") == (existing != nullptr)) return Refused();  // add a new rule, modify an old one
            // Each action the rule may take must be named, as the device's own page sends them all.
            for (const char* key : {"event_name", "event_out_smtp", "event_out_ftp", "event_out_http",
                                    "event_out_alarm", "event_out_audio", "event_out_record"})
                if (!r.params.count(key)) return Refused();
            AlarmRule rule{id, r.Param("event_name"), eventIn, r.Param("event_out_alarm") == "1" ? "AlarmOut" : "None"};
            if (existing)
                *existing = rule;
            else
                s.settings.rules.push_back(rule);
            lock.unlock();
            s.Tell("event rule " + method + ": " + rule.eventIn + " -> " + rule.action);
            return Reply("res=200\r\n");
        }));

    web.SetPage("/admin/event.html", page([](State& s, const WebPageRequest& r) {
                    std::unique_lock<std::mutex> lock(s.mutex);
                    if (s.outputs == 0) return Reply("", 404);
                    const std::string app = r.Param("app");
                    if (app == "get")
                        return Reply(std::string("mandatory_out_enable=") +
                                     (s.settings.mandatoryOutEnable ? "1" : "0") +
                                     "\r\nmandatory_out_mode=" + (s.settings.mandatoryOutMode ? "1" : "0") + "\r\n");
                    bool enable = s.settings.mandatoryOutEnable, mode = s.settings.mandatoryOutMode;
                    if (app != "set" ||
                        (r.params.count("mandatory_out_enable") && !Flag(r.Param("mandatory_out_enable"), enable)) ||
                        (r.params.count("mandatory_out_mode") && !Flag(r.Param("mandatory_out_mode"), mode)))
                        return Reply("400 Bad Request\r\n", 400);
                    s.settings.mandatoryOutEnable = enable;
                    s.settings.mandatoryOutMode = mode;
                    const bool closed = enable && mode;
                    const bool changed = !s.relays.empty() && s.relays[0] != closed;
                    if (!s.relays.empty()) s.relays[0] = closed;
                    lock.unlock();
                    if (changed) s.Tell(std::string("relay 1 ") + (closed ? "closed" : "open") + " (mandatory output)");
                    return Reply("OK\r\n");
                }));

    web.SetPage("/admin/alarm.html", page([](State& s, const WebPageRequest& r) {
                    std::lock_guard<std::mutex> lock(s.mutex);
                    if (r.Param("app") != "get") return Reply("400 Bad Request\r\n", 400);
                    std::string body = "alarm_in_count=" + std::to_string(s.inputs.size()) + "\r\n";
                    for (size_t i = 0; i < s.inputs.size(); ++i)
                        body += "alarm" + std::to_string(i + 1) + "=" + (s.inputs[i] ? "1" : "0") + "\r\n";
                    return Reply(body);
                }));

    web.SetPage("/stream/event_stream.php", [weak](const WebPageRequest&) {
        const StatePtr s = weak.lock();
        if (!s) return Reply("", 404);
        auto stream = std::make_shared<Stream>();
        WebPageReply reply;
        reply.streamIntervalMs = 20;
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            reply.body = s->history.back().second;
            stream->next = s->sequence + 1;
            stream->lastSentMs = platform::MonotonicMs();
            std::erase_if(s->streams, [](const std::weak_ptr<Stream>& w) { return w.expired(); });
            s->streams.push_back(stream);
        }
        reply.stream = [weak, stream](std::string& chunk) {
            const StatePtr s = weak.lock();
            if (!s) return false;
            std::lock_guard<std::mutex> lock(s->mutex);
            if (stream->cut) return false;
            if (stream->stalled) return !Elapsed(stream->stalledAtMs, kStallLimitMs);
            if (stream->next <= s->sequence) {
                // Owed messages go out one a chunk; one that fell out of the
                // history is replaced by the current one.
                if (stream->next < s->history.front().first) stream->next = s->sequence;
                chunk = s->history[stream->next - s->history.front().first].second;
                ++stream->next;
            } else if (s->keepAliveMs != 0 && Elapsed(stream->lastSentMs, s->keepAliveMs)) {
                chunk = s->history.back().second;
            }
            if (!chunk.empty()) stream->lastSentMs = platform::MonotonicMs();
            return true;
        };
        return reply;
    });
}

AlarmDevice::~AlarmDevice() = default;

unsigned AlarmDevice::InputCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return static_cast<unsigned>(state_->inputs.size());
}

unsigned AlarmDevice::OutputCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->outputs;
}

void AlarmDevice::SetInput(unsigned index, bool active) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (index >= state_->inputs.size() || state_->inputs[index] == active) return;
        state_->inputs[index] = active;
        state_->PublishLocked();
    }
    state_->Tell("input " + std::to_string(index + 1) + (active ? " active" : " inactive"));
}

bool AlarmDevice::Input(unsigned index) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return index < state_->inputs.size() && state_->inputs[index];
}

uint32_t AlarmDevice::InputBits() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    uint32_t bits = 0;
    for (size_t i = 0; i < state_->inputs.size() && i < 32; ++i)
        if (state_->inputs[i]) bits |= 1u << i;
    return bits;
}

bool AlarmDevice::Relay(unsigned index) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (index >= state_->outputs) return false;
    const bool triggered = index == 0 && state_->triggerClosed &&
                           static_cast<int32_t>(state_->triggerUntilMs - platform::MonotonicMs()) > 0;
    return triggered || state_->relays[index];
}

unsigned AlarmDevice::TriggerCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->triggers;
}

AlarmSettings AlarmDevice::Settings() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->settings;
}

void AlarmDevice::SetSettings(const AlarmSettings& settings) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->settings = settings;
    state_->settings.inputs.resize(state_->inputs.size());
    state_->PublishLocked();
}

unsigned AlarmDevice::OpenStreams() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    unsigned n = 0;
    for (const auto& weak : state_->streams) n += weak.expired() ? 0 : 1;
    return n;
}

void AlarmDevice::SetKeepAlive(uint32_t ms) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->keepAliveMs = ms;
}

void AlarmDevice::CutStreams() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        for (const auto& weak : state_->streams)
            if (auto stream = weak.lock()) stream->cut = true;
        state_->streams.clear();
    }
    state_->Tell("fault: event streams cut");
}

void AlarmDevice::StallStreams() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        for (const auto& weak : state_->streams) {
            if (auto stream = weak.lock()) {
                stream->stalled = true;
                stream->stalledAtMs = platform::MonotonicMs();
            }
        }
        state_->streams.clear();
    }
    state_->Tell("fault: event streams stalled");
}

void AlarmDevice::SetBadResult(bool on) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->badResult = on;
    }
    state_->Tell(std::string("fault: event pages answer ") + (on ? "res=400" : "normally"));
}

void AlarmDevice::Observe(Observer observer) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->observer = std::move(observer);
}

}  // namespace dravnel::sim
