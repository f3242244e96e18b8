#include "channel/StreamValues.h"

#include <algorithm>

#include "web/HUtils.h"

namespace dravnel {
namespace {

constexpr std::string_view kSeparator = "=";
constexpr std::string_view kTerminators = "&\r\n";

// "ch" digits "_strm" digits "_" at the start of the name.
bool IsStreamEntryName(std::string_view name) {
    size_t i = 0;
    const auto literal = [&](std::string_view text) {
        if (name.substr(i, text.size()) != text) return false;
        i += text.size();
        return true;
    };
    const auto digits = [&] {
        const size_t start = i;
        while (i < name.size() && name[i] >= '0' && name[i] <= '9') ++i;
        return i > start;
    };
    return literal("ch") && digits() && literal("_strm") && digits() && literal("_");
}

}  // namespace

std::string StreamPrefix(unsigned channelIndex, unsigned stream) {
    return HUtils::Format("ch%u_strm%u_", channelIndex + 1, stream);
}

uint32_t ChannelFrameRate(uint32_t frameInterval) {
    if (frameInterval == 0) return 1;
    uint64_t rate;
    if ((frameInterval & kFrameRateMarkerMask) == kFrameRateMarker) {
        rate = frameInterval & 0x0FFFu;
    } else {
        rate = (1000ull + frameInterval / 2) / frameInterval;
    }
    // Intervals above two seconds, and a marked rate of 0, would ask the
    // device for 0 frames per second.
    return static_cast<uint32_t>(std::max<uint64_t>(rate, 1));
}

uint32_t DeviceMaxFrameRate(std::string_view reply, std::string_view prefix, bool fromList) {
    const std::string prefixText(prefix);
    if (fromList) {
        const auto entries = HUtils::GetListValue(reply, prefixText + "fps_list", kSeparator, kTerminators, "|");
        if (!entries.empty()) {
            uint32_t largest = 0;
            for (const std::string& entry : entries) largest = std::max(largest, HUtils::ParseDecimal(entry));
            return largest;
        }
    }
    return HUtils::GetNumericValue(reply, prefixText + "maxfps", kSeparator, kTerminators);
}

uint32_t WantedFrameRate(uint32_t channelRate, uint32_t deviceMax) {
    return deviceMax != 0 && deviceMax < channelRate ? deviceMax : channelRate;
}

uint32_t DeviceFrameRate(std::string_view reply, std::string_view prefix, uint32_t channelRate, bool fromList) {
    if (fromList) {
        const auto entries =
            HUtils::GetListValue(reply, std::string(prefix) + "fps_list", kSeparator, kTerminators, "|");
        uint32_t below = 0, smallest = 0;
        for (const std::string& entry : entries) {
            const uint32_t rate = HUtils::ParseDecimal(entry);
            if (rate == 0) continue;
            if (rate <= channelRate) below = std::max(below, rate);
            smallest = smallest == 0 ? rate : std::min(smallest, rate);
        }
        if (below != 0) return below;
        if (smallest != 0) return smallest;
    }
    return WantedFrameRate(channelRate, DeviceMaxFrameRate(reply, prefix, false));
}

std::string BitrateForQuality(std::string_view maxbr, uint32_t width, uint32_t quality) {
    uint64_t m = HUtils::ParseDecimal(maxbr) / 100;
    if (m == 0) {
        if (width >= 1600)
            m = 60;
        else if (width >= 720)
            m = 40;
        else if (width >= 640)
            m = 30;
        else
            m = 20;
    }
    const uint64_t q = std::clamp<uint32_t>(quality, 1, 100);
    // round(n / 99) with n = 99 + (q - 1)(m - 1), halves up, in integers.
    const uint64_t n = 99 + (q - 1) * (m - 1);
    const uint64_t steps = (2 * n + 99) / 198;
    return std::to_string(steps * 100);
}

std::string DescribeConfiguration(std::string_view reply) {
    std::string kept;
    size_t start = 0;
    while (start <= reply.size()) {
        size_t end = reply.find_first_of(kTerminators, start);
        if (end == std::string_view::npos) end = reply.size();
        const std::string_view entry = reply.substr(start, end - start);
        const size_t equals = entry.find('=');
        const std::string_view name = entry.substr(0, equals);
        const std::string_view value = equals == std::string_view::npos ? std::string_view() : entry.substr(equals + 1);
        if (IsStreamEntryName(name) && name.find("max") == std::string_view::npos &&
            value.find('|') == std::string_view::npos) {
            kept += '&';
            kept += entry;
        }
        start = end + 1;
    }
    return kept;
}

}  // namespace dravnel
