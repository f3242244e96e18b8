// MD5 message digest (RFC 1321), for Digest authentication.
//
// Thread-safety: a Md5 object is used by one thread; Md5Hex is pure.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace dravnel {

class Md5 {
public:
    Md5();
    void Update(std::span<const uint8_t> data);
    // Pads, appends the bit length and returns the digest; the object is spent.
    std::array<uint8_t, 16> Final();

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 4> state_;
    uint64_t length_ = 0;  // bytes hashed so far
    std::array<uint8_t, 64> buffer_{};
    size_t buffered_ = 0;
};

// The digest of the text's bytes as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::string_view text);

}  // namespace dravnel
