#include "rtsp/CRTSPResponseParser.h"

#include <algorithm>
#include <cstdint>

#include "rtsp/CSDPResponseParser.h"
#include "web/HUtils.h"

namespace dravnel {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Reads the few scanf-like patterns of header lines: literal text where one
// blank matches any run of white space, words and unsigned 32-bit numbers
// (which skip white space first, take an optional sign and saturate).
class Scanner {
public:
    static constexpr uint64_t kSaturated = 0xFFFFFFFFu;

    explicit Scanner(std::string_view text) : text_(text) {}

    bool Literal(std::string_view literal) {
        for (char c : literal) {
            if (IsSpace(c)) {
                SkipSpace();
            } else {
                if (i_ >= text_.size() || text_[i_] != c) return false;
                ++i_;
            }
        }
        return true;
    }

    bool Word(size_t maxLength, std::string& out) {
        SkipSpace();
        const size_t start = i_;
        while (i_ < text_.size() && !IsSpace(text_[i_]) && i_ - start < maxLength) ++i_;
        if (i_ == start) return false;
        out.assign(text_.substr(start, i_ - start));
        return true;
    }

    bool Unsigned(uint32_t& out) {
        SkipSpace();
        bool negative = false;
        if (i_ < text_.size() && (text_[i_] == '+' || text_[i_] == '-')) negative = text_[i_++] == '-';
        const size_t start = i_;
        uint64_t value = 0;
        for (; i_ < text_.size() && text_[i_] >= '0' && text_[i_] <= '9'; ++i_)
            value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(text_[i_] - '0'), kSaturated);
        if (i_ == start) return false;
        out = negative && value != kSaturated ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
        return true;
    }

private:
    void SkipSpace() {
        while (i_ < text_.size() && IsSpace(text_[i_])) ++i_;
    }

    std::string_view text_;
    size_t i_ = 0;
};

// Lines of a reply. A line ends at the next CR or LF and the next one starts
// two characters further (replies end lines with CR LF). With no CR or LF
// left the line is empty and the cursor is spent.
class LineCursor {
public:
    explicit LineCursor(std::string_view text) : text_(text) {}

    std::string_view Next() {
        if (position_ == kNone) return {};
        const size_t end = text_.find_first_of("\r\n", position_);
        if (end == std::string_view::npos) {
            position_ = kNone;
            return {};
        }
        const std::string_view line = text_.substr(position_, end - position_);
        position_ = std::min(end + 2, text_.size());
        return line;
    }
    bool Spent() const { return position_ == kNone; }
    std::string_view Rest() const { return Spent() ? std::string_view() : text_.substr(position_); }

private:
    static constexpr size_t kNone = std::string_view::npos;
    std::string_view text_;
    size_t position_ = 0;
};

std::string WithoutQuotes(std::string text) {
    std::erase(text, '"');
    return text;
}

// The value of one parameter of a challenge (RFC 7235 auth-param: name "="
// token or quoted-string, the pairs separated by commas), the name in any
// case; empty when absent.
std::string ChallengeParameter(std::string_view params, std::string_view wanted) {
    size_t i = 0;
    const auto skip = [&](std::string_view chars) {
        while (i < params.size() && chars.find(params[i]) != std::string_view::npos) ++i;
    };
    while (i < params.size()) {
        skip(" \t,");
        const size_t nameStart = i;
        while (i < params.size() && params[i] != '=' && params[i] != ',' && params[i] != ' ' && params[i] != '\t') ++i;
        const std::string name = HUtils::ToLower(params.substr(nameStart, i - nameStart));
        skip(" \t");
        if (i >= params.size() || params[i] != '=') continue;
        ++i;
        skip(" \t");
        std::string value;
        if (i < params.size() && params[i] == '"') {
            for (++i; i < params.size() && params[i] != '"'; ++i) {
                if (params[i] == '\\' && i + 1 < params.size()) ++i;
                value += params[i];
            }
            ++i;
        } else {
            while (i < params.size() && params[i] != ',' && params[i] != ' ' && params[i] != '\t') value += params[i++];
        }
        if (name == HUtils::ToLower(wanted)) return value;
    }
    return {};
}

// "auth" when the offered list holds it (RFC 2617 qop-options), else empty.
std::string OfferedQop(const std::string& options) {
    for (const std::string& option : HUtils::Split(options, ','))
        if (HUtils::Trim(option) == "auth") return "auth";
    return {};
}

}  // namespace

void CRTSPResponseParser::Clear() { *this = CRTSPResponseParser(); }

RTSPHeaderType CRTSPResponseParser::ClassifyHeader(std::string_view line) {
    if (line.empty()) return RTSPHeaderType::Empty;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon < 2) return RTSPHeaderType::Unknown;
    static constexpr struct {
        std::string_view name;
        RTSPHeaderType type;
    } kNames[] = {
        {"cseq", RTSPHeaderType::CSeq},
        {"date", RTSPHeaderType::Date},
        {"content-base", RTSPHeaderType::ContentBase},
        {"content-type", RTSPHeaderType::ContentType},
        {"content-length", RTSPHeaderType::ContentLength},
        {"transport", RTSPHeaderType::Transport},
        {"session", RTSPHeaderType::Session},
        {"range", RTSPHeaderType::Range},
        {"rtp-info", RTSPHeaderType::RtpInfo},
        {"server", RTSPHeaderType::Server},
        {"accept-ranges", RTSPHeaderType::AcceptRanges},
        {"rtcp-interval", RTSPHeaderType::RtcpInterval},
        {"www-authenticate", RTSPHeaderType::WwwAuthenticate},
    };
    const std::string name = HUtils::ToLower(HUtils::Trim(line.substr(0, colon)));
    for (const auto& entry : kNames)
        if (name == entry.name) return entry.type;
    return RTSPHeaderType::Unknown;
}

bool CRTSPResponseParser::Parse(std::string_view reply, RTSPMethod method) {
    LineCursor lines(reply);

    // RTSP-Version SP Status-Code SP Reason-Phrase
    Scanner status(lines.Next());
    std::string version;
    uint32_t code = 0;
    if (!status.Word(127, version) || !status.Unsigned(code)) return false;
    protocolVersion = version;
    statusCode = code;
    contentLength = 0;
    if (statusCode != 200 && statusCode != 401) return false;

    for (;;) {
        const std::string_view line = lines.Next();
        bool ok = true;
        switch (ClassifyHeader(line)) {
        case RTSPHeaderType::CSeq:
            ok = OnCSeq(line);
            break;
        case RTSPHeaderType::ContentBase:
            ok = OnContentBase(line);
            break;
        case RTSPHeaderType::ContentType:
            ok = OnContentType(line);
            break;
        case RTSPHeaderType::ContentLength:
            ok = OnContentLength(line);
            break;
        case RTSPHeaderType::Session:
            ok = OnSession(line);
            break;
        case RTSPHeaderType::WwwAuthenticate:
            ok = OnWwwAuthenticate(line);
            break;
        case RTSPHeaderType::Empty:
            break;
        default:
            break;
        }
        if (line.empty()) break;
        if (!ok) return false;
    }
    if (contentLength != 0 && lines.Spent()) return false;
    if (method != RTSPMethod::Describe) return true;

    CSDPResponseParser sdp;
    if (!sdp.Parse(lines.Rest().substr(0, contentLength))) return false;
    media = sdp.media;
    codecConfig = sdp.codecConfig;
    return true;
}

bool CRTSPResponseParser::OnCSeq(std::string_view line) {
    const std::string lower = HUtils::ToLower(line);
    Scanner s(lower);
    return s.Literal("cseq: ") && s.Unsigned(cseq);
}

bool CRTSPResponseParser::OnContentBase(std::string_view line) {
    const std::string lower = HUtils::ToLower(line);
    const size_t name = lower.find("content-base:");
    const size_t url = name == std::string::npos ? std::string::npos : lower.find("rtsp://", name);
    if (url == std::string::npos) {
        contentBase.clear();
        return false;
    }
    contentBase = HUtils::Trim(line.substr(url));
    return true;
}

bool CRTSPResponseParser::OnContentType(std::string_view line) {
    const std::string lower = HUtils::ToLower(line);
    Scanner s(lower);
    return s.Literal("content-type: ") && s.Word(255, contentType);
}

bool CRTSPResponseParser::OnContentLength(std::string_view line) {
    const std::string lower = HUtils::ToLower(line);
    Scanner s(lower);
    return s.Literal("content-length: ") && s.Unsigned(contentLength);
}

// Session: <id>[;timeout=<seconds>]
bool CRTSPResponseParser::OnSession(std::string_view line) {
    sessionId = HUtils::GetValue(line, "Session:", " ", ";\r\n");
    if (line.find(';') != std::string_view::npos) {
        const std::string timeout = HUtils::GetValue(line, "timeout", "=", ";\r\n");
        if (timeout.empty()) {
            sessionId.clear();
        } else {
            const uint32_t seconds = HUtils::ParseDecimal(timeout);
            sessionTimeoutSec = seconds ? seconds : 30;
        }
    }
    return !sessionId.empty();
}

// WWW-Authenticate: Digest realm="<realm>", nonce="<nonce>"[, qop="auth", algorithm=SHA-256, opaque="<o>"]
// WWW-Authenticate: Basic realm="<realm>"
bool CRTSPResponseParser::OnWwwAuthenticate(std::string_view line) {
    authScheme = AuthScheme::None;
    algorithm.clear();
    qop.clear();
    opaque.clear();
    static constexpr std::string_view kName = "WWW-Authenticate: ";
    const size_t at = line.find(kName);
    if (at == std::string_view::npos) return false;
    const size_t start = at + kName.size();
    const size_t end = line.find_first_of(" \t\r\n", start);
    if (end == std::string_view::npos) return false;
    const std::string_view scheme = line.substr(start, end - start);
    if (scheme == "Digest")
        authScheme = AuthScheme::Digest;
    else if (scheme == "Basic")
        authScheme = AuthScheme::Basic;
    else
        return true;
    const std::string_view rest = line.substr(end + 1);
    realm = WithoutQuotes(HUtils::Trim(HUtils::GetValue(rest, "realm", "=", ",\r\n")));
    nonce = WithoutQuotes(HUtils::Trim(HUtils::GetValue(rest, "nonce", "=", ",\r\n")));
    if (authScheme == AuthScheme::Digest) {
        algorithm = ChallengeParameter(rest, "algorithm");
        qop = OfferedQop(ChallengeParameter(rest, "qop"));
        opaque = ChallengeParameter(rest, "opaque");
    }
    return authScheme == AuthScheme::Basic || (!realm.empty() && !nonce.empty());
}

}  // namespace dravnel
