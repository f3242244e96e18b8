#include "driver/DeviceSettings.h"

#include "driver/CXMLParser.h"
#include "web/HUtils.h"

namespace dravnel {
namespace {

int32_t ModeFromText(const std::string& text) {
    const std::string mode = HUtils::ToLower(text);
    if (mode == "rtpovertcp") return kRtpOverTcp;
    if (mode == "rtpoverrtsp") return kRtpOverRtsp;
    if (mode == "rtpoverudp") return kRtpOverUdp;
    if (mode == "rtpoverhttp") return kRtpOverHttp;
    return kRtpOverUdp;
}

// Digits only. A number too large for 32 bits is as unusable as a malformed
// one and gives 0 rather than a wrapped size.
int32_t NumberFromText(const std::string& text) {
    if (text.empty()) return 0;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > INT32_MAX) return 0;
    }
    return static_cast<int32_t>(value);
}

int32_t PacketSizeFromText(const std::string& text) {
    const int32_t value = NumberFromText(text);
    return value > 100 ? value : 0;
}

int32_t ReceiveBufferFromText(const std::string& text) {
    const int32_t value = NumberFromText(text);
    return value >= kMinRTPReceiveBuffer ? value : 0;
}

}  // namespace

std::string DeviceSettingsPath(IDriver* driver) {
    if (!driver) return {};
    std::string path = driver->GetHostDirectory();
    if (path.empty()) return {};
    if (path.back() != '/') path += '/';
    return path + driver->GetDriverName() + ".xml";
}

DeviceSettings ReadDeviceSettings(CXMLParser& file, const std::string& address, uint16_t port) {
    // XPath 1.0 string literals cannot escape a quote: an address holding one
    // cannot name a section, and must not be spliced into the expression.
    std::string section;
    if (address.find('"') == std::string::npos) {
        const std::string device =
            HUtils::Format("Configuration/Device[@address=\"%s\"][@port=\"%hu\"]", address.c_str(), port);
        if (file.NodeExists(device)) section = device;
    }
    if (section.empty()) section = "Configuration/Default";

    DeviceSettings settings;
    settings.RTPMode = ModeFromText(file.GetText(section + "/RTPMode"));
    settings.RTPPacketSize = PacketSizeFromText(file.GetText(section + "/RTPPacketSize"));
    settings.RTPReceiveBuffer = ReceiveBufferFromText(file.GetText(section + "/RTPReceiveBuffer"));
    return settings;
}

DeviceSettings ReadDeviceSettings(IDriver* driver) {
    const std::string path = DeviceSettingsPath(driver);
    const DEVICE_INFO* device = driver ? driver->GetDeviceInfo() : nullptr;
    CXMLParser file;
    if (path.empty() || !device || !file.Load(path)) return {};
    return ReadDeviceSettings(file, device->Address, device->Port);
}

}  // namespace dravnel
