// quarnel probe: the capability query a recorder runs before it adds a
// device, through the driver's exports, and what it found.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/Socket.h"
#include "platform/Terminal.h"
#include "tools/cli/Commands.h"
#include "tools/cli/DeviceFile.h"
#include "tools/cli/DriverLibrary.h"
#include "tools/cli/HostSession.h"
#include "tools/cli/ProbeReport.h"
#include "tools/host/CapabilityRecorder.h"
#include "tools/host/HostVersion.h"

namespace dravnel::cli {

namespace {

constexpr uint32_t kTerminateWaitMs = 15000;

void PrintHelp() {
    std::printf(
        "usage: quarnel probe [options]\n"
        "\n"
        "Asks the device what it is, the way a recorder does before adding it: runs\n"
        "the driver's capability query and prints the device's identity, channels,\n"
        "codecs, resolutions with their top frame rates, frame rates, alarm I/O, PTZ\n"
        "and the nine driver parameters a recorder keeps with the device.\n"
        "\n"
        "Options:\n"
        "  --address HOST        device host name or address (default 127.0.0.1)\n"
        "  --port N              device HTTP port (default 80)\n"
        "  --user NAME           user name\n"
        "  --password TEXT       password\n"
        "  --ntsc                the recorder asks for NTSC (default PAL)\n"
        "  --json                print the result as JSON\n"
        "  --save FILE           keep the device and its driver parameters in FILE, for\n"
        "                        --device FILE of quarnel stream (the password is not kept)\n"
        "  --seconds N           give up (and terminate the query) after N s (default 60)\n"
        "  --host-version X.Y    host version the driver takes (from 6.4, rates above 30\n"
        "                        are passed raw)\n"
        "  --library PATH        driver library (default: libquarnel.so beside quarnel)\n");
}

struct ProbeArgs {
    DeviceOptions device;
    bool ntsc = false;
    bool json = false;
    std::string save;
    uint32_t seconds = 60;
};

bool Parse(const std::vector<std::string>& args, ProbeArgs& out, std::string& error) {
    std::vector<std::string> rest;
    if (!ParseDeviceOptions(args, out.device, rest, error)) return false;
    for (size_t i = 0; i < rest.size(); ++i) {
        const std::string& arg = rest[i];
        if (arg == "--ntsc") {
            out.ntsc = true;
        } else if (arg == "--json") {
            out.json = true;
        } else if (arg == "--save" || arg == "--seconds") {
            if (i + 1 >= rest.size()) {
                error = arg + " needs a value";
                return false;
            }
            const std::string& value = rest[++i];
            if (arg == "--save") {
                if (value.empty()) {
                    error = "--save needs a path";
                    return false;
                }
                out.save = value;
            } else if (!ParseUnsigned(value, out.seconds) || out.seconds < 1 || out.seconds > 3600) {
                error = "--seconds: '" + value + "' is not a number from 1 to 3600";
                return false;
            }
        } else {
            error = "unknown option '" + arg + "' (see quarnel probe --help)";
            return false;
        }
    }
    return true;
}

// Runs one query through the exports into `recorder`. False with `error` when
// the query could not be run at all; a query that ran has its outcome in the recorder.
bool RunQuery(const ProbeArgs& args, host::CapabilityRecorder& recorder, std::string& error) {
    DriverLibrary library;
    if (!library.Load(args.device.library, error)) return false;
    if (!args.device.hostVersion.empty()) {
        uint16_t v[4];
        if (!ParseHostVersion(args.device.hostVersion, v)) {
            error = "--host-version: '" + args.device.hostVersion + "' is not MAJOR.MINOR[.BUILD.REVISION]";
            return false;
        }
        host::SetHostVersion(v[0], v[1], v[2], v[3]);
    }
    if (!library.initCapabilityQuery(&recorder, args.ntsc ? 1 : 0)) {
        error = "the driver did not set up its capability query";
        return false;
    }
    const DeviceOptions& d = args.device;
    if (!library.startCapabilityQuery(d.address.c_str(), d.port, d.user.c_str(), d.password.c_str(), &recorder)) {
        library.uninitCapabilityQuery();
        error = "the driver did not start the capability query";
        return false;
    }
    const uint32_t rounds = args.seconds * 5;
    for (uint32_t round = 0; round < rounds && recorder.outcome() == host::CapabilityRecorder::Outcome::None; ++round) {
        if (platform::WaitForStopRequest(200)) break;
    }
    if (recorder.outcome() == host::CapabilityRecorder::Outcome::None) {
        library.terminateCapabilityQuery();
        recorder.WaitForOutcome(std::chrono::milliseconds(kTerminateWaitMs));
    }
    library.uninitCapabilityQuery();  // waits for the query thread
    if (recorder.outcome() == host::CapabilityRecorder::Outcome::None) {
        error = "the capability query did not end";
        return false;
    }
    return true;
}

// One line that says why a query failed, with the driver's own message.
std::string FailureLine(const ProbeArgs& args, const host::CapabilityRecorder& recorder) {
    const std::string where = args.device.address + ":" + std::to_string(args.device.port);
    const std::string message = recorder.failureMessage();
    if (recorder.outcome() == host::CapabilityRecorder::Outcome::Terminated)
        return "the query was terminated (" + where + ")";
    if (recorder.failureReason() == 1)
        return where + " refused the login of user \"" + args.device.user + "\": " + message;
    if (message.rfind("Failed to get camera properties", 0) == 0) {
        const auto address = platform::ResolveIPv4(args.device.address);
        if (!address) return "cannot resolve " + args.device.address + ": " + message;
        platform::Socket socket;
        if (!socket.Create(platform::Socket::Kind::Tcp) || !socket.Connect(*address, args.device.port, 30))
            return "no answer from " + where + " (refused or timed out): " + message;
        return where + " answers, but not as a Vista or Hitron device: " + message;
    }
    if (message == "Failed to save capability query results")
        return where + " reported no codec or no channel: " + message;
    return message + " (" + where + ")";
}

}  // namespace

int RunProbeCommand(const std::vector<std::string>& args) {
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            PrintHelp();
            return 0;
        }
    }
    ProbeArgs parsed;
    std::string error;
    if (!Parse(args, parsed, error)) {
        std::fprintf(stderr, "quarnel probe: %s\n", error.c_str());
        return 2;
    }
    host::CapabilityRecorder recorder;
    if (!RunQuery(parsed, recorder, error)) {
        std::fprintf(stderr, "quarnel probe: %s\n", error.c_str());
        return 1;
    }
    if (recorder.outcome() != host::CapabilityRecorder::Outcome::Completed) {
        std::fprintf(stderr, "quarnel probe: %s\n", FailureLine(parsed, recorder).c_str());
        return 1;
    }
    const ProbeReport report = ReportOf(recorder);
    const std::string text = parsed.json ? FormatReportJson(report) : FormatReportText(report);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (!parsed.save.empty()) {
        if (!SaveDeviceFile(parsed.save, DeviceOf(report, parsed.device), error)) {
            std::fprintf(stderr, "quarnel probe: --save: %s\n", error.c_str());
            return 1;
        }
        if (!parsed.json)
            std::printf("Saved to %s (stream it with: quarnel stream --device %s)\n", parsed.save.c_str(),
                        parsed.save.c_str());
    }
    return 0;
}

}  // namespace dravnel::cli
