// quarnel io: a device's alarm inputs and relay outputs, as a recorder uses
// them: prints each input change with its time as it comes, switches outputs
// from the command line and from lines typed while it runs.
#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Terminal.h"
#include "quarnel/CaptureDriver.h"
#include "tools/cli/Commands.h"
#include "tools/cli/HostSession.h"
#include "tools/cli/Options.h"

namespace dravnel::cli {

namespace {

const char* kHelp =
    "usage: quarnel io [device options] [io options]\n"
    "\n"
    "Opens the device the way a recorder does, starts its digital I/O and prints\n"
    "each alarm input change with a time stamp as it comes, each output switched\n"
    "and each I/O failure. Lines typed while it runs switch outputs:\n"
    "  out N on|off          output N (from 0, as the host counts) on or off\n"
    "Stops on Ctrl-C or after --seconds.\n"
    "\n"
    "I/O options:\n"
    "  --set-output I=on|off switch output I once I/O runs (repeatable, in order)\n"
    "  --seconds N           stop after N seconds (default: run until Ctrl-C)\n"
    "  (Without --param 2 and --param 4 the device is taken as PAL and standard;\n"
    "  --param 4=0 is an older device, whose inputs come with its video.)\n"
    "\n";

struct OutputSwitch {
    unsigned index = 0;
    bool on = false;
};

struct IOArgs {
    DeviceOptions device;
    std::vector<OutputSwitch> outputs;
    uint32_t seconds = 0;
};

bool ParseSwitch(const std::string& text, OutputSwitch& out) {
    const size_t eq = text.find('=');
    uint32_t index = 0;
    if (eq == std::string::npos || !ParseUnsigned(text.substr(0, eq), index)) return false;
    const std::string state = text.substr(eq + 1);
    if (state != "on" && state != "off") return false;
    out = {index, state == "on"};
    return true;
}

bool Parse(const std::vector<std::string>& args, IOArgs& out, std::string& error) {
    std::vector<std::string> rest;
    if (!ParseDeviceOptions(args, out.device, rest, error)) return false;
    for (size_t i = 0; i < rest.size(); ++i) {
        const std::string& arg = rest[i];
        if (i + 1 >= rest.size() && (arg == "--set-output" || arg == "--seconds")) {
            error = arg + " needs a value";
            return false;
        }
        if (arg == "--set-output") {
            OutputSwitch s;
            if (!ParseSwitch(rest[++i], s)) {
                error = "--set-output: '" + rest[i] + "' is not I=on or I=off";
                return false;
            }
            out.outputs.push_back(s);
        } else if (arg == "--seconds") {
            if (!ParseUnsigned(rest[++i], out.seconds) || out.seconds == 0) {
                error = "--seconds: '" + rest[i] + "' is not a number of seconds";
                return false;
            }
        } else {
            error = "unknown option '" + arg + "' (see quarnel io --help)";
            return false;
        }
    }
    for (const OutputSwitch& s : out.outputs) {
        if (s.index >= out.device.outputs) {
            error = "--set-output: the device has " + std::to_string(out.device.outputs) +
                    " output(s) (--outputs N), not output " + std::to_string(s.index);
            return false;
        }
    }
    if (!out.device.parameters.count(2)) out.device.parameters[2] = "0";
    if (!out.device.parameters.count(4)) out.device.parameters[4] = "1";
    return true;
}

// What the run prints, one line each, under one lock: the driver's threads
// and the main thread print at once.
class Printer : public dravnel::ipcapture::ICaptureIOCallback {
public:
    void OnInputStateChanged(unsigned index, int state) override {
        Line("input " + std::to_string(index) + " " + StateName(state));
    }
    void OnIOFailure() override { Line("I/O failure: every input and output unknown until read again"); }

    void Line(const std::string& text) {
        const dravnel::SYSTEMTIME t = platform::CurrentSystemTime();
        std::lock_guard<std::mutex> lock(mutex_);
        std::printf("%02u:%02u:%02u.%03u  %s\n", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, text.c_str());
        std::fflush(stdout);
    }

    static const char* StateName(int state) {
        return state == dravnel::kIOStateActive     ? "active"
               : state == dravnel::kIOStateInactive ? "inactive"
                                                    : "unknown";
    }

private:
    std::mutex mutex_;
};

void Switch(dravnel::ipcapture::ICaptureIOApi& io, Printer& printer, const OutputSwitch& s) {
    const bool posted = io.ChangeOutputState(s.index, s.on ? dravnel::kIOStateActive : dravnel::kIOStateInactive);
    printer.Line("output " + std::to_string(s.index) + (s.on ? " on" : " off") + (posted ? "" : " refused"));
}

// A typed line: what to print back, empty when it switched an output.
std::string TypedLine(const std::string& line, unsigned outputs, OutputSwitch& s) {
    std::istringstream in(line);
    std::string command, index, state, extra;
    in >> command >> index >> state >> extra;
    if (command.empty()) return {};
    uint32_t n = 0;
    if (command != "out" || !extra.empty() || (state != "on" && state != "off") || !ParseUnsigned(index, n))
        return "type: out N on|off";
    if (n >= outputs) return "no output " + index + ": the device has " + std::to_string(outputs);
    s = {n, state == "on"};
    return {};
}

int Run(const IOArgs& args) {
    HostSession session(args.device);
    Printer printer;
    if (!session.Open([&printer](const host::DebugLine& line) { printer.Line(FormatDebugLine(line)); })) return 1;
    dravnel::ipcapture::ICaptureIOApi* io = session.driver()->GetCaptureIO();
    if (!io) {
        std::fprintf(stderr, "quarnel io: the driver has no I/O object\n");
        return 1;
    }
    io->SetCallback(&printer);
    printer.Line("device " + args.device.address + ":" + std::to_string(args.device.port) + ": " +
                 std::to_string(io->GetInputCount()) + " input(s), " + std::to_string(io->GetOutputCount()) +
                 " output(s)");
    if (!io->StartIO()) {
        io->StopIO();
        std::fprintf(stderr, "quarnel io: the driver could not start I/O (see its messages above)\n");
        return 1;
    }
    if (io->GetOutputCount() != 0) printer.Line("outputs 0 to " + std::to_string(io->GetOutputCount() - 1) + " off");
    for (const OutputSwitch& s : args.outputs) Switch(*io, printer, s);

    const uint32_t started = platform::MonotonicMs();
    bool input = true;
    while (!platform::StopRequested()) {
        uint32_t wait = 1000;
        if (args.seconds != 0) {
            const uint32_t elapsed = platform::MonotonicMs() - started;
            if (elapsed >= args.seconds * 1000u) break;
            wait = std::min<uint32_t>(wait, args.seconds * 1000u - elapsed);
        }
        if (!input) {
            platform::WaitForStopRequest(wait);
            continue;
        }
        std::string line;
        const platform::InputLine got = platform::ReadInputLine(line, std::min<uint32_t>(wait, 200));
        if (got == platform::InputLine::End) input = false;
        if (got != platform::InputLine::Line) continue;
        OutputSwitch s;
        const std::string reply = TypedLine(line, io->GetOutputCount(), s);
        if (reply.empty() && !line.empty() && line.find_first_not_of(" \t") != std::string::npos)
            Switch(*io, printer, s);
        else if (!reply.empty())
            printer.Line(reply);
    }
    const bool stopped = io->StopIO();
    printer.Line(stopped ? "I/O stopped" : "I/O stopped with errors (see above)");
    session.Close();
    return stopped ? 0 : 1;
}

}  // namespace

int RunIOCommand(const std::vector<std::string>& args) {
    for (const auto& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::printf("%s%s", kHelp, DeviceOptionsHelp());
            return 0;
        }
    }
    IOArgs parsed;
    std::string error;
    if (!Parse(args, parsed, error)) {
        std::fprintf(stderr, "quarnel io: %s\n", error.c_str());
        return 2;
    }
    return Run(parsed);
}

}  // namespace dravnel::cli
