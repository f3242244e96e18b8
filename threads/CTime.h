// A wall-clock time stamp in FILETIME units, guarded by its own lock.
//
// Thread-safety: all operations may be called from any thread.
#pragma once

#include <cstdint>

#include "platform/Clock.h"
#include "threads/CLock.h"

namespace dravnel {

class CTime {
public:
    CTime() : value_(platform::SystemTimeAsFileTime()) {}
    virtual ~CTime() = default;

    void SetNow() {
        CScopedLock guard(lock_);
        value_ = platform::SystemTimeAsFileTime();
    }
    void Set(uint64_t fileTime) {
        CScopedLock guard(lock_);
        value_ = fileTime;
    }
    uint64_t Get() {
        CScopedLock guard(lock_);
        return value_;
    }
    // Milliseconds since the stored time; 0 when it is not earlier than now.
    uint32_t ElapsedMs() {
        CScopedLock guard(lock_);
        const uint64_t now = platform::SystemTimeAsFileTime();
        return now > value_ ? static_cast<uint32_t>((now - value_) / platform::kFileTimePerMs) : 0;
    }

private:
    CLock lock_;
    uint64_t value_;
};

}  // namespace dravnel
