// The readers of the alarm pages over arbitrary text: the event stream's
// messages (cut apart and parsed), the alarm input settings, the event rule
// list and the event ins of the rule page.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "io/VistaAlarmText.h"
#include "quarnel/CaptureIO.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    namespace VA = dravnel::VistaAlarm;
    const unsigned inputs = size > 0 ? data[0] % 40 : 0;

    size_t covered = 0;
    for (std::string_view message : VA::SplitMessages(text)) {
        // The messages are the burst itself, cut in order, nothing lost.
        if (message.data() != text.data() + covered) __builtin_trap();
        covered += message.size();
        const auto states = VA::ParseMessage(message, inputs);
        if (!states.empty() && states.size() != inputs) __builtin_trap();
        for (int state : states)
            if (state < VA::kUnchanged || state > dravnel::kIOStateActive) __builtin_trap();
    }
    if (covered != text.size()) __builtin_trap();

    const VA::AlarmInputPlan plan = VA::PlanAlarmInputs(text, inputs);
    if (plan.configured > inputs) __builtin_trap();

    const VA::EventRule rule = VA::FindTriggerRule(text);
    if (!rule.found && !(rule.id.empty() && rule.action.empty())) __builtin_trap();
    const std::string id = VA::FindTriggerEventIn(text);
    const std::string parameters = VA::RuleParameters(text, id);
    if (id.empty() != parameters.empty()) __builtin_trap();
    return 0;
}
