// The texts of the Vista/Hitron alarm pages, read and written without any
// request: the alarm messages of the event stream, the alarm input settings,
// the event rule list and the parameters of the rule that lets the manual
// trigger switch the alarm output.
//
// Event stream message (one chunk of "/stream/event_stream.php"), lines
// ending in CR LF; "alarm" says whether any input is active, then one line
// per input, numbered from 1:
//
//   alarm=1\r\n
//   alarm1=0\r\n
//   alarm2=1\r\n
//
// Event rule list (the "event_list" value of "/event/map.php?app=get", which
// runs to the next '&'), one rule a line, fields separated by '|':
//
//   <event_in_id>|<name>|<event in, e.g. trigger(1)>|<action, e.g. AlarmOut>[|...]\n
//
// Thread-safety: pure functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dravnel::VistaAlarm {

// The state an input keeps when a message says nothing about it.
constexpr int kUnchanged = -1;

// One message's states for inputs 0 to inputCount - 1: kIOStateInactive,
// kIOStateActive, kIOStateUnknown or kUnchanged. Empty when the message has
// no "alarm" value (it is then ignored).
std::vector<int> ParseMessage(std::string_view message, unsigned inputCount);

// What one read of the stream delivered, cut into messages: each line named
// "alarm" begins the next one, so messages that arrived together are all
// applied, in order. Text before the first such line stays with the first.
std::vector<std::string_view> SplitMessages(std::string_view burst);

// The alarm input settings of "/event/alarm_in.php?app=get" for inputs 1 to
// inputCount: how many already report a normally open contact, and the
// "&alarm_in_<n>_..." parameters that set the others up.
struct AlarmInputPlan {
    unsigned configured = 0;
    std::string parameters;
};
AlarmInputPlan PlanAlarmInputs(std::string_view reply, unsigned inputCount);

// The first rule of the event rule list whose event in is the manual trigger
// ("trigger(1)" or "manualtrigger").
struct EventRule {
    bool found = false;
    std::string id;      // its event_in_id
    std::string action;  // trimmed
};
EventRule FindTriggerRule(std::string_view mapReply);

// The manual trigger's event_in_id among the event ins that
// "/event/event_pop.php?app=get&method=add" lists; empty when none.
std::string FindTriggerEventIn(std::string_view addReply);

// The parameters of the rule that switches the alarm output and nothing
// else, from an event_pop reply and the rule's event_in_id; empty without an id.
std::string RuleParameters(std::string_view reply, const std::string& eventInId);

}  // namespace dravnel::VistaAlarm
