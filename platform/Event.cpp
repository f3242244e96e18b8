#include "platform/Event.h"
#include "platform/EventWaiters.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace dravnel::platform {

namespace {

using Clock = std::chrono::steady_clock;
using detail::Expired;
using detail::FirstConsumed;
using detail::WaitEvents;

// Without a descriptor for an event, a wait with a socket looks at the
// events this often.
constexpr int kFallbackRoundMs = 10;
// Waits with a socket on up to this many events need no allocation.
constexpr size_t kStackPollFds = 8;

// Milliseconds left for poll: -1 without a limit.
int PollWait(uint32_t timeoutMs, Clock::time_point deadline) {
    if (timeoutMs == kInfinite) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<int64_t>(left, INT32_MAX)) : 0;
}

// The socket in short rounds, the events between them: for a process out of
// descriptors.
int WaitSocketInRounds(std::span<Event* const> events, uint32_t timeoutMs, Clock::time_point deadline, int socketFd,
                       short socketEvents) {
    for (;;) {
        const int set = FirstConsumed(events);
        if (set != kWaitTimeout) return set;
        const int left = PollWait(timeoutMs, deadline);
        pollfd p{socketFd, socketEvents, 0};
        const int n = poll(&p, 1, left < 0 ? kFallbackRoundMs : std::min(left, kFallbackRoundMs));
        if (n < 0 && errno != EINTR) return kWaitFailed;
        if (n > 0 && p.revents) {
            const int first = FirstConsumed(events);  // events come before the socket
            return first != kWaitTimeout ? first : static_cast<int>(events.size());
        }
        if (Expired(timeoutMs, deadline)) return FirstConsumed(events);
    }
}

}  // namespace

Event::~Event() {
    if (fd_ >= 0) close(fd_);
}

void Event::Set() {
    // Every waiter of a set manual event has been woken or finds it set: a
    // packet that marks activity pays no lock.
    if (kind_ == Mode::Manual && set_.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> guard(mutex_);
    if (!set_) {
        set_ = true;
        if (fd_ >= 0) {
            uint64_t one = 1;
            (void)!write(fd_, &one, sizeof one);
        }
    }
    // A waiter leaves only under mutex_, so it is alive here.
    for (Waiter* waiter : waiters_) {
        std::lock_guard<std::mutex> lock(waiter->mutex);
        waiter->signalled = true;
        waiter->woken.notify_one();
    }
}

void Event::ClearLocked() {
    if (!set_) return;
    set_ = false;
    if (fd_ >= 0) {
        uint64_t value;
        (void)!read(fd_, &value, sizeof value);
    }
}

int Event::Fd() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (fd_ < 0) fd_ = eventfd(set_.load() ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
    return fd_;
}

bool Event::HasFd() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return fd_ >= 0;
}

int WaitAny(std::span<Event* const> events, uint32_t timeoutMs, int socketFd, short socketEvents) {
    const int set = FirstConsumed(events);
    if (set != kWaitTimeout) return set;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs == kInfinite ? 0 : timeoutMs);
    if (socketFd < 0) return timeoutMs == 0 ? kWaitTimeout : WaitEvents(events, timeoutMs, deadline);

    pollfd stackFds[kStackPollFds];
    std::vector<pollfd> heapFds;
    std::span<pollfd> fds(stackFds, events.size() + 1);
    if (events.size() + 1 > kStackPollFds) {
        heapFds.resize(events.size() + 1);
        fds = heapFds;
    }
    for (size_t i = 0; i < events.size(); ++i) {
        const int fd = events[i] ? events[i]->Fd() : -1;
        if (events[i] && fd < 0) return WaitSocketInRounds(events, timeoutMs, deadline, socketFd, socketEvents);
        fds[i] = pollfd{fd, POLLIN, 0};
    }
    fds.back() = pollfd{socketFd, socketEvents, 0};

    for (;;) {
        for (auto& p : fds) p.revents = 0;
        const int n = poll(fds.data(), fds.size(), PollWait(timeoutMs, deadline));
        if (n < 0) {
            if (errno == EINTR) continue;
            return kWaitFailed;
        }
        if (n > 0) {
            for (size_t i = 0; i < events.size(); ++i) {
                if ((fds[i].revents & POLLIN) && events[i]->TryConsume()) return static_cast<int>(i);
            }
            if (fds.back().revents) return static_cast<int>(events.size());
            // An auto-reset signal was taken by another waiter: wait on.
        }
        if (Expired(timeoutMs, deadline)) return kWaitTimeout;
    }
}

}  // namespace dravnel::platform
