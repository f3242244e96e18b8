// Wall clock in FILETIME units (100 ns since 1601-01-01 UTC), conversions to
// and from the host's UTC SYSTEMTIME, and a monotonic millisecond clock.
// All functions are thread-safe.
#pragma once

#include <cstdint>

#include "quarnel/Types.h"

namespace dravnel::platform {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;
constexpr uint64_t kFileTimePerMs = 10000;

uint64_t SystemTimeAsFileTime();
bool FileTimeToSystemTime(uint64_t fileTime, dravnel::SYSTEMTIME& out);
bool SystemTimeToFileTime(const dravnel::SYSTEMTIME& in, uint64_t& fileTime);
dravnel::SYSTEMTIME CurrentSystemTime();

// Milliseconds of a monotonic clock that wraps at 2^32 (like timeGetTime).
uint32_t MonotonicMs();

}  // namespace dravnel::platform
