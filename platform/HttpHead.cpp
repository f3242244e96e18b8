#include "platform/HttpHead.h"

namespace dravnel::platform {

namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// "HTTP/1.1 401 Unauthorized" -> 401; 0 when the line has no three-digit code.
uint32_t StatusOfLine(std::string_view line) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4) return 0;
    uint32_t code = 0;
    for (size_t i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') return 0;
        code = code * 10 + static_cast<uint32_t>(line[i] - '0');
    }
    return code;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

void HttpHead::Reset(bool followRedirects) {
    followRedirects_ = followRedirects;
    status_ = 0;
    ended_ = final_ = false;
    bytes_ = 0;
    lines_.clear();
}

bool HttpHead::MayBeAnsweredByCurl(uint32_t code) const {
    if (code == 401 || code == 407) return true;
    return followRedirects_ && (code == 301 || code == 302 || code == 303 || code == 307 || code == 308);
}

bool HttpHead::Take(std::string_view raw) {
    bytes_ += raw.size();
    if (bytes_ > kMaxBytes) return false;
    if (final_) return true;  // trailers of a chunked body
    std::string_view line = raw;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.substr(0, 5) == "HTTP/") {
        status_ = StatusOfLine(line);
        lines_.clear();
        ended_ = false;
    } else if (line.empty()) {
        if (status_ >= 100 && status_ < 200) return true;  // an interim reply
        if (MayBeAnsweredByCurl(status_))
            ended_ = true;
        else
            final_ = true;
    } else {
        lines_.emplace_back(line);
    }
    return true;
}

void HttpHead::OnBody() {
    if (ended_) final_ = true;
}

void HttpHead::OnDone() { OnBody(); }

std::vector<std::string> HttpHead::Values(std::string_view name) const {
    std::vector<std::string> values;
    for (const std::string& line : lines_) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string_view text(line);
        if (EqualsNoCase(TrimBlanks(text.substr(0, colon)), name))
            values.emplace_back(TrimBlanks(text.substr(colon + 1)));
    }
    return values;
}

}  // namespace dravnel::platform
