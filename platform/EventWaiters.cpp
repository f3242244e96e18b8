#include "platform/EventWaiters.h"

#include <algorithm>

namespace dravnel::platform {

namespace detail {

using Clock = std::chrono::steady_clock;

int FirstConsumed(std::span<Event* const> events) {
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i] && events[i]->TryConsume()) return static_cast<int>(i);
    }
    return kWaitTimeout;
}

bool Expired(uint32_t timeoutMs, Clock::time_point deadline) {
    return timeoutMs != kInfinite && Clock::now() >= deadline;
}

int WaitEvents(std::span<Event* const> events, uint32_t timeoutMs, Clock::time_point deadline) {
    Event::Waiter waiter;
    for (Event* e : events) {
        if (e) e->AddWaiter(&waiter);
    }
    int result = kWaitTimeout;
    for (;;) {
        // Registered before looking, so a Set after the look still wakes us.
        result = FirstConsumed(events);
        if (result != kWaitTimeout) break;
        std::unique_lock<std::mutex> lock(waiter.mutex);
        const auto signalled = [&] { return waiter.signalled; };
        if (timeoutMs == kInfinite) {
            waiter.woken.wait(lock, signalled);
        } else if (!waiter.woken.wait_until(lock, deadline, signalled)) {
            lock.unlock();
            result = FirstConsumed(events);
            break;
        }
        // Another waiter may take an auto-reset signal first: look again.
        waiter.signalled = false;
    }
    for (Event* e : events) {
        if (e) e->RemoveWaiter(&waiter);
    }
    return result;
}

}  // namespace detail

Event::Event(Mode kind, bool initiallySet) : set_(initiallySet), kind_(kind) {}

void Event::AddWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> guard(mutex_);
    waiters_.push_back(waiter);
}

void Event::RemoveWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::erase(waiters_, waiter);
}

bool Event::Wait(uint32_t timeoutMs) {
    Event* self = this;
    return WaitAny(std::span<Event* const>(&self, 1), timeoutMs) == 0;
}

void Event::Reset() {
    std::lock_guard<std::mutex> guard(mutex_);
    ClearLocked();
}

bool Event::TryConsume() {
    // A waiter looks before it sleeps, registered, so a Set it misses here
    // still wakes it.
    if (!set_.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> guard(mutex_);
    if (!set_) return false;
    if (kind_ == Mode::Auto) ClearLocked();
    return true;
}

bool Event::IsSet() const { return set_.load(std::memory_order_acquire); }

}  // namespace dravnel::platform
