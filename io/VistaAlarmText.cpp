#include "io/VistaAlarmText.h"

#include <algorithm>

#include "quarnel/CaptureIO.h"
#include "web/HUtils.h"

namespace dravnel::VistaAlarm {

namespace {

using HUtils::Format;
using HUtils::GetValue;

constexpr std::string_view kReplyTerminators = "&\r\n";
constexpr std::string_view kMessageTerminators = "\r\n";
constexpr uint32_t kMaxEventIns = 1024;

bool IsManualTrigger(const std::string& eventIn) { return eventIn == "trigger(1)" || eventIn == "manualtrigger"; }

}  // namespace

std::vector<int> ParseMessage(std::string_view message, unsigned inputCount) {
    const std::string alarm = GetValue(message, "alarm", "=", kMessageTerminators);
    if (alarm.empty()) return {};
    std::vector<int> states(inputCount, kUnchanged);
    for (unsigned i = 0; i < inputCount; ++i) {
        if (alarm == "0") {
            states[i] = kIOStateInactive;
        } else if (alarm == "1") {
            const std::string value = GetValue(message, Format("alarm%u", i + 1), "=", kMessageTerminators);
            if (value.empty() || value == "0")
                states[i] = kIOStateInactive;
            else if (value == "1")
                states[i] = kIOStateActive;
            else
                states[i] = kIOStateUnknown;
        }
    }
    return states;
}

std::vector<std::string_view> SplitMessages(std::string_view burst) {
    std::vector<std::string_view> messages;
    size_t start = 0;
    size_t line = 0;
    bool seenAlarm = false;  // the current message has its "alarm" line
    while (line < burst.size()) {
        const size_t end = std::min(burst.find_first_of(kMessageTerminators, line), burst.size());
        const std::string_view text = burst.substr(line, end - line);
        const size_t eq = text.find('=');
        if (eq != std::string_view::npos && HUtils::Trim(text.substr(0, eq)) == "alarm") {
            if (seenAlarm) {
                messages.push_back(burst.substr(start, line - start));
                start = line;
            }
            seenAlarm = true;
        }
        line = end + 1;
    }
    if (start < burst.size()) messages.push_back(burst.substr(start));
    return messages;
}

AlarmInputPlan PlanAlarmInputs(std::string_view reply, unsigned inputCount) {
    AlarmInputPlan plan;
    for (unsigned n = 1; n <= inputCount; ++n) {
        const std::string prefix = Format("alarm_in_%u_", n);
        const std::string enable = GetValue(reply, prefix + "enable", "=", kReplyTerminators);
        const std::string type = GetValue(reply, prefix + "type", "=", kReplyTerminators);
        const std::string time = GetValue(reply, prefix + "time", "=", kReplyTerminators);
        if (enable.empty() || type.empty() || time.empty()) continue;  // an input the device does not list
        if (enable == "1" && type == "NO") {
            ++plan.configured;
        } else {
            plan.parameters += "&" + prefix + "enable=1&" + prefix + "type=NO&" + prefix + "time=1";
        }
    }
    return plan;
}

EventRule FindTriggerRule(std::string_view mapReply) {
    EventRule rule;
    const std::string list = GetValue(mapReply, "event_list", "=", "&");
    for (const std::string& line : HUtils::Split(list, '\n')) {
        const std::vector<std::string> fields = HUtils::Split(line, '|');
        if (fields.size() <= 3 || !IsManualTrigger(HUtils::Trim(fields[2]))) continue;
        rule.found = true;
        rule.id = fields[0];
        rule.action = HUtils::Trim(fields[3]);
        break;
    }
    return rule;
}

std::string FindTriggerEventIn(std::string_view addReply) {
    // A device lists a handful of event ins; a count beyond any device's is
    // not walked to its end.
    const uint32_t count =
        std::min(HUtils::GetNumericValue(addReply, "event_in_cnt", "=", kReplyTerminators), kMaxEventIns);
    for (uint32_t n = 1; n <= count; ++n) {
        const std::string name = GetValue(addReply, Format("event_in_name_list%u", n), "=", kReplyTerminators);
        if (IsManualTrigger(HUtils::Trim(name)))
            return GetValue(addReply, Format("event_in_id_list%u", n), "=", kReplyTerminators);
    }
    return {};
}

std::string RuleParameters(std::string_view reply, const std::string& eventInId) {
    if (eventInId.empty()) return {};
    std::string parameters =
        "&event_name=AlarmOut"
        "&event_out_smtp=0"
        "&event_out_smtp_en1=0&event_out_smtp_en2=0&event_out_smtp_en3=0&event_out_smtp_en4=0"
        "&event_out_smtp_en5=0&event_out_smtp_en6=0&event_out_smtp_en7=0&event_out_smtp_en8=0"
        "&event_out_smtp_title=&event_out_smtp_msg="
        "&event_out_ftp=0"
        "&event_out_http=0&event_out_http_msg="
        "&event_out_alarm=1"
        "&event_out_audio=0&event_out_audio_file=1";
    if (GetValue(reply, "preset_use", "=", kReplyTerminators) == "1")
        parameters += "&event_out_preset=0&event_out_preset_num=1&event_out_preset_home=0";
    parameters += "&event_out_record=0&event_in_id=" + eventInId;
    return parameters;
}

}  // namespace dravnel::VistaAlarm
