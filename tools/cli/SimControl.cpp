#include "tools/cli/SimControl.h"

#include <sstream>
#include <vector>

#include "tools/cli/Options.h"

namespace dravnel::cli {

const char* SimControlHelp() {
    return "Type a line and Enter to change the camera while it runs:\n"
           "  in N [on|off]   alarm input N (from 1) active or inactive; without a state: toggle\n"
           "  cut             every open event stream ends\n"
           "  stall           every open event stream goes silent\n"
           "  res400 on|off   the event pages answer res=400, or normally again\n";
}

std::string ApplySimControl(sim::AlarmDevice& alarms, const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    if (words.empty()) return {};
    const std::string& command = words[0];
    if (command == "help") return SimControlHelp();
    if (command == "in" && (words.size() == 2 || words.size() == 3)) {
        uint32_t n = 0;
        if (!ParseUnsigned(words[1], n) || n < 1 || n > alarms.InputCount())
            return "no input '" + words[1] + "': the camera has inputs 1 to " + std::to_string(alarms.InputCount());
        bool active = !alarms.Input(n - 1);
        if (words.size() == 3) {
            if (words[2] != "on" && words[2] != "off") return "'" + words[2] + "' is not on or off";
            active = words[2] == "on";
        }
        alarms.SetInput(n - 1, active);
        return "input " + std::to_string(n) + (active ? " on" : " off");
    }
    if (command == "cut" && words.size() == 1) {
        alarms.CutStreams();
        return "event streams cut";
    }
    if (command == "stall" && words.size() == 1) {
        alarms.StallStreams();
        return "event streams stalled";
    }
    if (command == "res400" && words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
        alarms.SetBadResult(words[1] == "on");
        return std::string("event pages answer ") + (words[1] == "on" ? "res=400" : "normally");
    }
    return "unknown command '" + line + "' (type help)";
}

}  // namespace dravnel::cli
