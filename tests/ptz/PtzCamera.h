// The PTZ tests' camera: the simulated camera's web server with its PTZ
// pages on 127.0.0.1, a FakeDriver that points at it, and a directory of its
// own for preset files.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ptz/CPtzCapabilities.h"
#include "sim/device/PtzPages.h"
#include "sim/web/WebServer.h"
#include "tests/support/FakeDriver.h"
#include "tests/support/WaitUntil.h"

namespace dravnel::test {

// A directory removed with everything in it when the test ends.
struct TempDirectory {
    std::filesystem::path path;
    TempDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quarnel-ptz-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string File(const std::string& name) const { return (path / name).string(); }
};

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline dravnel::CPtzCapabilities AllCapabilities(uint32_t presets = 16) {
    dravnel::CPtzCapabilities c;
    c.pan = c.tilt = c.zoom = c.focus = c.iris = c.areaZoom = c.center = c.unzoom = true;
    c.presetCount = presets;
    return c;
}

struct PtzCamera {
    sim::WebServer web;
    sim::PtzPages ptz{web, 2};
    FakeDriver driver;
    TempDirectory directory;

    explicit PtzCamera(const dravnel::CPtzCapabilities& capabilities = AllCapabilities()) {
        started = web.Start(0);
        driver.device.Port = web.Port();
        driver.device.HttpTimeout = 5000;
        driver.channelCount = 2;
        driver.parameters[7] = dravnel::BuildCapabilityString(capabilities);
        driver.parameters[8] = directory.File("cam.preset");
    }
    ~PtzCamera() { ptz.Hold(false); }

    // Request targets of the PTZ command page, with the common prefix cut.
    std::vector<std::string> Queries(unsigned channel = 1) const {
        const std::string prefix = "/ptz/control.php?ch=" + std::to_string(channel);
        std::vector<std::string> queries;
        for (const std::string& target : ptz.Commands())
            queries.push_back(target.rfind(prefix, 0) == 0 ? target.substr(prefix.size()) : target);
        return queries;
    }
    // Requests of any page that start with `path`.
    size_t RequestsTo(const std::string& path) const {
        size_t n = 0;
        for (const auto& entry : web.Log()) n += entry.target.rfind(path, 0) == 0;
        return n;
    }

    bool started = false;
};

}  // namespace dravnel::test
