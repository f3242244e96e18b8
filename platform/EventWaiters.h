// The part of an event every backend shares: the flag, its waiters, and a
// wait over events alone. A backend adds the kernel object that mirrors the
// flag for waits beside a socket.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "platform/Event.h"

namespace dravnel::platform::detail {

// The index of the first event that was set (taking an auto-reset signal), or
// kWaitTimeout.
int FirstConsumed(std::span<Event* const> events);

// Whether a wait with this time-out has passed its deadline.
bool Expired(uint32_t timeoutMs, std::chrono::steady_clock::time_point deadline);

// A wait over events alone, on the waiters' condition variable.
int WaitEvents(std::span<Event* const> events, uint32_t timeoutMs, std::chrono::steady_clock::time_point deadline);

}  // namespace dravnel::platform::detail
