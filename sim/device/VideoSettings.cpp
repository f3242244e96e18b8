#include "sim/device/VideoSettings.h"

#include <algorithm>
#include <cctype>

namespace dravnel::sim {

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

constexpr unsigned kRates[] = {1, 2, 3, 5, 6, 8, 10, 12, 15, 20, 25, 30};
constexpr unsigned kJpegMaxFps = 15;
constexpr unsigned kMaxBitrate = 4000;  // kbit/s
constexpr unsigned kMinBitrate = 16;
constexpr unsigned kMaxGov = 1000;

std::string RateList(unsigned max) {
    std::string list;
    for (unsigned rate : kRates) {
        if (rate > max) break;
        if (!list.empty()) list += '|';
        list += std::to_string(rate);
    }
    return list;
}

// Strict unsigned decimal, at most 9 digits.
std::optional<unsigned> Number(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

std::optional<unsigned> NumberParam(const QueryParams& params, const char* name) {
    const auto it = params.find(name);
    if (it == params.end()) return std::nullopt;
    return Number(it->second);
}

std::vector<std::string_view> SplitList(std::string_view list) {
    std::vector<std::string_view> entries;
    size_t start = 0;
    for (;;) {
        const size_t bar = list.find('|', start);
        entries.push_back(list.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
        if (bar == std::string_view::npos) return entries;
        start = bar + 1;
    }
}

bool ListHas(std::string_view list, std::string_view value) {
    for (std::string_view entry : SplitList(list))
        if (entry == value) return true;
    return false;
}

std::optional<RtspCodec> CodecOf(std::string_view value) {
    std::string upper;
    for (char c : value) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.rfind("H264", 0) == 0) return RtspCodec::H264;
    if (upper.rfind("MPEG4", 0) == 0) return RtspCodec::MPEG4;
    if (upper == "JPEG" || upper == "MJPEG") return RtspCodec::JPEG;
    return std::nullopt;
}

// "ch<N>_strm<M>_<name>"
struct Key {
    unsigned channel = 0, stream = 0;
    std::string name;
};

std::optional<Key> ParseKey(std::string_view key) {
    const auto digits = [&](size_t& at) -> std::optional<unsigned> {
        size_t end = at;
        while (end < key.size() && end - at < 9 && std::isdigit(static_cast<unsigned char>(key[end]))) ++end;
        auto value = Number(key.substr(at, end - at));
        at = end;
        return value;
    };
    if (key.rfind("ch", 0) != 0) return std::nullopt;
    size_t at = 2;
    auto channel = digits(at);
    if (!channel || key.compare(at, 5, "_strm") != 0) return std::nullopt;
    at += 5;
    auto stream = digits(at);
    if (!stream || at + 1 >= key.size() || key[at] != '_') return std::nullopt;
    return Key{*channel, *stream, std::string(key.substr(at + 1))};
}

std::string KeyText(unsigned channel, unsigned stream, std::string_view name) {
    return "ch" + std::to_string(channel) + "_strm" + std::to_string(stream) + "_" + std::string(name);
}

}  // namespace

VideoSettings::VideoSettings(DeviceProfile profile, unsigned channels, bool ntsc)
    : profile_(profile), channels_(std::clamp(channels, 1u, kMaxChannels)), ntsc_(ntsc) {
    const unsigned rate = ntsc ? 30 : 25;
    const std::string fps = std::to_string(rate);
    Entries main, second;
    if (profile == DeviceProfile::Standard) {
        const std::string sizes = ntsc ? "1080P|SXGA|960P|720P|4CIF|2CIF|CIF|QCIF|480P|VGA|CIFN|QVGA|QQVGA"
                                       : "1080P|SXGA|960P|720P|4CIF|2CIF|CIF|QCIF|576P|VGA|CIFP|QVGA|QQVGA";
        main = {{"codec", "H264MP"},
                {"res", "4CIF"},
                {"bitrate", "3000"},
                {"ratecontrol", "vbr"},
                {"fps", fps},
                {"gov", fps},
                {"maxbr", std::to_string(kMaxBitrate)},
                {"maxfps", fps},
                {"fps_list", RateList(rate)},
                {"res_list", sizes},
                {"codec_list", "H264MP|MPEG4SP"}};
        second = {{"codec", "JPEG"},
                  {"res", "CIF"},
                  {"quality", "70"},
                  {"fps", "10"},
                  {"maxfps", std::to_string(kJpegMaxFps)},
                  {"fps_list", RateList(kJpegMaxFps)},
                  {"res_list", sizes},
                  {"codec_list", "JPEG"}};
    } else {
        const std::string sizes =
            ntsc ? "1920x1080|1280x1024|1280x960|1280x720|720x480|704x480|640x480|352x240|320x240|176x120"
                 : "1920x1080|1280x1024|1280x960|1280x720|720x576|704x576|640x480|352x288|320x240|176x144";
        main = {{"codec", "H264MP"},
                {"res", "1280x720"},
                {"bitrate", "3000"},
                {"ratecontrol", "vbr"},
                {"fps", fps},
                {"gov", fps},
                {"gov_struct", "0"},
                {"gop_struct", "0"},
                {"maxbr", std::to_string(kMaxBitrate)},
                {"maxfps", fps},
                {"fps_list", RateList(rate)},
                {"res_list", sizes},
                {"codec_list", "H264BP|H264MP"}};
        second = {{"en", "1"},
                  {"codec", "MJPEG"},
                  {"res", "640x480"},
                  {"bitrate", "2000"},
                  {"fps", "10"},
                  {"maxbr", std::to_string(kMaxBitrate)},
                  {"maxfps", std::to_string(kJpegMaxFps)},
                  {"fps_list", RateList(kJpegMaxFps)},
                  {"res_list", sizes},
                  {"codec_list", "MJPEG"}};
    }
    state_.assign(channels_, Channel{Stream{main, {}}, Stream{second, {}}});
}

bool VideoSettings::HasStream(unsigned channel, unsigned stream) const {
    return channel >= 1 && channel <= channels_ && stream >= 1 && stream <= kStreamsPerChannel;
}

std::optional<std::string> VideoSettings::Lookup(const Stream& stream, std::string_view name) {
    for (const auto& [key, value] : stream.values)
        if (key == name) return value;
    return std::nullopt;
}

void VideoSettings::Store(Stream& stream, const std::string& name, const std::string& value) {
    for (auto& entry : stream.values) {
        if (entry.first == name) {
            entry.second = value;
            return;
        }
    }
    stream.values.emplace_back(name, value);
}

std::optional<FrameSize> VideoSettings::SizeOf(std::string_view res) const {
    return profile_ == DeviceProfile::ModelB ? SizeTable::ParseDimensions(res) : SizeTable::SizeOfName(res, ntsc_);
}

std::vector<std::pair<std::string, std::string>> VideoSettings::SizeEntries(const Channel& channel,
                                                                            unsigned stream) const {
    Entries entries;
    if (profile_ != DeviceProfile::ModelB) return entries;
    const Stream& own = channel[stream - 1];
    const auto list = Lookup(own, "res_list");
    if (!list) return entries;
    // A later stream is scaled from the first one's picture.
    std::optional<FrameSize> limit;
    if (stream > 1)
        if (auto first = Lookup(channel[0], "res")) limit = SizeOf(*first);
    for (std::string_view entry : SplitList(*list)) {
        const auto size = SizeTable::ParseDimensions(entry);
        if (!size) continue;
        const std::string name = SizeTable::NameOfSize(*size, ntsc_, true);
        if (name.empty() || own.hidden.count(name) || Lookup(own, name)) continue;
        if (std::any_of(entries.begin(), entries.end(), [&](const auto& e) { return e.first == name; })) continue;
        entries.emplace_back(name, !limit || size->FitsInto(*limit) ? "1" : "0");
    }
    return entries;
}

std::optional<std::string> VideoSettings::ValueIn(const Channel& channel, unsigned stream,
                                                  std::string_view name) const {
    const Stream& own = channel[stream - 1];
    if (auto value = Lookup(own, name)) return value;
    for (auto& [key, value] : SizeEntries(channel, stream))
        if (key == name) return value;
    return std::nullopt;
}

std::optional<std::string> VideoSettings::Value(unsigned channel, unsigned stream, std::string_view name) const {
    if (!HasStream(channel, stream)) return std::nullopt;
    return ValueIn(state_[channel - 1], stream, name);
}

bool VideoSettings::SetValue(unsigned channel, unsigned stream, const std::string& name, const std::string& value) {
    if (!HasStream(channel, stream) || name.empty()) return false;
    Stream& own = state_[channel - 1][stream - 1];
    Store(own, name, value);
    own.hidden.erase(name);
    return true;
}

bool VideoSettings::RemoveValue(unsigned channel, unsigned stream, const std::string& name) {
    if (!HasStream(channel, stream)) return false;
    Stream& own = state_[channel - 1][stream - 1];
    std::erase_if(own.values, [&](const auto& entry) { return entry.first == name; });
    own.hidden.insert(name);
    return true;
}

bool VideoSettings::IsReadOnly(std::string_view name) const {
    static constexpr std::string_view kLimits[] = {"maxbr", "maxfps", "fps_list", "res_list", "codec_list"};
    if (std::find(std::begin(kLimits), std::end(kLimits), name) != std::end(kLimits)) return true;
    return SizeTable::SizeOfName(name, ntsc_).has_value();  // per-size availability
}

std::string VideoSettings::CheckValue(const Channel& channel, unsigned stream, const std::string& name,
                                      const std::string& value) const {
    const auto limit = [&](const char* key) { return Number(ValueIn(channel, stream, key).value_or("")); };
    if (name == "codec") {
        const auto list = ValueIn(channel, stream, "codec_list");
        if ((list && !ListHas(*list, value)) || !CodecOf(value)) return "not a codec of codec_list";
    } else if (name == "res") {
        const auto size = SizeOf(value);
        const auto list = ValueIn(channel, stream, "res_list");
        if (!size || (list && !ListHas(*list, value))) return "not a size of res_list";
        const auto available = ValueIn(channel, stream, SizeTable::NameOfSize(*size, ntsc_, true));
        if (profile_ == DeviceProfile::ModelB && stream > 1 && available && *available != "1")
            return "larger than stream 1 allows";
    } else if (name == "bitrate") {
        const auto n = Number(value);
        const unsigned max = limit("maxbr").value_or(100000);
        if (!n || *n < kMinBitrate || *n > max)
            return "not a bit rate from " + std::to_string(kMinBitrate) + " to " + std::to_string(max);
    } else if (name == "ratecontrol") {
        if (value != "cbr" && value != "vbr") return "not cbr or vbr";
    } else if (name == "fps") {
        const auto n = Number(value);
        const auto list = ValueIn(channel, stream, "fps_list");
        bool listed = false;
        if (n && list)
            for (std::string_view rate : SplitList(*list)) listed = listed || Number(rate) == n;
        const bool allowed = list ? listed : n && *n >= 1 && *n <= limit("maxfps").value_or(60);
        if (!allowed) return "not a frame rate of fps_list";
    } else if (name == "gov") {
        const auto n = Number(value);
        if (!n || *n < 1 || *n > kMaxGov) return "not a GOV length from 1 to " + std::to_string(kMaxGov);
    } else if (name == "quality") {
        const auto n = Number(value);
        if (!n || *n < 1 || *n > 100) return "not a quality from 1 to 100";
    } else if (name == "en" || name == "gov_struct" || name == "gop_struct") {
        if (value != "0" && value != "1") return "not 0 or 1";
    }
    return {};
}

VideoSetResult VideoSettings::ApplySet(const QueryParams& params) {
    VideoSetResult result;
    const auto ch = NumberParam(params, "ch");
    if (!ch || *ch < 1 || *ch > channels_) {
        result.reason = "ch is missing or names no channel";
        return result;
    }
    std::optional<unsigned> only;
    if (profile_ == DeviceProfile::ModelB && params.count("strm")) {
        only = NumberParam(params, "strm");
        if (!only || *only < 1 || *only > kStreamsPerChannel) {
            result.reason = "strm names no stream";
            return result;
        }
    }
    Channel next = state_[*ch - 1];
    std::vector<Key> staged;
    for (const auto& [param, value] : params) {
        if (param == "app" || param == "ch" || param == "strm") continue;
        const auto key = ParseKey(param);
        if (!key || key->channel != *ch || key->stream < 1 || key->stream > kStreamsPerChannel ||
            (only && key->stream != *only)) {
            result.reason = param + ": not a value of this channel" + (only ? " and stream" : "");
            return result;
        }
        if (!ValueIn(next, key->stream, key->name)) {
            result.reason = param + ": not reported by the device";
            return result;
        }
        if (IsReadOnly(key->name)) {
            result.reason = param + ": read-only";
            return result;
        }
        Store(next[key->stream - 1], key->name, value);
        staged.push_back(*key);
    }
    // Checked against the whole new state: the last value of a repeated key
    // counts, and stream 2's size against stream 1's new size.
    for (const Key& key : staged) {
        const std::string value = *Lookup(next[key.stream - 1], key.name);
        const std::string reason = CheckValue(next, key.stream, key.name, value);
        if (!reason.empty()) {
            result.reason = KeyText(*ch, key.stream, key.name) + "=" + value + ": " + reason;
            return result;
        }
    }
    for (unsigned stream = 1; stream <= kStreamsPerChannel; ++stream) {
        if (next[stream - 1].values == state_[*ch - 1][stream - 1].values) continue;
        if (std::string why = ConfigOf(next, stream).Validate(); !why.empty()) {
            result.reason = "stream " + std::to_string(stream) + " cannot be encoded: " + why;
            return result;
        }
        result.changed.emplace_back(*ch, stream);
    }
    state_[*ch - 1] = std::move(next);
    result.accepted = true;
    return result;
}

void VideoSettings::AppendEntries(std::string& body, unsigned channel, unsigned stream) const {
    const Channel& own = state_[channel - 1];
    for (const auto& [name, value] : own[stream - 1].values) body += "&" + KeyText(channel, stream, name) + "=" + value;
    for (const auto& [name, value] : SizeEntries(own, stream))
        body += "&" + KeyText(channel, stream, name) + "=" + value;
}

std::string VideoSettings::AnswerGet(const QueryParams& params) const {
    const auto ch = NumberParam(params, "ch");
    if (!ch || *ch < 1 || *ch > channels_) return "res=400";
    unsigned first = 1, last = kStreamsPerChannel;
    if (profile_ == DeviceProfile::ModelB && params.count("strm")) {
        const auto strm = NumberParam(params, "strm");
        if (!strm || *strm < 1 || *strm > kStreamsPerChannel) return "res=400";
        first = last = *strm;
    }
    std::string body = "res=200&total_ch=" + std::to_string(channels_) +
                       "&total_strm=" + std::to_string(channels_ * kStreamsPerChannel);
    for (unsigned stream = first; stream <= last; ++stream) AppendEntries(body, *ch, stream);
    return body;
}

std::string VideoSettings::RtspPath(unsigned channel, unsigned stream) const {
    if (!HasStream(channel, stream)) return {};
    return StreamPath(channel, profile_ == DeviceProfile::ModelB ? stream - 1 : stream);
}

RtspStreamConfig VideoSettings::ConfigOf(const Channel& channel, unsigned stream) const {
    const Stream& own = channel[stream - 1];
    const auto number = [&](const char* name) { return Number(Lookup(own, name).value_or("")); };
    RtspStreamConfig config;
    config.codec = CodecOf(Lookup(own, "codec").value_or("")).value_or(stream == 1 ? RtspCodec::H264 : RtspCodec::JPEG);
    if (auto size = SizeOf(Lookup(own, "res").value_or(""))) {
        config.width = size->width;
        config.height = size->height;
    }
    config.fps = number("fps").value_or(config.fps);
    config.gop = number("gov").value_or(config.fps);
    config.bitrateKbps = number("bitrate").value_or(config.bitrateKbps);
    config.jpegQuality = number("quality").value_or(config.jpegQuality);
    return config;
}

RtspStreamConfig VideoSettings::RtspConfig(unsigned channel, unsigned stream) const {
    if (!HasStream(channel, stream)) return {};
    return ConfigOf(state_[channel - 1], stream);
}

}  // namespace dravnel::sim
