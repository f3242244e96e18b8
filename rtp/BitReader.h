// Reading of bit fields and Exp-Golomb codes (ITU-T H.264 section 9.1), most
// significant bit first. Bits past the end read as 1, which ends any code at
// once; the reader then reports that it overran, so callers check ok() once
// after a group of fields.
//
// Thread-safety: a reader is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dravnel {

class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> data) : data_(data) {}

    // False once a read went past the end or met an over-long code.
    bool ok() const { return ok_; }
    // Bits read so far.
    size_t BitPosition() const { return position_; }

    uint32_t Bit() {
        if (position_ >= data_.size() * 8) {
            ok_ = false;
            return 1;
        }
        const uint32_t bit = (data_[position_ >> 3] >> (7 - (position_ & 7))) & 1u;
        ++position_;
        return bit;
    }

    // n <= 32.
    uint32_t Bits(unsigned n) {
        uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i) v = v << 1 | Bit();
        return static_cast<uint32_t>(v);
    }

    // ue(v). A code with more than 31 leading zeros does not fit 32 bits.
    uint32_t UE() {
        unsigned zeros = 0;
        while (Bit() == 0) {
            if (++zeros > 31) {
                ok_ = false;
                return 0;
            }
        }
        return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + Bits(zeros));
    }

    // se(v).
    int32_t SE() {
        const uint32_t k = UE();
        return (k & 1) ? static_cast<int32_t>((k >> 1) + 1) : -static_cast<int32_t>(k >> 1);
    }

private:
    std::span<const uint8_t> data_;
    size_t position_ = 0;  // in bits
    bool ok_ = true;
};

}  // namespace dravnel
