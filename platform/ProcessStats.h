// How much of the system the running process holds now: threads, open
// descriptors and resident memory (from /proc/self), and the bytes the C
// heap has handed out and not had back. Resident memory also counts code
// pages, thread stacks and the allocator's free space; the heap figure tells
// a leak from memory the allocator merely keeps. Thread-safe.
#pragma once

#include <cstdint>

namespace dravnel::platform {

struct ProcessStats {
    uint32_t threads = 0;
    uint32_t descriptors = 0;
    uint64_t residentBytes = 0;
    uint64_t heapInUseBytes = 0;  // allocated and not freed, mmap'ed blocks included
};

// Zeros where a figure cannot be read.
ProcessStats CurrentProcessStats();

}  // namespace dravnel::platform
