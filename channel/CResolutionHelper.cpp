#include "channel/CResolutionHelper.h"

#include <array>
#include <span>

#include "web/HUtils.h"

namespace dravnel {
namespace {

struct NamedSize {
    const char* name;
    uint32_t width;
    uint32_t height;
};

constexpr std::array<NamedSize, 4> kPalCif{
    {{"4cif", 704, 576}, {"2cif", 704, 288}, {"cif", 352, 288}, {"qcif", 176, 144}}};

constexpr std::array<NamedSize, 4> kNtscCif{
    {{"4cif", 704, 480}, {"2cif", 704, 240}, {"cif", 352, 240}, {"qcif", 176, 120}}};

// "960p" and "quadvga" share a size; a size lookup finds "960p".
constexpr std::array<NamedSize, 14> kGeneral{{{"1080p", 1920, 1080},
                                              {"uxga", 1600, 1200},
                                              {"sxga", 1280, 1024},
                                              {"xgaplus", 1152, 864},
                                              {"960p", 1280, 960},
                                              {"quadvga", 1280, 960},
                                              {"720p", 1280, 720},
                                              {"576p", 720, 576},
                                              {"480p", 720, 480},
                                              {"vga", 640, 480},
                                              {"cifp", 352, 288},
                                              {"cifn", 352, 240},
                                              {"qvga", 320, 240},
                                              {"qqvga", 160, 120}}};

// The tables in search order.
std::array<std::span<const NamedSize>, 2> Tables(bool ntsc, bool preferHd) {
    const std::span<const NamedSize> cif =
        ntsc ? std::span<const NamedSize>(kNtscCif) : std::span<const NamedSize>(kPalCif);
    const std::span<const NamedSize> general(kGeneral);
    if (preferHd) return {general, cif};
    return {cif, general};
}

// One or more decimal digits that fit 32 bits, and nothing else.
bool ParseDimension(std::string_view text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > UINT32_MAX) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

std::string CResolutionHelper::GetName(uint32_t width, uint32_t height) const {
    for (const auto& table : Tables(ntsc_, preferHd_)) {
        for (const NamedSize& entry : table) {
            if (entry.width == width && entry.height == height) return entry.name;
        }
    }
    return {};
}

bool CResolutionHelper::GetSize(std::string_view text, uint32_t& width, uint32_t& height) const {
    width = 0;
    height = 0;
    const std::string lower = HUtils::ToLower(text);
    for (const auto& table : Tables(ntsc_, preferHd_)) {
        for (const NamedSize& entry : table) {
            if (lower == entry.name) {
                width = entry.width;
                height = entry.height;
                return true;
            }
        }
    }
    const size_t x = lower.find('x');
    uint32_t w = 0;
    uint32_t h = 0;
    if (x == std::string::npos || !ParseDimension(std::string_view(lower).substr(0, x), w) ||
        !ParseDimension(std::string_view(lower).substr(x + 1), h))
        return false;
    width = w;
    height = h;
    return true;
}

}  // namespace dravnel
