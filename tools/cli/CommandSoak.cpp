// quarnel soak: K channels of the simulated camera in this process through a
// fault schedule, with the process's threads, descriptors and memory watched.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/Terminal.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Options.h"
#include "tools/cli/SoakRun.h"
#include "tools/cli/TransportFile.h"

namespace dravnel::cli {

namespace {

void PrintHelp() {
    std::printf(
        "usage: quarnel soak [options]\n"
        "\n"
        "Runs the simulated camera (quarnel sim) with a fault schedule in a child\n"
        "process, streams K of its channels in this process through the driver, and\n"
        "starts the schedule once every channel streams. Prints the process's threads,\n"
        "descriptors and resident memory at the start, every --sample seconds, at the\n"
        "mark fault (the 100th, or a fifth of a shorter run), at the last fault and\n"
        "after every channel was stopped; then per channel frames, reconnects, the\n"
        "longest gap between frames and after how many faults it streamed again.\n"
        "Exits 0 when every channel streams again after the last fault, threads and\n"
        "descriptors are back at their baseline after the stop, and every file (with\n"
        "--out) decodes in FFmpeg without a complaint; 1 otherwise.\n"
        "\n"
        "Options:\n"
        "  --channels K          channels, 1 to 64 (default 16)\n"
        "  --fault-count N       end after N faults (default 50)\n"
        "  --seconds N           end after N seconds, if sooner\n"
        "  --faults KIND,...     the kinds (default all); --fault-every (default 3s),\n"
        "                        --fault-seed, --fault-hold as quarnel sim takes them\n"
        "  --transport MODE      udp, tcp, interleaved or http for this run\n"
        "  --out DIR             write DIR/soak-N.h264 per channel and check each with ffmpeg\n"
        "  --sample N            print the process figures every N seconds (default 10)\n"
        "  --recover-ms N        how long every channel may take to stream again after\n"
        "                        the last fault (default 30000)\n"
        "  --size WxH --fps N    what each channel asks of the camera (default 352x288, 10)\n");
}

bool Parse(const std::vector<std::string>& args, SoakSettings& s, std::string& error) {
    bool countGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (TakeFaultOption(args, i, s.faults, error)) {
            countGiven = countGiven || args[i - 1] == "--fault-count";
            continue;
        }
        if (!error.empty()) return false;
        const std::string& arg = args[i];
        if (i + 1 >= args.size()) {
            error = arg + " needs a value, or is unknown (see quarnel soak --help)";
            return false;
        }
        const std::string& value = args[++i];
        uint32_t n = 0;
        const auto number = [&](uint32_t& into, uint32_t min, uint32_t max) {
            if (ParseUnsigned(value, n) && n >= min && n <= max) {
                into = n;
                return true;
            }
            error =
                arg + ": '" + value + "' is not a number from " + std::to_string(min) + " to " + std::to_string(max);
            return false;
        };
        if (arg == "--channels") {
            if (!number(s.channels, 1, 64)) return false;
        } else if (arg == "--seconds") {
            if (!number(s.seconds, 1, 30 * 86400)) return false;
        } else if (arg == "--sample") {
            if (!number(s.sampleSeconds, 1, 3600)) return false;
        } else if (arg == "--recover-ms") {
            if (!number(s.recoverMs, 1000, 600000)) return false;
        } else if (arg == "--fps") {
            if (!number(s.fps, 1, 30)) return false;
        } else if (arg == "--size") {
            const size_t x = value.find('x');
            uint32_t w = 0, h = 0;
            if (x == std::string::npos || !ParseUnsigned(value.substr(0, x), w) ||
                !ParseUnsigned(value.substr(x + 1), h) || w < 16 || h < 16 || w > 4096 || h > 4096) {
                error = "--size: '" + value + "' is not WIDTHxHEIGHT";
                return false;
            }
            s.width = w;
            s.height = h;
        } else if (arg == "--transport") {
            if (!TransportFile::ModeName(value)) {
                error = "--transport: '" + value + "' is not udp, tcp, interleaved or http";
                return false;
            }
            s.transport = value;
        } else if (arg == "--out") {
            if (value.empty()) {
                error = "--out needs a directory";
                return false;
            }
            s.outDir = value;
        } else {
            error = "unknown option '" + arg + "' (see quarnel soak --help)";
            return false;
        }
    }
    // The camera is told every schedule option; the defaults of a soak go first.
    std::vector<std::string> words;
    if (!s.faults.given) {
        words = {"--faults", "all"};
        s.faults.given = true;
        sim::ParseFaultKinds("all", s.faults.schedule.kinds, error);
    }
    if (!countGiven) {
        words.insert(words.end(), {"--fault-count", "50"});
        s.faults.schedule.count = 50;
    }
    if (std::find(s.faults.words.begin(), s.faults.words.end(), "--fault-every") == s.faults.words.end()) {
        words.insert(words.end(), {"--fault-every", "3s"});
        s.faults.schedule.everyMs = 3000;
    }
    words.insert(words.end(), s.faults.words.begin(), s.faults.words.end());
    s.faults.words = words;
    return CheckFaultOptions(s.faults, error);
}

}  // namespace

int RunSoakCommand(const std::vector<std::string>& args) {
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            PrintHelp();
            return 0;
        }
    }
    SoakSettings settings;
    std::string error;
    if (!Parse(args, settings, error)) {
        std::fprintf(stderr, "quarnel soak: %s\n", error.c_str());
        return 2;
    }
    platform::InstallStopRequest();
    const SoakResult result = RunSoak(settings, stdout);
    PrintSoakReport(result, stdout);
    return result.GoalsMet() ? 0 : 1;
}

}  // namespace dravnel::cli
