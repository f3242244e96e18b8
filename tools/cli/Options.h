// Command-line options shared by every subcommand that opens a device.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace dravnel::cli {

struct DeviceOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 80;
    std::string user;
    std::string password;
    int codec = 3;  // 1 MJPEG, 2 MPEG-4, 3 H.264
    uint32_t channels = 1;
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    std::string model;
    std::map<int, std::string> parameters;
    std::string library;      // path of libquarnel.so; empty: beside the executable
    std::string hostVersion;  // "major.minor[.build.revision]"; empty: not reported
};

// Parses argv into device options; what is not a device option is left in
// `rest` in order. Returns false with `error` set on a malformed option.
bool ParseDeviceOptions(const std::vector<std::string>& args, DeviceOptions& options, std::vector<std::string>& rest,
                        std::string& error);

// The help text of the device options.
const char* DeviceOptionsHelp();

// Strict unsigned decimal.
bool ParseUnsigned(const std::string& text, uint32_t& value);

}  // namespace dravnel::cli
