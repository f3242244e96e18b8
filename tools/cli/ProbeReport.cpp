#include "tools/cli/ProbeReport.h"

#include <algorithm>
#include <cstdio>

namespace dravnel::cli {

namespace {

constexpr uint32_t kRawRateBits = 0x70000000;

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const auto& part : parts) out += (out.empty() ? "" : separator) + part;
    return out;
}

std::string Plural(uint32_t n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

}  // namespace

std::string ProbeReport::Parameter(const std::string& name) const {
    for (const auto& [key, value] : parameters)
        if (key == name) return value == "(none)" ? std::string() : value;
    return {};
}

uint32_t FpsOfHostRate(uint32_t value) {
    if ((value & kRawRateBits) == kRawRateBits) return value & ~kRawRateBits;
    if (value == 0) return 0;
    return (1000 + value / 2) / value;
}

ProbeReport ReportOf(const host::CapabilityRecorder& recorder) {
    ProbeReport report;
    report.deviceName = recorder.deviceName();
    const auto fields = recorder.connectionFields();
    const auto field = [&](uint32_t index) {
        const auto it = fields.find(index);
        return it == fields.end() ? std::string() : it->second;
    };
    report.address = field(1);
    uint32_t port = 0;
    if (ParseUnsigned(field(2), port) && port <= 65535) report.port = static_cast<uint16_t>(port);
    report.user = field(3);
    for (const auto& [id, value] : recorder.capabilities()) {
        switch (id) {
        case 0:
            report.channels = value;
            break;
        case 1:
            report.ptz = value != 0;
            break;
        case 2:
            report.inputs = value;
            break;
        case 3:
            report.outputs = value;
            break;
        case 6:
            report.codecs.push_back("mpeg4");
            break;
        case 7:
            report.codecs.push_back("mjpeg");
            break;
        case 8:
            report.codecs.push_back("h264");
            break;
        default:
            break;
        }
    }
    std::sort(report.codecs.begin(), report.codecs.end(), [](const std::string& a, const std::string& b) {
        const auto rank = [](const std::string& c) { return c == "h264" ? 0 : c == "mpeg4" ? 1 : 2; };
        return rank(a) < rank(b);
    });
    for (const auto& r : recorder.resolutions())
        report.resolutions.push_back({r.width, r.height, FpsOfHostRate(r.rate)});
    for (uint32_t rate : recorder.frameRates()) report.frameRates.push_back(FpsOfHostRate(rate));
    std::sort(report.frameRates.begin(), report.frameRates.end());
    report.preferredFps = recorder.defaultFrameRate() != 0 ? FpsOfHostRate(recorder.defaultFrameRate()) : 0;
    for (const auto& p : recorder.properties()) {
        if (p.id == 1)
            report.parameters.emplace_back(p.name, p.value);
        else
            report.extras.emplace_back(p.name, p.value);
    }
    return report;
}

std::string FormatReportText(const ProbeReport& r) {
    const std::string standard = r.Parameter("Device Video Standard") == "1" ? "NTSC" : "PAL";
    std::string out = "Device: " + r.deviceName + " at " + r.address + ":" + std::to_string(r.port) + "\n";
    const std::string real = r.Parameter("Real Device Model Name");
    const std::string firmware = r.Parameter("Firmware Version");
    out += "  Firmware: " + (firmware.empty() ? std::string("(not reported)") : firmware) +
           ", video standard: " + standard + ", OEM device group: " + r.Parameter("OEM Device Group") +
           (real.empty() ? std::string() : ", device model code: " + real) + "\n";
    out += "  Channels: " + std::to_string(r.channels) + "\n";
    out += "  Codecs: " + Join(r.codecs, ", ") + "\n";
    out += "  Resolutions:\n";
    for (const auto& s : r.resolutions)
        out += "    " + std::to_string(s.width) + "x" + std::to_string(s.height) + "  up to " +
               std::to_string(s.maxFps) + " fps\n";
    std::vector<std::string> rates;
    for (uint32_t fps : r.frameRates) rates.push_back(std::to_string(fps));
    out += "  Frame rates: " + Join(rates, " ") + " fps";
    if (r.preferredFps != 0) out += " (preferred " + std::to_string(r.preferredFps) + ")";
    out += "\n  Alarm I/O: " + Plural(r.inputs, "input") + ", " + Plural(r.outputs, "output") + "\n";
    const std::string ptz = r.Parameter("PTZ Capabilities");
    out += "  PTZ: " + std::string(r.ptz ? "yes" : "no") + (ptz.empty() ? "" : " (" + ptz + ")") + "\n";
    for (const auto& [name, value] : r.extras) out += "  " + name + ": " + value + "\n";
    out += "Driver parameters:\n";
    for (size_t i = 0; i < r.parameters.size(); ++i)
        out += "  " + std::to_string(i + 1) + " " + r.parameters[i].first + " = " + r.parameters[i].second + "\n";
    return out;
}

std::string FormatReportJson(const ProbeReport& r) {
    std::string out = "{\n";
    out += "  \"device\": {\"name\": " + JsonString(r.deviceName) + ", \"address\": " + JsonString(r.address) +
           ", \"port\": " + std::to_string(r.port) + "},\n";
    out += "  \"firmware\": " + JsonString(r.Parameter("Firmware Version")) + ",\n";
    out += "  \"video_standard\": " + JsonString(r.Parameter("Device Video Standard") == "1" ? "NTSC" : "PAL") + ",\n";
    out += "  \"oem_device_group\": " + JsonString(r.Parameter("OEM Device Group")) + ",\n";
    out += "  \"channels\": " + std::to_string(r.channels) + ",\n";
    std::vector<std::string> codecs;
    for (const auto& c : r.codecs) codecs.push_back(JsonString(c));
    out += "  \"codecs\": [" + Join(codecs, ", ") + "],\n";
    std::vector<std::string> sizes;
    for (const auto& s : r.resolutions)
        sizes.push_back("{\"width\": " + std::to_string(s.width) + ", \"height\": " + std::to_string(s.height) +
                        ", \"max_fps\": " + std::to_string(s.maxFps) + "}");
    out += "  \"resolutions\": [" + Join(sizes, ", ") + "],\n";
    std::vector<std::string> rates;
    for (uint32_t fps : r.frameRates) rates.push_back(std::to_string(fps));
    out += "  \"frame_rates\": [" + Join(rates, ", ") + "],\n";
    out += "  \"preferred_frame_rate\": " + std::to_string(r.preferredFps) + ",\n";
    out += "  \"alarm_inputs\": " + std::to_string(r.inputs) + ",\n";
    out += "  \"alarm_outputs\": " + std::to_string(r.outputs) + ",\n";
    out += "  \"ptz\": " + std::string(r.ptz ? "true" : "false") + ",\n";
    std::vector<std::string> extras;
    for (const auto& [name, value] : r.extras) extras.push_back(JsonString(name) + ": " + JsonString(value));
    out += "  \"other_properties\": {" + Join(extras, ", ") + "},\n";
    std::vector<std::string> parameters;
    for (size_t i = 0; i < r.parameters.size(); ++i)
        parameters.push_back("    {\"number\": " + std::to_string(i + 1) +
                             ", \"name\": " + JsonString(r.parameters[i].first) +
                             ", \"value\": " + JsonString(r.parameters[i].second) + "}");
    out += "  \"driver_parameters\": [\n" + Join(parameters, ",\n") + "\n  ]\n}\n";
    return out;
}

DeviceOptions DeviceOf(const ProbeReport& r, const DeviceOptions& base) {
    DeviceOptions device = base;
    device.password.clear();
    const auto has = [&](const char* codec) {
        return std::find(r.codecs.begin(), r.codecs.end(), codec) != r.codecs.end();
    };
    device.codec = has("h264") ? 3 : has("mpeg4") ? 2 : 1;
    device.channels = r.channels;
    device.inputs = r.inputs;
    device.outputs = r.outputs;
    device.model = r.deviceName;
    device.parameters.clear();
    for (size_t i = 0; i < r.parameters.size(); ++i)
        device.parameters[static_cast<int>(i + 1)] = r.parameters[i].second;
    return device;
}

}  // namespace dravnel::cli
