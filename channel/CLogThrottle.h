// Thins out the messages of a failure that repeats: the first 14 are logged,
// then every 16th, every 256th and every 4096th, ever more rarely. The count
// is never reset; past 65534 it falls back to 4095 (without a message) and
// goes on logging every 4096th.
//
// Thread-safety: none; owned and advanced by one thread.
#pragma once

#include <cstdint>

namespace dravnel {

class CLogThrottle {
public:
    // Counts one failure; true when its message is to be logged.
    bool Advance();
    uint32_t Count() const { return count_; }

private:
    uint32_t count_ = 0;
};

}  // namespace dravnel
