// Bounds-checked reading and writing of big-endian wire formats. A reader that
// runs past its end fails from then on and yields zeros, so parsers check once
// at the end (or where a decision depends on it) instead of before each field.
//
// Thread-safety: a reader or writer is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace dravnel {

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}

    bool ok() const { return ok_; }
    size_t position() const { return position_; }
    size_t remaining() const { return ok_ ? data_.size() - position_ : 0; }

    uint8_t U8() {
        if (!Need(1)) return 0;
        return data_[position_++];
    }
    uint16_t U16() {
        if (!Need(2)) return 0;
        uint16_t v = static_cast<uint16_t>(data_[position_] << 8 | data_[position_ + 1]);
        position_ += 2;
        return v;
    }
    uint32_t U32() {
        if (!Need(4)) return 0;
        uint32_t v = static_cast<uint32_t>(data_[position_]) << 24 | static_cast<uint32_t>(data_[position_ + 1]) << 16 |
                     static_cast<uint32_t>(data_[position_ + 2]) << 8 | data_[position_ + 3];
        position_ += 4;
        return v;
    }
    // The next n bytes; empty (and the reader failed) when fewer remain.
    std::span<const uint8_t> Bytes(size_t n) {
        if (!Need(n)) return {};
        auto s = data_.subspan(position_, n);
        position_ += n;
        return s;
    }
    bool Skip(size_t n) { return Need(n) ? (position_ += n, true) : false; }
    std::span<const uint8_t> Rest() {
        if (!ok_) return {};
        auto s = data_.subspan(position_);
        position_ = data_.size();
        return s;
    }

private:
    bool Need(size_t n) {
        if (!ok_ || data_.size() - position_ < n) {
            ok_ = false;
            return false;
        }
        return true;
    }

    std::span<const uint8_t> data_;
    size_t position_ = 0;
    bool ok_ = true;
};

class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}

    ByteWriter& U8(uint8_t v) {
        out_.push_back(v);
        return *this;
    }
    ByteWriter& U16(uint16_t v) {
        out_.push_back(static_cast<uint8_t>(v >> 8));
        out_.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    ByteWriter& U32(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out_.push_back(static_cast<uint8_t>(v >> shift));
        return *this;
    }
    ByteWriter& Bytes(std::span<const uint8_t> b) {
        out_.insert(out_.end(), b.begin(), b.end());
        return *this;
    }

private:
    std::vector<uint8_t>& out_;
};

}  // namespace dravnel
