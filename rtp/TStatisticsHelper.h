// The mean of the most recent values of a series: a window of at most
// `Window` values (the oldest drops out first) with a running sum.
//
// Thread-safety: none; used by one thread at a time.
#pragma once

#include <array>
#include <cstddef>

namespace dravnel {

template <class T, size_t Window = 1000>
class TStatisticsHelper {
public:
    void Add(T value) {
        if (count_ == Window) {
            sum_ -= static_cast<double>(values_[next_]);
        } else {
            ++count_;
        }
        values_[next_] = value;
        sum_ += static_cast<double>(value);
        next_ = (next_ + 1) % Window;
    }

    // 0 when empty.
    double Mean() const { return count_ ? sum_ / static_cast<double>(count_) : 0.0; }
    size_t Count() const { return count_; }

    void Clear() {
        count_ = 0;
        next_ = 0;
        sum_ = 0;
    }

private:
    // Whole values below 2^53 keep the running sum exact, so removing the
    // oldest value never leaves rounding behind.
    std::array<T, Window> values_{};
    size_t count_ = 0;
    size_t next_ = 0;
    double sum_ = 0;
};

}  // namespace dravnel
