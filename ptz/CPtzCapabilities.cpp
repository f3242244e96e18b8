#include "ptz/CPtzCapabilities.h"

#include <cctype>

#include "web/HUtils.h"

namespace dravnel {
namespace {

constexpr std::string_view kSeparator = "=";
constexpr std::string_view kTerminators = "; \t\r\n";

char Digit(bool flag) { return flag ? '1' : '0'; }

bool ReadFlag(std::string_view text, std::string_view key) {
    return HUtils::GetValue(text, key, kSeparator, kTerminators) == "1";
}

// Reads a count the way strtol reads a number: an optional sign and the leading
// digits. A negative count means no presets (it would otherwise wrap to four
// billion slots), and a count saturates at the largest 32-bit signed value, as
// a 32-bit long does.
uint32_t ReadCount(std::string_view text, std::string_view key) {
    const std::string value = HUtils::GetValue(text, key, kSeparator, kTerminators);
    size_t i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
    constexpr uint64_t kLimit = 0x7fffffff;
    uint64_t count = 0;
    for (; i < value.size() && std::isdigit(static_cast<unsigned char>(value[i])); ++i) {
        count = count * 10 + static_cast<uint64_t>(value[i] - '0');
        if (count > kLimit) count = kLimit;
    }
    return negative ? 0 : static_cast<uint32_t>(count);
}

}  // namespace

std::string BuildCapabilityString(const CPtzCapabilities& c) {
    std::string text;
    text += "Pan=";
    text += Digit(c.pan);
    text += "; Tilt=";
    text += Digit(c.tilt);
    text += "; Zoom=";
    text += Digit(c.zoom);
    text += "; Focus=";
    text += Digit(c.focus);
    text += "; Iris=";
    text += Digit(c.iris);
    text += "; Center=";
    text += Digit(c.center && (c.pan || c.tilt));
    text += "; Unzoom=";
    text += Digit(c.unzoom && c.zoom);
    text += "; AreaZoom=";
    text += Digit(c.areaZoom && c.zoom);
    text += "; Preset=";
    text += std::to_string(c.presetCount);
    return text;
}

CPtzCapabilities ParseCapabilityString(std::string_view text) {
    CPtzCapabilities c;
    c.pan = ReadFlag(text, "Pan");
    c.tilt = ReadFlag(text, "Tilt");
    c.zoom = ReadFlag(text, "Zoom");
    c.focus = ReadFlag(text, "Focus");
    c.iris = ReadFlag(text, "Iris");
    c.areaZoom = ReadFlag(text, "AreaZoom");
    c.center = ReadFlag(text, "Center");
    c.unzoom = ReadFlag(text, "Unzoom");
    c.presetCount = ReadCount(text, "Preset");
    return c;
}

}  // namespace dravnel
