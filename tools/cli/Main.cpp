// quarnel: a host for the driver on the command line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "platform/Terminal.h"
#include "quarnel/Version.h"
#include "tools/cli/CommandSim.h"
#include "tools/cli/Commands.h"
#include "tools/cli/HostSession.h"
#include "tools/cli/Options.h"

namespace dravnel::cli {

namespace {

const char* kUsage =
    "usage: quarnel COMMAND [options]\n"
    "\n"
    "Commands:\n"
    "  open     open a driver on a device, print its diagnostics, close it\n"
    "  stream   stream live video from a device into files, with live figures\n"
    "  io       watch a device's alarm inputs and switch its relay outputs\n"
    "  probe    ask a device what it is (the capability query), save it for --device\n"
    "  ptz      move, zoom, focus and stop a device's PTZ, keep named presets\n"
    "  sim      run the simulated camera on 127.0.0.1 until interrupted\n"
    "  soak     stream many channels of the simulated camera through a fault\n"
    "           schedule and watch threads, descriptors and memory\n"
    "  demo     stream H.264 from the simulated camera over UDP and interleaved,\n"
    "           and check the files with FFmpeg\n"
    "  help     show this text, or `quarnel help COMMAND`\n"
    "\n"
    "Run `quarnel COMMAND --help` for the options of a command, and\n"
    "`quarnel --version` for the version of the CLI and of the driver it loads.\n";

// The CLI's own version, and the file and SONAME of the driver it would load.
int PrintVersion() {
    std::printf("quarnel %s\n", QUARNEL_VERSION_STRING);
    DriverLibrary library;
    std::string error;
    if (!library.Load("", error)) {
        std::printf("driver: not loaded (%s)\n", error.c_str());
        return 1;
    }
    std::printf("driver: %s (ABI %d)\n", library.path().c_str(), QUARNEL_ABI_VERSION);
    return 0;
}

int RunOpen(const std::vector<std::string>& args) {
    DeviceOptions options;
    std::vector<std::string> rest;
    std::string error;
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            std::printf(
                "usage: quarnel open [device options]\n\n"
                "Opens a driver on the device the way a recorder does, prints each\n"
                "diagnostic line with its level as [level] text, and closes it.\n\n%s",
                DeviceOptionsHelp());
            return 0;
        }
    }
    if (!ParseDeviceOptions(args, options, rest, error)) {
        std::fprintf(stderr, "quarnel open: %s\n", error.c_str());
        return 2;
    }
    if (!rest.empty()) {
        std::fprintf(stderr, "quarnel open: unknown option '%s' (see quarnel open --help)\n", rest[0].c_str());
        return 2;
    }
    HostSession session(options);
    if (!session.Open(stdout)) return 1;
    std::printf("driver opened: %s:%u, %u channel(s)\n", options.address.c_str(), static_cast<unsigned>(options.port),
                options.channels);
    session.Close();
    std::printf("driver closed\n");
    return 0;
}

}  // namespace

int Main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "help") args = {args[1], "--help"};
    if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
        std::printf("%s", kUsage);
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "--version" || args[0] == "version") return PrintVersion();
    // Ctrl-C and SIGTERM end a run cleanly instead of killing the process.
    platform::InstallStopRequest();
    // Many channels (and their output files) need more than the usual 1024.
    platform::RaiseDescriptorLimit();
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "open") return RunOpen(args);
    if (command == "sim") return RunSimCommand(args);
    if (command == "stream") return RunStreamCommand(args);
    if (command == "soak") return RunSoakCommand(args);
    if (command == "demo") return RunDemoCommand(args);
    if (command == "io") return RunIOCommand(args);
    if (command == "probe") return RunProbeCommand(args);
    if (command == "ptz") return RunPtzCommand(args);
    std::fprintf(stderr, "quarnel: unknown command '%s'\n\n%s", command.c_str(), kUsage);
    return 2;
}

}  // namespace dravnel::cli

int main(int argc, char** argv) { return dravnel::cli::Main(argc, argv); }
