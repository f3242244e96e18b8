#include "tools/cli/FaultOptions.h"

#include "tools/cli/Options.h"

namespace dravnel::cli {

const char* const kFaultOptionsHelp =
    "  --faults KIND,...     fire faults on a schedule; kinds: drop (end every RTSP\n"
    "                        connection), stop-rtp (RTP stops while held), restart\n"
    "                        (reboot), refuse-describe (503 while held), 401 (CGI pages\n"
    "                        refuse the login while held), stall-cgi (pages answer after\n"
    "                        8 s while held), slow-cgi (after 1.5 s), garbage (junk and an\n"
    "                        oversized interleaved frame on every RTSP connection), or all;\n"
    "                        held kinds except stop-rtp also end the RTSP connections\n"
    "  --fault-every TIME    time between faults: 500ms, 2s, 1.5s, 1m (default 5s)\n"
    "  --fault-seed N        random kinds and random intervals (every/2 to every*3/2)\n"
    "                        from seed N; without it the kinds take turns\n"
    "  --fault-hold TIME     how long a held fault lasts (default: half the interval)\n"
    "  --fault-count N       fire N faults, then none (default: no limit)\n"
    "  --fault-wait          begin the schedule only when the line \"faults start\" is\n"
    "                        typed (quarnel soak starts it once every channel streams)\n"
    "                        Each fault prints \"fault N: KIND\" (\"cleared N: KIND\" at the\n"
    "                        end of a held one).\n";

bool TakeFaultOption(const std::vector<std::string>& args, size_t& i, FaultOptions& out, std::string& error) {
    const std::string& arg = args[i];
    if (arg == "--fault-wait") {
        out.waitForStart = true;
        out.words.push_back(arg);
        return true;
    }
    if (arg != "--faults" && arg != "--fault-every" && arg != "--fault-seed" && arg != "--fault-hold" &&
        arg != "--fault-count")
        return false;
    if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
    }
    const std::string& text = args[++i];
    out.words.push_back(arg);
    out.words.push_back(text);
    std::string why;
    uint32_t n = 0;
    bool ok = true;
    if (arg == "--faults") {
        out.given = true;
        ok = sim::ParseFaultKinds(text, out.schedule.kinds, why);
    } else if (arg == "--fault-every") {
        ok = sim::ParseDurationMs(text, out.schedule.everyMs, why);
    } else if (arg == "--fault-hold") {
        ok = sim::ParseDurationMs(text, n, why);
        out.schedule.holdMs = n;
    } else {
        ok = ParseUnsigned(text, n);
        if (!ok) why = "'" + text + "' is not a number";
        if (arg == "--fault-seed") out.schedule.seed = n;
        if (arg == "--fault-count") {
            if (ok && n == 0) {
                ok = false;
                why = "give at least 1 fault";
            }
            out.schedule.count = n;
        }
    }
    if (!ok) error = arg + ": " + why;
    return ok;
}

bool CheckFaultOptions(const FaultOptions& options, std::string& error) {
    if (!options.given) {
        if (!options.words.empty()) error = options.words.front() + " needs --faults";
        return options.words.empty();
    }
    if (!sim::CheckFaultSchedule(options.schedule, error)) {
        error = "--faults: " + error;
        return false;
    }
    return true;
}

}  // namespace dravnel::cli
