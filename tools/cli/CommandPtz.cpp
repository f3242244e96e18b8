// quarnel ptz: drives a device's PTZ through the driver the way a recorder
// does, one request per step, and prints each request's outcome; against the
// simulated camera (--sim) also where the camera then points.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/Terminal.h"
#include "sim/device/PtzPages.h"
#include "sim/web/WebServer.h"
#include "tools/cli/Commands.h"
#include "tools/cli/HostSession.h"
#include "tools/cli/PtzScript.h"

namespace dravnel::cli {

namespace {

const char* kDefaultCapabilities = "Pan=1; Tilt=1; Zoom=1; Focus=1; Iris=1; Center=0; Unzoom=0; AreaZoom=0; Preset=16";

void PrintHelp() {
    std::printf(
        "usage: quarnel ptz [device options] [--channel I] [--sim [--sim-delay MS]] STEP...\n"
        "\n"
        "Opens the device the way a recorder does, takes the PTZ control of a channel\n"
        "and runs the steps in order, printing each request and its result.\n"
        "\n"
        "Steps:\n"
        "  move DIR [--speed N] [--for MS]  DIR: left right up down upleft upright\n"
        "                        downleft downright; moves for MS ms (default 1000),\n"
        "                        then stops; speed 1..100 (default 8)\n"
        "  zoom in|out, focus near|far, iris open|close  [--speed N] [--for MS]: the same\n"
        "  stop                  stops whatever runs\n"
        "  preset add NAME       stores the position under NAME (or renames the preset\n"
        "                        the camera stands at)\n"
        "  preset go NAME        goes to the preset;  preset delete NAME;  preset list\n"
        "  info                  capabilities, preset capacity and count, availability\n"
        "\n"
        "The driver reads the camera's PTZ capabilities from --param 7 (for example\n"
        "\"%s\")\n"
        "and keeps preset names in the file named by --param 8 (a relative name is\n"
        "taken beside the quarnel executable).\n"
        "\n"
        "  --channel I           the host's 0-based channel (default 0)\n"
        "  --sim                 run a simulated PTZ camera in this process and drive it\n"
        "                        (address and port are then its own; parameters 7 and 8\n"
        "                        default to the capabilities above and quarnel-sim.preset);\n"
        "                        prints the camera's position after each step\n"
        "  --sim-delay MS        the simulated camera answers each command this late\n"
        "\n%s",
        kDefaultCapabilities, DeviceOptionsHelp());
}

const char* MoveName(uint32_t direction) {
    static const char* names[] = {"left", "right", "up", "down", "upleft", "upright", "downleft", "downright"};
    return direction < 8 ? names[direction] : "?";
}

// The simulated camera's web server and PTZ pages, when --sim asks for them.
struct SimulatedPtz {
    sim::WebServer web;
    std::unique_ptr<sim::PtzPages> ptz;

    bool Start(unsigned channels, uint32_t delayMs) {
        ptz = std::make_unique<sim::PtzPages>(web, channels);
        ptz->SetDelayMs(delayMs);
        return web.Start(0);
    }
    // Waits until the camera has had no command for a while (at most 3 s),
    // so that the position printed follows every command queued so far.
    void Settle() {
        size_t seen = ptz->Commands().size();
        for (int round = 0; round < 30; ++round) {
            if (!ptz->WaitForCommands(seen + 1, 100)) return;
            seen = ptz->Commands().size();
        }
    }
    void PrintPosition(unsigned channel) {
        Settle();
        const sim::PtzPosition p = ptz->Position(channel + 1);
        std::printf("  camera: pan %.1f, tilt %.1f, zoom %.1fx; move %s, zoom %s, focus %s, iris %s\n", p.pan, p.tilt,
                    p.zoom, p.move.c_str(), p.zoomMotion.c_str(), p.focus.c_str(), p.iris.c_str());
    }
};

void Report(const std::string& request, int result) {
    std::printf("%s -> %s\n", request.c_str(), PtzResultName(result).c_str());
    std::fflush(stdout);
}

// Runs one step; false when it failed (the run goes on with the next).
bool RunStep(const PtzStep& step, dravnel::IIPPTZApiEx& ptz) {
    using Kind = PtzStep::Kind;
    const auto motion = [&](const std::string& request, int result) {
        Report(request, result);
        if (result != dravnel::PTZ_OK) return false;
        platform::WaitForStopRequest(step.forMs);
        Report("Stop()", ptz.Stop());
        return true;
    };
    const std::string speed = std::to_string(step.speed);
    switch (step.kind) {
    case Kind::Move:
        return motion("Move(" + std::string(MoveName(step.direction)) + ", " + speed + ")",
                      ptz.Move(step.direction, step.speed));
    case Kind::Zoom:
        return motion(step.word == "in" ? "ZoomIn(" + speed + ")" : "ZoomOut(" + speed + ")",
                      step.word == "in" ? ptz.ZoomIn(step.speed) : ptz.ZoomOut(step.speed));
    case Kind::Focus:
        return motion(step.word == "near" ? "FocusNear(" + speed + ")" : "FocusFar(" + speed + ")",
                      step.word == "near" ? ptz.FocusNear(step.speed) : ptz.FocusFar(step.speed));
    case Kind::Iris:
        return motion(step.word == "open" ? "IrisOpen(" + speed + ")" : "IrisClose(" + speed + ")",
                      step.word == "open" ? ptz.IrisOpen(step.speed) : ptz.IrisClose(step.speed));
    case Kind::Stop: {
        const int result = ptz.Stop();
        Report("Stop()", result);
        return result == dravnel::PTZ_OK;
    }
    case Kind::PresetAdd:
    case Kind::PresetGo:
    case Kind::PresetDelete: {
        const char* verb = step.kind == Kind::PresetAdd  ? "AddPreset"
                           : step.kind == Kind::PresetGo ? "GoToPreset"
                                                         : "DeletePreset";
        const int result = step.kind == Kind::PresetAdd  ? ptz.AddPreset(step.word.c_str())
                           : step.kind == Kind::PresetGo ? ptz.GoToPreset(0, step.word.c_str())
                                                         : ptz.DeletePreset(step.word.c_str());
        Report(std::string(verb) + "(\"" + step.word + "\")", result);
        return result == dravnel::PTZ_OK;
    }
    case Kind::PresetList: {
        const int count = ptz.GetPresetCount();
        std::printf("presets: %d\n", count);
        char current[256] = "";
        const bool atPreset = ptz.GetCurrentPresetName(current, sizeof current) == dravnel::PTZ_OK;
        for (int i = 0; i < count; ++i) {
            char name[256];
            if (ptz.GetPresetName(static_cast<unsigned>(i), name, sizeof name) != dravnel::PTZ_OK) continue;
            std::printf("  %d  %s%s\n", i, name, atPreset && std::string(name) == current ? "  (current)" : "");
        }
        return true;
    }
    case Kind::Info: {
        dravnel::PTZ_INFO info{};
        const int result = ptz.GetPTZInfo(&info);
        Report("GetPTZInfo()", result);
        if (result == dravnel::PTZ_OK)
            std::printf(
                "  pan %u, tilt %u, zoom %u, focus %u, iris %u, area zoom %u, center %u, unzoom %u; "
                "presets %u of %u\n",
                info.pan, info.tilt, info.zoom, info.focus, info.iris, info.areaZoom, info.center, info.unzoom,
                info.presetCount, info.presetCapacity);
        const int available = ptz.IsPTZAvailable();
        std::printf("IsPTZAvailable() -> %d\n", available);
        return result == dravnel::PTZ_OK;
    }
    }
    return false;
}

}  // namespace

int RunPtzCommand(const std::vector<std::string>& args) {
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            PrintHelp();
            return 0;
        }
    }
    DeviceOptions device;
    std::vector<std::string> rest;
    std::string error;
    PtzScript script;
    if (!ParseDeviceOptions(args, device, rest, error) || !ParsePtzScript(rest, script, error)) {
        std::fprintf(stderr, "quarnel ptz: %s\n", error.c_str());
        return 2;
    }
    if (script.channel >= device.channels) {
        std::fprintf(stderr, "quarnel ptz: --channel %u: the device has %u channel(s) (see --channels)\n",
                     script.channel, device.channels);
        return 2;
    }

    SimulatedPtz simulated;
    if (script.sim) {
        if (!simulated.Start(device.channels, script.simDelayMs)) {
            std::fprintf(stderr, "quarnel ptz: the simulated camera did not start\n");
            return 1;
        }
        device.address = sim::WebServer::Address();
        device.port = simulated.web.Port();
        device.parameters.emplace(7, kDefaultCapabilities);
        device.parameters.emplace(8, "quarnel-sim.preset");
        std::printf("simulated PTZ camera on %s:%u\n", device.address.c_str(), static_cast<unsigned>(device.port));
    }
    device.parameters.emplace(2, "0");

    HostSession session(device);
    if (!session.Open(stderr)) return 1;
    dravnel::ipcapture::IIPPTZDriverEx* driver = session.driver()->GetPTZDriverEx();
    dravnel::IIPPTZApiEx* ptz = driver ? driver->GetPTZApiEx(script.channel) : nullptr;
    if (!ptz) {
        std::fprintf(stderr,
                     "quarnel ptz: the driver gives no PTZ control for channel %u (are --param 7, the capabilities, "
                     "and --param 8, the preset file, given? see the driver's messages above)\n",
                     script.channel);
        return 1;
    }
    int failures = 0;
    for (const PtzStep& step : script.steps) {
        if (platform::StopRequested()) break;
        failures += RunStep(step, *ptz) ? 0 : 1;
        if (script.sim) simulated.PrintPosition(script.channel);
    }
    session.Close();
    return failures == 0 ? 0 : 1;
}

}  // namespace dravnel::cli
