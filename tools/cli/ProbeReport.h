// What `quarnel probe` shows of a finished capability query: the results the
// driver wrote into the host's results object, read back in a recorder's
// terms (frame rates in frames per second, the nine driver parameters by
// number), printed as text or JSON, or turned into the device a recorder adds.
//
// Thread-safety: plain values and pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/cli/Options.h"
#include "tools/host/CapabilityRecorder.h"

namespace dravnel::cli {

struct ProbeReport {
    struct Size {
        uint16_t width = 0;
        uint16_t height = 0;
        uint32_t maxFps = 0;
    };

    std::string deviceName;
    std::string address;
    uint16_t port = 0;
    std::string user;
    std::vector<std::string> codecs;  // "h264", "mpeg4", "mjpeg"
    uint32_t channels = 0;
    std::vector<Size> resolutions;
    std::vector<uint32_t> frameRates;  // fps, ascending
    uint32_t preferredFps = 0;         // 0: none named
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    bool ptz = false;
    // The named properties of id 1, in the order written: driver parameters 1 to 9.
    std::vector<std::pair<std::string, std::string>> parameters;
    // Other named properties (the audio parameters).
    std::vector<std::pair<std::string, std::string>> extras;

    // The value of a driver parameter by name; empty for "(none)" or absent.
    std::string Parameter(const std::string& name) const;
};

// Frames per second of a host rate value (an interval in ms, or a raw rate
// with the bits 0x70000000).
uint32_t FpsOfHostRate(uint32_t value);

ProbeReport ReportOf(const host::CapabilityRecorder& recorder);
std::string FormatReportText(const ProbeReport& report);
std::string FormatReportJson(const ProbeReport& report);
// The device as a recorder adds it: `base` (address, credentials, library)
// with the codec (H.264 first, then MPEG-4, then MJPEG), channel and alarm
// counts, the device name as model, and the driver parameters.
DeviceOptions DeviceOf(const ProbeReport& report, const DeviceOptions& base);

}  // namespace dravnel::cli
