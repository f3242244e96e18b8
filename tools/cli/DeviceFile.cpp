#include "tools/cli/DeviceFile.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace dravnel::cli {

namespace {

constexpr size_t kMaxFileSize = 64 * 1024;
constexpr uint32_t kMaxParameter = 64;

const char* CodecName(int codec) {
    switch (codec) {
    case 1:
        return "mjpeg";
    case 2:
        return "mpeg4";
    default:
        return "h264";
    }
}

bool OneLine(const std::string& value) { return value.find_first_of("\r\n") == std::string::npos; }

}  // namespace

bool FormatDeviceFile(const DeviceOptions& device, std::string& text, std::string& error) {
    std::ostringstream out;
    out << "# quarnel device file: the device and the driver parameters a recorder keeps for it.\n"
        << "# Written by quarnel probe --save; read by --device FILE. The password is not kept.\n";
    const auto line = [&](const std::string& name, const std::string& value) {
        if (!OneLine(value)) {
            error = name + " holds a line break";
            return false;
        }
        out << name << '=' << value << '\n';
        return true;
    };
    if (!line("address", device.address) || !line("port", std::to_string(device.port)) || !line("user", device.user) ||
        !line("model", device.model) || !line("codec", CodecName(device.codec)) ||
        !line("channels", std::to_string(device.channels)) || !line("inputs", std::to_string(device.inputs)) ||
        !line("outputs", std::to_string(device.outputs)))
        return false;
    for (const auto& [number, value] : device.parameters)
        if (!line("param" + std::to_string(number), value)) return false;
    text = out.str();
    return true;
}

bool ParseDeviceFile(std::string_view text, DeviceOptions& device, std::string& error) {
    DeviceOptions parsed = device;
    size_t lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        const auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        };
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) return fail("not name=value");
        const std::string name(line.substr(0, eq));
        const std::string value(line.substr(eq + 1));
        const auto number = [&](uint32_t& out, uint32_t max) {
            if (ParseUnsigned(value, out) && out <= max) return true;
            return fail(name + ": '" + value + "' is not a number up to " + std::to_string(max));
        };
        uint32_t n = 0;
        if (name == "address") {
            if (value.empty()) return fail("address is empty");
            parsed.address = value;
        } else if (name == "port") {
            if (!number(n, 65535)) return false;
            parsed.port = static_cast<uint16_t>(n);
        } else if (name == "user") {
            parsed.user = value;
        } else if (name == "model") {
            parsed.model = value;
        } else if (name == "codec") {
            if (value == "h264")
                parsed.codec = 3;
            else if (value == "mpeg4")
                parsed.codec = 2;
            else if (value == "mjpeg")
                parsed.codec = 1;
            else
                return fail("codec: '" + value + "' is not h264, mpeg4 or mjpeg");
        } else if (name == "channels") {
            if (!number(parsed.channels, 256)) return false;
        } else if (name == "inputs") {
            if (!number(parsed.inputs, 256)) return false;
        } else if (name == "outputs") {
            if (!number(parsed.outputs, 256)) return false;
        } else if (name.rfind("param", 0) == 0 && ParseUnsigned(name.substr(5), n) && n >= 1 && n <= kMaxParameter) {
            parsed.parameters[static_cast<int>(n)] = value;
        } else {
            return fail("unknown name '" + name + "'");
        }
    }
    device = std::move(parsed);
    return true;
}

bool SaveDeviceFile(const std::string& path, const DeviceOptions& device, std::string& error) {
    std::string text;
    if (!FormatDeviceFile(device, text, error)) return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file || !(file << text) || !file.flush()) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool LoadDeviceFile(const std::string& path, DeviceOptions& device, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::string text;
    text.resize(kMaxFileSize + 1);
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    if (text.size() > kMaxFileSize) {
        error = path + ": larger than " + std::to_string(kMaxFileSize) + " bytes, not a device file";
        return false;
    }
    if (!ParseDeviceFile(text, device, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

}  // namespace dravnel::cli
