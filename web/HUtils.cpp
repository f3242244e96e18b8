#include "web/HUtils.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace dravnel::HUtils {

bool FindValue(std::string_view text, std::string_view key, std::string_view separator, std::string_view terminators,
               size_t& offset, size_t& length) {
    if (key.empty() || separator.empty() || terminators.empty()) return false;
    const size_t npos = std::string_view::npos;
    // Each retry searches strictly after the last hit, so the walk always ends.
    const auto next = [&](size_t from, size_t last) {
        return from == npos || from >= text.size() ? npos : text.find(key, std::max(from, last + 1));
    };
    size_t p = text.find(key);
    while (p != npos) {
        const size_t lastTerminator = p == 0 ? npos : text.find_last_of(terminators, p);
        const size_t entryStart = lastTerminator == npos ? 0 : lastTerminator + 1;
        size_t entryEnd = text.find_first_of(terminators, p);
        if (entryEnd == npos) entryEnd = text.size();

        const size_t s = text.find(separator, p);
        if (s == npos) return false;
        if (s >= entryEnd) {
            p = next(s, p);
            continue;
        }
        if (Trim(text.substr(entryStart, s - entryStart)) != key) {
            p = next(entryEnd, p);
            continue;
        }
        const size_t v = s + separator.size();
        if (v >= text.size()) {
            p = next(entryEnd, p);
            continue;
        }
        size_t valueEnd = text.find_first_of(terminators, v);
        if (valueEnd == npos) valueEnd = text.size();
        if (valueEnd > v) {
            offset = v;
            length = valueEnd - v;
            return true;
        }
        p = next(valueEnd, p);
    }
    return false;
}

std::string GetValue(std::string_view text, std::string_view key, std::string_view separator,
                     std::string_view terminators) {
    size_t offset = 0, length = 0;
    if (!FindValue(text, key, separator, terminators, offset, length)) return {};
    return std::string(text.substr(offset, length));
}

uint32_t GetNumericValue(std::string_view text, std::string_view key, std::string_view separator,
                         std::string_view terminators) {
    return ParseDecimal(GetValue(text, key, separator, terminators));
}

std::vector<std::string> GetListValue(std::string_view text, std::string_view key, std::string_view separator,
                                      std::string_view terminators, std::string_view listSeparator) {
    std::vector<std::string> parts;
    const std::string value = GetValue(text, key, separator, terminators);
    if (value.empty() || listSeparator.empty()) return parts;
    size_t start = 0;
    for (;;) {
        const size_t at = value.find(listSeparator, start);
        const size_t end = at == std::string::npos ? value.size() : at;
        if (end > start) parts.push_back(value.substr(start, end - start));
        if (at == std::string::npos) break;
        start = at + listSeparator.size();
    }
    return parts;
}

uint32_t ParseDecimal(std::string_view text) {
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10u + static_cast<uint32_t>(c - '0');
    }
    return value;
}

// Wrapping in 16 bits is wrapping in 32 bits, cut to its low half.
uint16_t ParseDecimal16(std::string_view text) { return static_cast<uint16_t>(ParseDecimal(text)); }

std::string Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::vector<std::string> Split(std::string_view text, char delimiter) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < text.size()) {
        const size_t at = text.find(delimiter, start);
        if (at == std::string_view::npos) {
            parts.emplace_back(text.substr(start));
            break;
        }
        parts.emplace_back(text.substr(start, at - start));
        start = at + 1;
    }
    return parts;
}

std::string FormatV(const char* format, va_list args) {
    if (!format) return {};
    va_list measure;
    va_copy(measure, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string out;
    if (length > 0) {
        out.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(out.data(), out.size(), format, args);
        out.resize(static_cast<size_t>(length));
    }
#pragma GCC diagnostic pop
    return out;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = FormatV(format, args);
    va_end(args);
    return out;
}

std::string ToLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string ToUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

}  // namespace dravnel::HUtils
