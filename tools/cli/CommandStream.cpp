// quarnel stream: live video from a device into files, as a recorder takes it.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/Commands.h"
#include "tools/cli/StreamSession.h"
#include "tools/cli/TransportFile.h"

namespace dravnel::cli {

namespace {

void PrintHelp() {
    std::printf(
        "usage: quarnel stream [device options] [stream options]\n"
        "\n"
        "Opens the device the way a recorder does, starts one or more channels, writes\n"
        "each channel's frames to a file that ffplay plays (H.264: an Annex B stream;\n"
        "MPEG-4: an elementary stream with its headers in front of every key frame;\n"
        "MJPEG: the JPEG images one after another) and\n"
        "shows a live status line per channel above the driver's diagnostics. Stops on\n"
        "Ctrl-C or after --seconds.\n"
        "\n"
        "Stream options:\n"
        "  --channel I           start channel I (the host's 0-based index; repeatable;\n"
        "                        default 0)\n"
        "  --width N --height N  picture size asked of the device (default 640x480)\n"
        "  --fps N               frame rate asked of the device (default 25)\n"
        "  --quality N           quality 1..100, sets the bit rate (default 60)\n"
        "  --out PATH            output file (default out/stream.h264, .m4v for MPEG-4,\n"
        "                        .mjpeg for MJPEG); with several channels the index goes\n"
        "                        into the name: out/stream-1.h264\n"
        "  --seconds N           stop after N seconds (default: run until Ctrl-C)\n"
        "  (Without --param 2 and --param 4 the device is taken as PAL and standard.)\n"
        "  --transport MODE      RTP transport for this run: udp, tcp, interleaved or http.\n"
        "                        The driver reads the transport only from its settings\n"
        "                        file, %s;\n"
        "                        this option writes a section for the device there for\n"
        "                        the run and puts the file back as it was afterwards.\n"
        "                        Without it, the file (if any) decides; UDP by default.\n"
        "\n%s",
        TransportFile::Path().c_str(), DeviceOptionsHelp());
}

}  // namespace

int RunStreamCommand(const std::vector<std::string>& args) {
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            PrintHelp();
            return 0;
        }
    }
    StreamSettings settings;
    std::vector<std::string> rest;
    std::string error;
    if (!ParseDeviceOptions(args, settings.device, rest, error)) {
        std::fprintf(stderr, "quarnel stream: %s\n", error.c_str());
        return 2;
    }
    bool outGiven = false;
    for (size_t i = 0; i < rest.size(); ++i) {
        const std::string& arg = rest[i];
        if (arg.rfind("--", 0) != 0) {
            std::fprintf(stderr, "quarnel stream: unexpected '%s' (see quarnel stream --help)\n", arg.c_str());
            return 2;
        }
        if (i + 1 >= rest.size()) {
            std::fprintf(stderr, "quarnel stream: %s needs a value, or is unknown (see quarnel stream --help)\n",
                         arg.c_str());
            return 2;
        }
        const std::string& value = rest[++i];
        uint32_t n = 0;
        const auto number = [&](uint32_t min, uint32_t max) {
            if (ParseUnsigned(value, n) && n >= min && n <= max) return true;
            std::fprintf(stderr, "quarnel stream: %s: '%s' is not a number from %u to %u\n", arg.c_str(), value.c_str(),
                         min, max);
            return false;
        };
        if (arg == "--channel") {
            if (!number(0, 255)) return 2;
            settings.channels.push_back(n);
        } else if (arg == "--width") {
            if (!number(16, 8192)) return 2;
            settings.width = n;
        } else if (arg == "--height") {
            if (!number(16, 8192)) return 2;
            settings.height = n;
        } else if (arg == "--fps") {
            if (!number(1, 120)) return 2;
            settings.fps = n;
        } else if (arg == "--quality") {
            if (!number(1, 100)) return 2;
            settings.quality = n;
        } else if (arg == "--seconds") {
            if (!number(1, 86400 * 365)) return 2;
            settings.seconds = n;
        } else if (arg == "--out") {
            if (value.empty()) {
                std::fprintf(stderr, "quarnel stream: --out needs a path\n");
                return 2;
            }
            settings.out = value;
            outGiven = true;
        } else if (arg == "--transport") {
            if (!TransportFile::ModeName(value)) {
                std::fprintf(stderr, "quarnel stream: --transport: '%s' is not udp, tcp, interleaved or http\n",
                             value.c_str());
                return 2;
            }
            settings.transport = value;
        } else {
            std::fprintf(stderr, "quarnel stream: unknown option '%s' (see quarnel stream --help)\n", arg.c_str());
            return 2;
        }
    }
    if (settings.channels.empty()) settings.channels.push_back(0);
    if (!outGiven) settings.out = "out/stream" + StreamFileExtension(settings.device.codec);
    // A recorder always hands the video standard (2) and the device group (4)
    // it learnt when the device was added; without them, PAL and a standard device.
    if (!settings.device.parameters.count(2)) settings.device.parameters[2] = "0";
    if (!settings.device.parameters.count(4)) settings.device.parameters[4] = "1";

    StreamResult result = RunStream(settings, stdout);
    if (!result.opened || !result.error.empty()) {
        std::fprintf(stderr, "quarnel stream: %s\n", result.error.c_str());
        return 1;
    }
    std::printf("\nstream ended after %.1f s\n", result.seconds);
    bool allFrames = true;
    for (const auto& channel : result.channels) {
        const double fps = result.seconds > 0 ? channel.figures.frames / result.seconds : 0;
        std::printf("%s\n  -> %s\n",
                    FormatChannelLine(channel, channel.started ? "stopped" : "not started", fps,
                                      result.seconds > 0 ? channel.figures.bytes * 8.0 / 1000.0 / result.seconds : 0)
                        .c_str(),
                    channel.path.c_str());
        if (channel.figures.frames == 0) {
            allFrames = false;
            const std::string why = NoVideoReason(result.diagnostics, channel.index);
            std::printf("[ch %u] no frames: %s\n", channel.index,
                        !channel.started ? "the channel could not be started"
                        : why.empty()    ? "the driver reported no reason"
                                         : why.c_str());
        }
    }
    return allFrames ? 0 : 1;
}

}  // namespace dravnel::cli
