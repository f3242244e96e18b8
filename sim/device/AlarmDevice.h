// The simulated camera's alarm inputs and relay outputs, as pages on a
// WebServer, for both device generations.
//
// Newer devices ('&'-separated name=value replies beginning "res=200"):
//   "/event/alarm_in.php?app=get|set"   alarm_in_<n>_enable, _type (NO|NC), _time
//   "/event/alarm_out.php?app=get|set"  alarm_out_enable
//   "/event/trigger.php?app=get|set"    trigger1_enable, trigger1_time; with
//                                       make_trigger=1 (also without app) the
//                                       manual trigger fires
//   "/event/map.php?app=get"            event_cnt, event_list (last; one rule a
//                                       line: id|name|event in|action)
//   "/event/event_pop.php?app=get&method=add"                   the event ins
//   "/event/event_pop.php?app=get&method=modify&event_in_id=I"  a rule
//   "/event/event_pop.php?app=set&method=add|modify&..."        stores a rule
//   "/stream/event_stream.php?ch=1&strm=1&alarm=1"  a chunked reply that never
//     ends: the inputs' message at once, one message per change, and the
//     current message again after every keep-alive period without one.
// A fired trigger closes relay 1 for trigger1_time seconds when the alarm
// output and the trigger are enabled and a rule "trigger(1)" -> AlarmOut exists.
// Input n counts as active in the messages only while alarm_in_<n>_enable is 1.
//
// Older devices:
//   "/admin/event.html?app=get|set"  mandatory_out_enable, mandatory_out_mode
//                                    (1 closes relay 1, 0 opens it)
//   "/admin/alarm.html?app=get"      the inputs
//   and InputBits() for the alarm bits of their video stream.
//
// Fault switches: CutStreams (every open event stream ends), StallStreams
// (every open event stream goes silent, ending after StallLimitMs) and
// SetBadResult (every "/event/" page answers "res=400").
//
// Thread-safety: every member may be called from any thread while the pages
// serve requests; the pages share the device's state and keep answering
// after the AlarmDevice is gone. The observer is called on server threads
// without the state held.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/web/WebServer.h"

namespace dravnel::sim {

struct AlarmRule {
    std::string eventInId;
    std::string name;
    std::string eventIn;  // e.g. "trigger(1)"
    std::string action;   // "AlarmOut" when the rule switches the alarm output
};

struct AlarmSettings {
    struct Input {
        bool enable = false;
        std::string type = "NC";
        unsigned time = 0;
    };
    std::vector<Input> inputs;
    bool alarmOutEnable = false;
    bool triggerEnable = false;
    unsigned triggerTime = 5;
    bool presetUse = false;
    std::vector<AlarmRule> rules;
    // The event ins a rule may start from: name and id.
    std::vector<std::pair<std::string, std::string>> eventIns = {
        {"motion(1)", "1"}, {"alarmin(1)", "2"}, {"trigger(1)", "3"}};
    bool mandatoryOutEnable = false;
    bool mandatoryOutMode = false;
};

class AlarmDevice {
public:
    static constexpr uint32_t kStallLimitMs = 30000;
    using Observer = std::function<void(const std::string& line)>;

    AlarmDevice(WebServer& web, unsigned inputs, unsigned outputs);
    ~AlarmDevice();
    AlarmDevice(const AlarmDevice&) = delete;
    AlarmDevice& operator=(const AlarmDevice&) = delete;

    unsigned InputCount() const;
    unsigned OutputCount() const;

    // Input index from 0. An unknown index changes nothing.
    void SetInput(unsigned index, bool active);
    bool Input(unsigned index) const;
    // Bit i set while input i is active (inputs 0 to 31).
    uint32_t InputBits() const;

    // Relay index from 0: closed now.
    bool Relay(unsigned index) const;
    // Times the manual trigger closed the relay.
    unsigned TriggerCount() const;

    AlarmSettings Settings() const;
    void SetSettings(const AlarmSettings& settings);

    // Open event streams; keep-alive period of the stream (0: none).
    unsigned OpenStreams() const;
    void SetKeepAlive(uint32_t ms);

    void CutStreams();
    void StallStreams();
    void SetBadResult(bool on);

    // Told of every input change, relay switch and fault, one line each.
    void Observe(Observer observer);

    struct State;  // shared with the pages

private:
    std::shared_ptr<State> state_;
};

}  // namespace dravnel::sim
