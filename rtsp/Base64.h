// Base64 with the standard alphabet and "=" padding (RFC 4648 section 4).
//
// Thread-safety: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dravnel {

// The MIME form (RFC 2045 section 6.8): CR LF after every 76 output
// characters, so an input of 57, 114, ... bytes ends with CR LF. Writes no
// terminating zero. False, with nothing written, when the text does not fit.
bool Base64Encode(const uint8_t* data, size_t length, char* output, size_t capacity);
// Length of the MIME form of `length` bytes.
size_t Base64EncodedSize(size_t length);

// One unbroken line of any length, as HTTP credentials need (RFC 7617).
std::string Base64EncodeLine(std::span<const uint8_t> data);
inline std::string Base64EncodeLine(std::string_view text) {
    return Base64EncodeLine(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// Decodes up to the first "=" (missing padding is accepted). Empty when a
// character is outside the alphabet or the result would exceed maxBytes.
std::vector<uint8_t> Base64Decode(std::string_view text, size_t maxBytes);

}  // namespace dravnel
