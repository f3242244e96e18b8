#include "sim/rtsp/ControlLine.h"

namespace dravnel::sim {

namespace {

bool IsKeyChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

bool ValidKey(std::string_view key) {
    if (key.empty()) return false;
    for (char c : key)
        if (!IsKeyChar(c)) return false;
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

ControlLine& ControlLine::Set(std::string key, std::string value) {
    for (auto& field : fields_) {
        if (field.first == key) {
            field.second = std::move(value);
            return *this;
        }
    }
    fields_.emplace_back(std::move(key), std::move(value));
    return *this;
}

ControlLine& ControlLine::Set(std::string key, uint64_t value) { return Set(std::move(key), std::to_string(value)); }

bool ControlLine::Has(std::string_view key) const {
    for (const auto& field : fields_)
        if (field.first == key) return true;
    return false;
}

std::string ControlLine::Get(std::string_view key) const {
    for (const auto& field : fields_)
        if (field.first == key) return field.second;
    return {};
}

std::optional<uint32_t> ControlLine::GetNumber(std::string_view key) const {
    if (!Has(key)) return std::nullopt;
    std::string text = Get(key);
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(value);
}

std::string ControlLine::Encode(std::string_view value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (char ch : value) {
        auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || c == '%' || c == '=') {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

std::optional<std::string> ControlLine::Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int high = HexValue(text[i + 1]);
        int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string ControlLine::Format() const {
    std::string line = verb_;
    for (const auto& [key, value] : fields_) {
        line += ' ';
        line += key;
        line += '=';
        line += Encode(value);
    }
    line += '\n';
    return line;
}

std::optional<ControlLine> ControlLine::Parse(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    ControlLine result;
    size_t pos = 0;
    bool first = true;
    while (pos < line.size()) {
        if (line[pos] == ' ') {
            ++pos;
            continue;
        }
        size_t end = line.find(' ', pos);
        if (end == std::string_view::npos) end = line.size();
        std::string_view word = line.substr(pos, end - pos);
        pos = end;
        if (first) {
            if (!ValidKey(word)) return std::nullopt;
            result.verb_ = std::string(word);
            first = false;
            continue;
        }
        size_t eq = word.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        std::string_view key = word.substr(0, eq);
        if (!ValidKey(key)) return std::nullopt;
        auto value = Decode(word.substr(eq + 1));
        if (!value) return std::nullopt;
        result.fields_.emplace_back(std::string(key), std::move(*value));
    }
    if (first) return std::nullopt;
    return result;
}

}  // namespace dravnel::sim
