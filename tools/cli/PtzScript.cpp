#include "tools/cli/PtzScript.h"

#include <map>

#include "tools/cli/Options.h"

namespace dravnel::cli {

namespace {

const std::map<std::string, uint32_t> kMoves = {{"left", 0},   {"right", 1},   {"up", 2},       {"down", 3},
                                                {"upleft", 4}, {"upright", 5}, {"downleft", 6}, {"downright", 7}};

}  // namespace

std::string PtzResultName(int result) {
    switch (result) {
    case 1:
        return "PTZ_OK";
    case -3:
        return "PTZ_E_INVALIDARG";
    case -18:
        return "PTZ_E_FAIL";
    case -19:
        return "PTZ_E_NOTSUPPORTED";
    case -23:
        return "PTZ_E_PRESET";
    case -26:
        return "PTZ_E_FULL";
    default:
        return std::to_string(result);
    }
}

bool ParsePtzScript(const std::vector<std::string>& words, PtzScript& script, std::string& error) {
    using Kind = PtzStep::Kind;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const auto next = [&](const char* what, std::string& out) {
            if (i + 1 >= words.size()) {
                error = word + " needs " + what;
                return false;
            }
            out = words[++i];
            return true;
        };
        const auto number = [&](uint32_t max, uint32_t& out) {
            std::string text;
            if (!next("a number", text)) return false;
            if (!ParseUnsigned(text, out) || out > max) {
                error = word + ": '" + text + "' is not a number up to " + std::to_string(max);
                return false;
            }
            return true;
        };
        uint32_t n = 0;
        std::string text;
        if (word == "--channel") {
            if (!number(255, n)) return false;
            script.channel = n;
        } else if (word == "--sim") {
            script.sim = true;
        } else if (word == "--sim-delay") {
            if (!number(60000, script.simDelayMs)) return false;
        } else if (word == "--speed" || word == "--for") {
            if (script.steps.empty() || script.steps.back().kind > Kind::Iris) {
                error = word + " belongs after move, zoom, focus or iris";
                return false;
            }
            if (!number(word == "--speed" ? 100 : 600000, n)) return false;
            if (word == "--speed")
                script.steps.back().speed = static_cast<int>(n);
            else
                script.steps.back().forMs = n;
        } else if (word == "move" || word == "zoom" || word == "focus" || word == "iris") {
            PtzStep step;
            if (!next("a direction", step.word)) return false;
            const auto one_of = [&](Kind kind, const char* a, const char* b) {
                step.kind = kind;
                if (step.word == a || step.word == b) return true;
                error = word + ": '" + step.word + "' is not " + a + " or " + b;
                return false;
            };
            if (word == "move") {
                step.kind = Kind::Move;
                const auto found = kMoves.find(step.word);
                if (found == kMoves.end()) {
                    error = "move: '" + step.word +
                            "' is not left, right, up, down, upleft, upright, downleft or "
                            "downright";
                    return false;
                }
                step.direction = found->second;
            } else if (word == "zoom") {
                if (!one_of(Kind::Zoom, "in", "out")) return false;
            } else if (word == "focus") {
                if (!one_of(Kind::Focus, "near", "far")) return false;
            } else if (!one_of(Kind::Iris, "open", "close")) {
                return false;
            }
            script.steps.push_back(step);
        } else if (word == "stop" || word == "info") {
            PtzStep step;
            step.kind = word == "stop" ? Kind::Stop : Kind::Info;
            script.steps.push_back(step);
        } else if (word == "preset") {
            if (!next("add, go, delete or list", text)) return false;
            PtzStep step;
            if (text == "list") {
                step.kind = Kind::PresetList;
            } else if (text == "add" || text == "go" || text == "delete") {
                step.kind = text == "add" ? Kind::PresetAdd : text == "go" ? Kind::PresetGo : Kind::PresetDelete;
                if (!next("a name", step.word)) return false;
            } else {
                error = "preset: '" + text + "' is not add, go, delete or list";
                return false;
            }
            script.steps.push_back(step);
        } else {
            error = "unknown word '" + word + "' (see quarnel ptz --help)";
            return false;
        }
    }
    if (script.steps.empty()) {
        error = "nothing to do: give a step such as move, zoom, stop, preset or info (see quarnel ptz --help)";
        return false;
    }
    return true;
}

}  // namespace dravnel::cli
