#include "sim/device/SizeTable.h"

#include <cctype>

namespace dravnel::sim {

namespace {

struct NamedSize {
    const char* name;
    FrameSize size;
};

constexpr NamedSize kPalCif[] = {{"4cif", {704, 576}}, {"2cif", {704, 288}}, {"cif", {352, 288}}, {"qcif", {176, 144}}};
constexpr NamedSize kNtscCif[] = {
    {"4cif", {704, 480}}, {"2cif", {704, 240}}, {"cif", {352, 240}}, {"qcif", {176, 120}}};
constexpr NamedSize kGeneral[] = {{"1080p", {1920, 1080}},  {"uxga", {1600, 1200}}, {"sxga", {1280, 1024}},
                                  {"xgaplus", {1152, 864}}, {"960p", {1280, 960}},  {"quadvga", {1280, 960}},
                                  {"720p", {1280, 720}},    {"576p", {720, 576}},   {"480p", {720, 480}},
                                  {"vga", {640, 480}},      {"cifp", {352, 288}},   {"cifn", {352, 240}},
                                  {"qvga", {320, 240}},     {"qqvga", {160, 120}}};

template <size_t N>
const NamedSize* FindName(const NamedSize (&table)[N], std::string_view lower) {
    for (const NamedSize& entry : table)
        if (lower == entry.name) return &entry;
    return nullptr;
}

template <size_t N>
const NamedSize* FindSize(const NamedSize (&table)[N], FrameSize size) {
    for (const NamedSize& entry : table)
        if (entry.size == size) return &entry;
    return nullptr;
}

std::optional<unsigned> Side(std::string_view digits) {
    if (digits.empty() || digits.size() > 4) return std::nullopt;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0) return std::nullopt;
    return value;
}

}  // namespace

std::optional<FrameSize> SizeTable::SizeOfName(std::string_view name, bool ntsc) {
    if (name.size() > 16) return std::nullopt;
    std::string lower;
    for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const NamedSize* entry = ntsc ? FindName(kNtscCif, lower) : FindName(kPalCif, lower);
    if (!entry) entry = FindName(kGeneral, lower);
    if (!entry) return std::nullopt;
    return entry->size;
}

std::string SizeTable::NameOfSize(FrameSize size, bool ntsc, bool preferGeneral) {
    const NamedSize* cif = ntsc ? FindSize(kNtscCif, size) : FindSize(kPalCif, size);
    const NamedSize* general = FindSize(kGeneral, size);
    const NamedSize* entry = preferGeneral ? (general ? general : cif) : (cif ? cif : general);
    return entry ? entry->name : "";
}

std::optional<FrameSize> SizeTable::ParseDimensions(std::string_view text) {
    const size_t x = text.find('x');
    if (x == std::string_view::npos) return std::nullopt;
    auto width = Side(text.substr(0, x));
    auto height = Side(text.substr(x + 1));
    if (!width || !height) return std::nullopt;
    return FrameSize{*width, *height};
}

}  // namespace dravnel::sim
