#include "rtsp/Base64.h"

#include <algorithm>

namespace dravnel {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kGroupsPerLine = 19;  // 76 characters

// Four characters for one group of one to three bytes, padded with "=".
void EncodeGroup(const uint8_t* in, size_t n, char* out) {
    const uint32_t v =
        static_cast<uint32_t>(in[0]) << 16 | (n > 1 ? static_cast<uint32_t>(in[1]) << 8 : 0) | (n > 2 ? in[2] : 0);
    out[0] = kAlphabet[v >> 18 & 0x3F];
    out[1] = kAlphabet[v >> 12 & 0x3F];
    out[2] = n > 1 ? kAlphabet[v >> 6 & 0x3F] : '=';
    out[3] = n > 2 ? kAlphabet[v & 0x3F] : '=';
}

int Sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

size_t Base64EncodedSize(size_t length) {
    const size_t groups = length / 3;
    return 4 * groups + 2 * (groups / kGroupsPerLine) + (length % 3 ? 4 : 0);
}

bool Base64Encode(const uint8_t* data, size_t length, char* output, size_t capacity) {
    if (!output || (length && !data) || Base64EncodedSize(length) > capacity) return false;
    char* out = output;
    size_t groups = 0;
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        EncodeGroup(data + i, 3, out);
        out += 4;
        if (++groups % kGroupsPerLine == 0) {
            *out++ = '\r';
            *out++ = '\n';
        }
    }
    if (i < length) EncodeGroup(data + i, length - i, out);
    return true;
}

std::string Base64EncodeLine(std::span<const uint8_t> data) {
    std::string out((data.size() + 2) / 3 * 4, '\0');
    for (size_t i = 0, o = 0; i < data.size(); i += 3, o += 4)
        EncodeGroup(data.data() + i, std::min<size_t>(3, data.size() - i), &out[o]);
    return out;
}

std::vector<uint8_t> Base64Decode(std::string_view text, size_t maxBytes) {
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int held = 0;
    for (char c : text) {
        if (c == '=') break;
        const int v = Sextet(c);
        if (v < 0) return {};
        bits = bits << 6 | static_cast<uint32_t>(v);
        held += 6;
        if (held >= 8) {
            held -= 8;
            if (out.size() == maxBytes) return {};
            out.push_back(static_cast<uint8_t>(bits >> held));
        }
    }
    return out;
}

}  // namespace dravnel
