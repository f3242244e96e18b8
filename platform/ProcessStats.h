// How much of the system the running process holds now: threads, open
// descriptors and resident memory (from /proc/self). Thread-safe.
#pragma once

#include <cstdint>

namespace platform {

struct ProcessStats {
    uint32_t threads = 0;
    uint32_t descriptors = 0;
    uint64_t residentBytes = 0;
};

// Zeros where a figure cannot be read.
ProcessStats CurrentProcessStats();

}  // namespace platform
