// Kernel-backed events (eventfd) that can be waited on together, and together
// with a socket, in one poll.
//
// Thread-safety: Set, Reset, IsSet and the waits may be called from any
// thread at once. An auto-reset event wakes exactly one waiter per Set.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

namespace platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr int kWaitTimeout = -1;
constexpr int kWaitFailed = -2;

class Event {
public:
    enum class Mode { Auto, Manual };

    explicit Event(Mode kind = Mode::Auto, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    bool Valid() const { return fd_ >= 0; }
    void Set();
    void Reset();
    // True when set (consumes the signal of an auto-reset event).
    bool Wait(uint32_t timeoutMs);
    // True when set; never consumes.
    bool IsSet() const;
    bool IsManual() const { return kind_ == Mode::Manual; }
    int Fd() const { return fd_; }

    // Consumes the signal of an auto-reset event. False when another waiter
    // took it first.
    bool TryConsume();

private:
    int fd_ = -1;
    Mode kind_;
};

// Waits until one of the events is set, or (when socketFd >= 0) the socket is
// ready for socketEvents (POLLIN, POLLOUT). Returns the index of the first set
// event, events.size() for the socket, kWaitTimeout, or kWaitFailed.
int WaitAny(std::span<Event* const> events, uint32_t timeoutMs, int socketFd = -1,
            short socketEvents = 0);
inline int WaitAny(std::initializer_list<Event*> events, uint32_t timeoutMs, int socketFd = -1,
                   short socketEvents = 0) {
    return WaitAny(std::span<Event* const>(events.begin(), events.size()), timeoutMs, socketFd,
                   socketEvents);
}

}  // namespace platform
