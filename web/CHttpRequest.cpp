#include "web/CHttpRequest.h"

namespace Web {

namespace {

bool NeverRaw(unsigned char c) { return c <= 0x20 || c >= 0x7F || c == '#'; }

bool Unsafe(unsigned char c) {
    switch (c) {
    case '"':
    case '<':
    case '>':
    case '\\':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
        return true;
    default:
        return false;
    }
}

}  // namespace

std::string CHttpRequest::EscapeObject(std::string_view object, bool escapePath, bool escapeQuery) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(object.size());
    bool inQuery = false;
    for (const char ch : object) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '?') inQuery = true;
        if (NeverRaw(c) || (Unsafe(c) && (inQuery ? escapeQuery : escapePath))) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

}  // namespace Web
