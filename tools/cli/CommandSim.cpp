// quarnel sim: runs the simulated camera (web pages and RTSP server) on
// 127.0.0.1 until Ctrl-C, SIGTERM or the end of --seconds, and prints how to
// reach it and every stream configuration request it answers.
#include "tools/cli/CommandSim.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <optional>

#include "platform/Clock.h"
#include "platform/Terminal.h"
#include "sim/device/SimCamera.h"
#include "sim/faults/FaultInjector.h"
#include "tools/cli/FaultOptions.h"
#include "tools/cli/Options.h"
#include "tools/cli/SimControl.h"

namespace dravnel::cli {

namespace {

using sim::DeviceProfile;
using sim::RtspServer;
using sim::SimCamera;
using sim::SimCameraOptions;
using sim::WebAuth;

const char* kHelp =
    "usage: quarnel sim [options]\n"
    "\n"
    "Runs the simulated camera on 127.0.0.1: its CGI pages over HTTP (video and\n"
    "network settings, user and configuration pages) and its RTSP server, which\n"
    "streams each channel in the codec, size and frame rate its video page holds.\n"
    "Prints the addresses, the RTSP URL of every stream and a `quarnel stream`\n"
    "command line for the camera, then every stream setting request it answers.\n"
    "Runs until Ctrl-C or SIGTERM, or for --seconds.\n"
    "\n"
    "Options:\n"
    "  --profile NAME        which device it is (default group1):\n"
    "                          group1  current firmware, OEM group 1 (named sizes: 4CIF, 720P)\n"
    "                          group2  current firmware, Model B (WIDTHxHEIGHT sizes, one\n"
    "                                  stream per request), Hitron brand\n"
    "                          group3  current firmware, OEM group 3, customer \"Vista\"\n"
    "                          older   older firmware (model eSS540, no OPTIONS)\n"
    "                          vista-mpeg  group1 that is also an older Vista MPEG-4 device:\n"
    "                                  /admin/mpeg4.html and the stream \"video\", whose\n"
    "                                  MPEG-4 carries the alarm bits\n"
    "                        standard and modelb are group1 and group2\n"
    "  --model NAME          model name of /config.txt (default per profile)\n"
    "  --ptz                 the camera reports PTZ on every channel\n"
    "  --channels N          video channels, 1 to 128 (default 1)\n"
    "  --ntsc                NTSC camera (default PAL)\n"
    "  --auth none|basic|digest  authentication on HTTP and RTSP (default none)\n"
    "  --user NAME           user name (default admin)\n"
    "  --password TEXT       password (default admin)\n"
    "  --http-port N         HTTP port (default: a free port)\n"
    "  --rtsp-port N         RTSP port (default: a free port)\n"
    "  --inputs N            alarm inputs, 0 to 64 (default 4)\n"
    "  --outputs N           relay outputs, 0 to 16 (default 1)\n"
    "  --seconds N           stop after N seconds (default: run until interrupted)\n"
    "  --replay FILE         every stream replays this RTP recording (RFC 4571, as\n"
    "                        GStreamer's rtpstreampay writes it) in a loop, paced per\n"
    "                        frame, instead of encoding a test picture; the codec and\n"
    "                        size the video page holds then do not apply\n";

const char* kHelpTail =
    "\n"
    "Lines typed on its standard input change the alarm inputs and switch\n"
    "faults of the event stream and pages (type help); the line quit stops it.\n";

struct SimArgs {
    SimCameraOptions camera;
    bool modelGiven = false;
    uint32_t seconds = 0;
    std::string authName = "none";
    FaultOptions faults;
};

// A model of each profile; older firmware reports an internal model code.
std::string DefaultModel(sim::IdentityProfile profile) {
    switch (profile) {
    case sim::IdentityProfile::Group2:
        return "QSIM-2M";
    case sim::IdentityProfile::Group3:
        return "QSIM-300";
    case sim::IdentityProfile::Older:
        return "eSS540";
    default:
        return "QSIM-100";
    }
}

// The OEM device group a recorder learns for the profile (driver parameter 4).
int DeviceGroup(sim::IdentityProfile profile) {
    switch (profile) {
    case sim::IdentityProfile::Group2:
        return 2;
    case sim::IdentityProfile::Group3:
        return 3;
    case sim::IdentityProfile::Older:
        return 0;
    default:
        return 1;
    }
}

bool Parse(const std::vector<std::string>& args, SimArgs& out, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (TakeFaultOption(args, i, out.faults, error)) continue;
        if (!error.empty()) return false;
        const std::string& arg = args[i];
        const auto value = [&](std::string& text) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            text = args[++i];
            return true;
        };
        const auto number = [&](uint32_t& n, uint32_t min, uint32_t max) {
            std::string text;
            if (!value(text)) return false;
            if (!ParseUnsigned(text, n) || n < min || n > max) {
                error =
                    arg + ": '" + text + "' is not a number from " + std::to_string(min) + " to " + std::to_string(max);
                return false;
            }
            return true;
        };
        std::string text;
        uint32_t n = 0;
        if (arg == "--profile") {
            if (!value(text)) return false;
            using sim::IdentityProfile;
            if (text == "standard" || text == "group1") {
                out.camera.profile = DeviceProfile::Standard;
                out.camera.identity = IdentityProfile::Group1;
            } else if (text == "modelb" || text == "group2") {
                out.camera.profile = DeviceProfile::ModelB;
                out.camera.identity = IdentityProfile::Group2;
            } else if (text == "group3") {
                out.camera.profile = DeviceProfile::Standard;
                out.camera.identity = IdentityProfile::Group3;
            } else if (text == "older") {
                out.camera.profile = DeviceProfile::Standard;
                out.camera.identity = IdentityProfile::Older;
            } else if (text == "vista-mpeg") {
                out.camera.profile = DeviceProfile::Standard;
                out.camera.identity = IdentityProfile::Group1;
                out.camera.vistaMpeg = true;
            } else {
                error =
                    "--profile: '" + text + "' is not group1, group2, group3, older, vista-mpeg, standard or modelb";
                return false;
            }
        } else if (arg == "--model") {
            if (!value(out.camera.model)) return false;
            if (out.camera.model.empty() || out.camera.model.find_first_of("\r\n&") != std::string::npos) {
                error = "--model: the name must be one line without '&'";
                return false;
            }
            out.modelGiven = true;
        } else if (arg == "--ptz") {
            out.camera.ptz = true;
        } else if (arg == "--channels") {
            if (!number(n, 1, sim::VideoSettings::kMaxChannels)) return false;
            out.camera.channels = n;
        } else if (arg == "--ntsc") {
            out.camera.ntsc = true;
        } else if (arg == "--auth") {
            if (!value(text)) return false;
            if (text == "none") {
                out.camera.webAuth = WebAuth::None;
                out.camera.rtspAuth = RtspServer::Auth::None;
            } else if (text == "basic") {
                out.camera.webAuth = WebAuth::Basic;
                out.camera.rtspAuth = RtspServer::Auth::Basic;
            } else if (text == "digest") {
                out.camera.webAuth = WebAuth::Digest;
                out.camera.rtspAuth = RtspServer::Auth::Digest;
            } else {
                error = "--auth: '" + text + "' is not none, basic or digest";
                return false;
            }
            out.authName = text;
        } else if (arg == "--user") {
            if (!value(out.camera.user)) return false;
        } else if (arg == "--password") {
            if (!value(out.camera.password)) return false;
        } else if (arg == "--http-port") {
            if (!number(n, 0, 65535)) return false;
            out.camera.webPort = static_cast<uint16_t>(n);
        } else if (arg == "--rtsp-port") {
            if (!number(n, 0, 65535)) return false;
            out.camera.rtspPort = static_cast<uint16_t>(n);
        } else if (arg == "--inputs") {
            if (!number(n, 0, 64)) return false;
            out.camera.inputs = n;
        } else if (arg == "--outputs") {
            if (!number(n, 0, 16)) return false;
            out.camera.outputs = n;
        } else if (arg == "--seconds") {
            if (!number(out.seconds, 1, 7 * 24 * 3600)) return false;
        } else if (arg == "--replay") {
            if (!value(out.camera.replay)) return false;
            if (out.camera.replay.empty()) {
                error = "--replay needs a file";
                return false;
            }
        } else {
            error = "unknown option '" + arg + "' (see quarnel sim --help)";
            return false;
        }
    }
    if (!CheckFaultOptions(out.faults, error)) return false;
    if (!out.modelGiven) out.camera.model = DefaultModel(out.camera.identity);
    if (out.camera.webAuth != WebAuth::None && out.camera.user.empty()) {
        error = "--auth " + out.authName + " needs a --user";
        return false;
    }
    return true;
}

// A word of the command line, quoted for a POSIX shell when it needs it.
std::string ShellWord(const std::string& text) {
    const bool plain = !text.empty() && text.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789-_.,:/@%+=") == std::string::npos;
    if (plain) return text;
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

void PrintBanner(SimCamera& camera, const SimArgs& args) {
    const SimCameraOptions& o = camera.Options();
    const bool modelB = o.profile == DeviceProfile::ModelB;
    const unsigned channels = camera.Video().Channels();
    std::printf("Simulated camera %s: %s profile, %u channel%s, %s\n", o.model.c_str(), modelB ? "Model B" : "standard",
                channels, channels == 1 ? "" : "s", o.ntsc ? "NTSC" : "PAL");
    std::printf("  Identity  %s firmware, %u alarm input%s, %u output%s, %s\n", sim::IdentityProfileName(o.identity),
                o.inputs, o.inputs == 1 ? "" : "s", o.outputs, o.outputs == 1 ? "" : "s", o.ptz ? "PTZ" : "no PTZ");
    std::printf("  HTTP   %s/   video page %s/video/video.php?app=get&ch=1%s\n", camera.WebUrl().c_str(),
                camera.WebUrl().c_str(), modelB ? "&strm=1" : "");
    for (unsigned channel = 1; channel <= channels; ++channel) {
        for (unsigned stream = 1; stream <= sim::VideoSettings::kStreamsPerChannel; ++stream) {
            const sim::RtspStreamConfig c = camera.Video().RtspConfig(channel, stream);
            std::printf("  RTSP   %-40s channel %u stream %u: %s %ux%u %u fps\n",
                        camera.RtspUrl(channel, stream).c_str(), channel, stream, sim::CodecName(c.codec), c.width,
                        c.height, c.fps);
        }
    }
    if (!o.replay.empty())
        std::printf("  Replay %s: %s, on every stream\n", o.replay.c_str(), camera.Rtsp().ReplaySummary().c_str());
    if (o.vistaMpeg)
        std::printf(
            "  RTSP   %-40s older Vista MPEG-4 stream, set by %s/admin/mpeg4.html\n",
            (camera.RtspUrl(1, 1).substr(0, camera.RtspUrl(1, 1).find('/', 7)) + sim::VistaMpegDevice::kPath).c_str(),
            camera.WebUrl().c_str());
    if (o.webAuth == WebAuth::None)
        std::printf("  Login  none: any user name and password pass\n");
    else
        std::printf("  Login  %s authentication on HTTP and RTSP: user \"%s\", password \"%s\"\n",
                    args.authName.c_str(), o.user.c_str(), o.password.c_str());
    std::printf(
        "\nProbe it as a recorder does, and keep the result:\n  quarnel probe --address 127.0.0.1 --port %u "
        "--user %s --password %s%s --save out/sim.device\n",
        static_cast<unsigned>(camera.WebPort()), ShellWord(o.user).c_str(), ShellWord(o.password).c_str(),
        o.ntsc ? " --ntsc" : "");
    std::printf(
        "\nStream it with the driver:\n  quarnel stream --address 127.0.0.1 --port %u --user %s --password %s "
        "--codec h264 --channels %u --param 2=%d --param 4=%d\n\n",
        static_cast<unsigned>(camera.WebPort()), ShellWord(o.user).c_str(), ShellWord(o.password).c_str(), channels,
        o.ntsc ? 1 : 0, DeviceGroup(o.identity));
    if (o.vistaMpeg)
        std::printf(
            "or as the older Vista MPEG-4 device:\n  quarnel stream --address 127.0.0.1 --port %u --user %s "
            "--password %s --codec mpeg4 --param 2=%d --param 3=%u --param 4=0\n\n",
            static_cast<unsigned>(camera.WebPort()), ShellWord(o.user).c_str(), ShellWord(o.password).c_str(),
            o.ntsc ? 1 : 0, static_cast<unsigned>(camera.RtspPort()));
    std::printf(
        "Alarm inputs and relays: %u input%s, %u output%s; event stream %s/stream/event_stream.php?ch=1&strm=1"
        "&alarm=1\n  quarnel io --address 127.0.0.1 --port %u --user %s --password %s --inputs %u --outputs %u "
        "--param 2=%d --param 4=%d\n%s\n",
        o.inputs, o.inputs == 1 ? "" : "s", o.outputs, o.outputs == 1 ? "" : "s", camera.WebUrl().c_str(),
        static_cast<unsigned>(camera.WebPort()), ShellWord(o.user).c_str(), ShellWord(o.password).c_str(), o.inputs,
        o.outputs, o.ntsc ? 1 : 0, DeviceGroup(o.identity), SimControlHelp());
    if (args.faults.given) {
        const sim::FaultSchedule& f = args.faults.schedule;
        std::string kinds;
        for (sim::FaultKind kind : f.kinds) kinds += (kinds.empty() ? "" : ",") + std::string(sim::FaultKindName(kind));
        std::printf("Faults: %s, %s every %u ms, held %u ms, %s\n", kinds.c_str(),
                    f.seed ? ("random (seed " + std::to_string(*f.seed) + ") about").c_str() : "in turn", f.everyMs,
                    f.HoldMs(), f.count ? (std::to_string(f.count) + " in all").c_str() : "no end");
    }
    if (args.seconds != 0)
        std::printf("Running for %u s (Ctrl-C stops it sooner).\n", args.seconds);
    else
        std::printf("Running until Ctrl-C.\n");
    std::fflush(stdout);
}

// Carries out the schedule's due steps and prints one line for each.
void RunDueFaults(sim::FaultScheduler& faults, sim::FaultInjector& injector, std::mutex& printing) {
    for (const sim::FaultStep& step : faults.Due(platform::MonotonicMs())) {
        std::string error;
        const bool ok = injector.Apply(step, error);
        std::lock_guard<std::mutex> lock(printing);
        std::printf("%s %u: %s%s%s\n", step.action == sim::FaultStep::Action::Fire ? "fault" : "cleared", step.number,
                    sim::FaultKindName(step.kind), ok ? "" : " (failed: ", ok ? "" : (error + ")").c_str());
        std::fflush(stdout);
    }
}

}  // namespace

int RunSimCommand(const std::vector<std::string>& args) {
    for (const auto& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::printf("%s%s%s", kHelp, kFaultOptionsHelp, kHelpTail);
            return 0;
        }
    }
    SimArgs parsed;
    std::string error;
    if (!Parse(args, parsed, error)) {
        std::fprintf(stderr, "quarnel sim: %s\n", error.c_str());
        return 2;
    }
    platform::InstallStopRequest();

    std::mutex printing;  // outlives the camera, whose pages may still be answering
    SimCamera camera(parsed.camera);
    camera.Video().ObserveSets([&printing](const std::string& target, bool accepted, const std::string& reason) {
        std::lock_guard<std::mutex> lock(printing);
        if (accepted)
            std::printf("set %s -> res=200\n", target.c_str());
        else
            std::printf("set %s -> res=400 (%s)\n", target.c_str(), reason.c_str());
        std::fflush(stdout);
    });
    if (!camera.Start()) {
        std::fprintf(stderr, "quarnel sim: the simulated camera did not start: %s\n", camera.LastError().c_str());
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(printing);
        PrintBanner(camera, parsed);
    }

    camera.Alarms().Observe([&printing](const std::string& line) {
        std::lock_guard<std::mutex> lock(printing);
        std::printf("alarm: %s\n", line.c_str());
        std::fflush(stdout);
    });

    // Control lines from standard input until it ends; then only the stop.
    const uint32_t started = platform::MonotonicMs();
    const auto left = [&]() -> uint32_t {
        if (parsed.seconds == 0) return 60000;
        const uint32_t elapsed = platform::MonotonicMs() - started;
        return elapsed >= parsed.seconds * 1000u ? 0 : std::min<uint32_t>(parsed.seconds * 1000u - elapsed, 60000);
    };
    std::optional<sim::FaultScheduler> faults;
    sim::FaultInjector injector(camera);
    if (parsed.faults.given && !parsed.faults.waitForStart)
        faults.emplace(parsed.faults.schedule, platform::MonotonicMs());
    bool input = true;
    while (!platform::StopRequested()) {
        if (faults) RunDueFaults(*faults, injector, printing);
        uint32_t wait = left();
        if (wait == 0) break;
        if (faults) wait = std::min(wait, faults->UntilNext(platform::MonotonicMs()).value_or(wait));
        if (wait == 0) continue;
        if (!input) {
            platform::WaitForStopRequest(wait);
            continue;
        }
        std::string line;
        const platform::InputLine got = platform::ReadInputLine(line, std::min<uint32_t>(wait, 200));
        if (got == platform::InputLine::End) input = false;
        if (got != platform::InputLine::Line) continue;
        if (line == "quit") break;
        if (line == "faults start" && parsed.faults.given) {
            if (!faults) faults.emplace(parsed.faults.schedule, platform::MonotonicMs());
            std::lock_guard<std::mutex> lock(printing);
            std::printf("faults started\n");
            std::fflush(stdout);
            continue;
        }
        const std::string reply = ApplySimControl(camera.Alarms(), line);
        if (reply.empty()) continue;
        std::lock_guard<std::mutex> lock(printing);
        std::printf("%s%s", reply.c_str(), reply.back() == '\n' ? "" : "\n");
        std::fflush(stdout);
    }
    camera.Alarms().Observe(nullptr);
    camera.Video().ObserveSets(nullptr);
    camera.Stop();
    std::printf("Simulated camera stopped.\n");
    return 0;
}

}  // namespace dravnel::cli
