#include "platform/Event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

namespace platform {

Event::Event(Mode kind, bool initiallySet) : kind_(kind) {
    fd_ = eventfd(initiallySet ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
}

Event::~Event() {
    if (fd_ >= 0) close(fd_);
}

void Event::Set() {
    if (fd_ < 0) return;
    uint64_t one = 1;
    // A full counter (never reached in practice) still leaves the event set.
    (void)!write(fd_, &one, sizeof one);
}

void Event::Reset() {
    if (fd_ < 0) return;
    uint64_t value;
    (void)!read(fd_, &value, sizeof value);
}

bool Event::TryConsume() {
    if (kind_ == Mode::Manual) return IsSet();
    uint64_t value;
    return read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool Event::IsSet() const {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

bool Event::Wait(uint32_t timeoutMs) {
    Event* self = this;
    return WaitAny(std::span<Event* const>(&self, 1), timeoutMs) == 0;
}

int WaitAny(std::span<Event* const> events, uint32_t timeoutMs, int socketFd, short socketEvents) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<pollfd> fds;
    fds.reserve(events.size() + 1);
    for (Event* e : events) fds.push_back(pollfd{e ? e->Fd() : -1, POLLIN, 0});
    if (socketFd >= 0) fds.push_back(pollfd{socketFd, socketEvents, 0});

    for (;;) {
        int wait = -1;
        if (timeoutMs != kInfinite) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        for (auto& p : fds) p.revents = 0;
        int n = poll(fds.data(), fds.size(), wait);
        if (n < 0) {
            if (errno == EINTR) continue;
            return kWaitFailed;
        }
        if (n == 0) {
            if (timeoutMs != kInfinite && Clock::now() >= deadline) return kWaitTimeout;
            continue;
        }
        for (size_t i = 0; i < events.size(); ++i) {
            if ((fds[i].revents & POLLIN) && events[i]->TryConsume()) return static_cast<int>(i);
        }
        if (socketFd >= 0 && fds.back().revents) return static_cast<int>(events.size());
        // An auto-reset signal was taken by another waiter: wait on.
        if (timeoutMs != kInfinite && Clock::now() >= deadline) return kWaitTimeout;
    }
}

}  // namespace platform
