#include "rtsp/CSDPResponseParser.h"

#include "rtsp/Base64.h"
#include "web/HUtils.h"

namespace dravnel {

SdpLineType CSDPResponseParser::Classify(std::string_view line) {
    if (line.empty()) return SdpLineType::Empty;
    const std::string lower = HUtils::ToLower(line);
    if (lower.starts_with("m=")) return SdpLineType::Media;
    if (lower.starts_with("c=in")) return SdpLineType::Connection;
    if (lower.starts_with("a=control")) return SdpLineType::Control;
    if (lower.starts_with("a=fmtp")) return SdpLineType::Fmtp;
    if (lower.starts_with("a=rtpmap")) return SdpLineType::RtpMap;
    return SdpLineType::Other;
}

std::vector<uint8_t> CSDPResponseParser::HexDecode(std::string_view text, size_t maxBytes) {
    if ((text.size() + 1) / 2 > maxBytes) return {};
    const auto nibble = [](char c) -> uint8_t {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
        if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
        return 0;
    };
    std::vector<uint8_t> out;
    out.reserve((text.size() + 1) / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        if (i + 1 < text.size())
            out.push_back(static_cast<uint8_t>(nibble(text[i]) << 4 | nibble(text[i + 1])));
        else
            out.push_back(nibble(text[i]));
    }
    return out;
}

MediaDescription* CSDPResponseParser::Current() {
    if (kind_ == MediaKind::None) return nullptr;
    return &media[static_cast<size_t>(kind_) - 1];
}

bool CSDPResponseParser::Parse(std::string_view body) {
    for (auto& m : media) m.Clear();
    codecConfig.Clear();
    kind_ = MediaKind::None;

    size_t position = 0;
    while (position < body.size()) {
        position = body.find_first_not_of("\r\n", position);
        if (position == std::string_view::npos) break;
        size_t end = body.find_first_of("\r\n", position);
        if (end == std::string_view::npos) end = body.size();
        const std::string_view line = body.substr(position, end - position);
        position = end;

        bool ok = true;
        switch (Classify(line)) {
        case SdpLineType::Media:
            ok = OnMedia(line);
            break;
        case SdpLineType::Connection:
            ok = OnConnection(line);
            break;
        case SdpLineType::Control:
            ok = OnControl(line);
            break;
        case SdpLineType::Fmtp:
            ok = OnFmtp(line);
            break;
        case SdpLineType::RtpMap:
            ok = OnRtpMap(line);
            break;
        case SdpLineType::Empty:
        case SdpLineType::Other:
            break;
        }
        if (!ok) return false;
    }
    return true;
}

// m=<media> <port> <proto> <fmt> ...
bool CSDPResponseParser::OnMedia(std::string_view line) {
    const std::string value = HUtils::GetValue(line, "m", "=", "\r\n");
    if (value.empty()) return false;
    const auto words = HUtils::Split(value, ' ');
    if (words.empty()) return true;
    const std::string name = HUtils::ToLower(words[0]);
    if (name == "video")
        kind_ = MediaKind::Video;
    else if (name == "audio")
        kind_ = MediaKind::Audio;
    else if (name == "metadata" || name == "data" || name == "application")
        kind_ = MediaKind::Data;
    else
        return true;  // an unknown media keeps the kind before it
    if (words.size() >= 3) {
        Current()->port = HUtils::ParseDecimal16(words[1]);
        Current()->protocol = words[2];
    }
    return true;
}

// c=IN IP4 <address>[/<ttl>[/<count>]]   or   c=IN IP6 <address>
bool CSDPResponseParser::OnConnection(std::string_view line) {
    const auto words = HUtils::Split(HUtils::GetValue(line, "c", "=", "\r\n"), ' ');
    if (words.size() < 3 || words[0] != "IN") return false;
    if (words[1] == "IP6") return true;
    if (words[1] != "IP4") return false;
    const std::string address = words[2].substr(0, words[2].find('/'));
    if (Current()) Current()->connectionAddress = address;
    return !address.empty();
}

bool CSDPResponseParser::OnControl(std::string_view line) {
    static constexpr std::string_view kKey = "a=control:";
    const size_t at = line.find(kKey);
    const std::string value = at == std::string_view::npos ? std::string() : std::string(line.substr(at + kKey.size()));
    // A session-level control before any m= line has no media to go to.
    if (Current()) Current()->control = value;
    return !value.empty();
}

bool CSDPResponseParser::OnFmtp(std::string_view line) {
    switch (kind_) {
    case MediaKind::Video:
        return OnVideoFmtp(line);
    case MediaKind::Audio:
    case MediaKind::Data:
        return true;
    case MediaKind::None:
        break;
    }
    return false;
}

// a=rtpmap:<payload type> <encoding name>/<clock rate>[/<parameters>]
bool CSDPResponseParser::OnRtpMap(std::string_view line) {
    const auto words = HUtils::Split(HUtils::GetValue(line, "a=rtpmap", ":", "\r\n"), ' ');
    if (words.size() < 2) return false;
    if (Current()) Current()->rtpmap = words[1];
    return true;
}

// H.264 (RFC 6184): sprop-parameter-sets=<SPS base64>,<PPS base64>[,...]
// MPEG-4 (RFC 3016): config=<hexadecimal VOL header>
bool CSDPResponseParser::OnVideoFmtp(std::string_view line) {
    const std::string sets = HUtils::GetValue(line, "sprop-parameter-sets", "=", " ;\r\n");
    if (!sets.empty()) {
        const auto entries = HUtils::Split(sets, ',');
        if (entries.size() < 2) return false;
        codecConfig.sps = Base64Decode(entries[0], kMaxParameterSetBytes);
        codecConfig.pps = Base64Decode(entries[1], kMaxParameterSetBytes);
        return !codecConfig.sps.empty() && !codecConfig.pps.empty();
    }
    const std::string config = HUtils::GetValue(line, "config", "=", " ;\r\n");
    if (config.empty()) return false;
    codecConfig.config = config.find('=') != std::string::npos ? Base64Decode(config, kMaxParameterSetBytes)
                                                               : HexDecode(config, kMaxParameterSetBytes);
    return !codecConfig.config.empty();
}

}  // namespace dravnel
