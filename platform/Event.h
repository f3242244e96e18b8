// Events that can be waited on together, and together with a socket, in one
// wait.
//
// An event is a flag under a mutex; a wait on events alone sleeps on a
// condition variable of the waiting thread, which every Set of those events
// notifies, so most events never hold a descriptor. A wait that includes a
// socket has to sleep in poll: for it an event gets an eventfd, made at its
// first such wait (or at Fd()) and kept for its life, whose readability
// mirrors the flag. When no descriptor is left for that, the wait polls the
// socket in short rounds instead and still sees every Set.
//
// On Windows the mirror is a manual-reset kernel event, and a wait with a
// socket is WaitForMultipleObjects over those and a socket event that
// WSAEventSelect signals (socketFd is then the SOCKET).
//
// Thread-safety: Set, Reset, IsSet and the waits may be called from any
// thread at once. An auto-reset event wakes exactly one waiter per Set.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <span>
#include <vector>

namespace dravnel::platform {

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

    void Set();
    void Reset();
    // True when set (consumes the signal of an auto-reset event).
    bool Wait(uint32_t timeoutMs);
    // True when set; never consumes.
    bool IsSet() const;
    bool IsManual() const { return kind_ == Mode::Manual; }
#ifdef _WIN32
    // The event's kernel event, made now if it has none; null when none can
    // be made. Signalled while the event is set.
    void* Handle();
#else
    // The event's eventfd, made now if it has none; -1 when the process has
    // no descriptor left. Readable while the event is set.
    int Fd();
#endif
    // Whether the event holds a descriptor (for counting them).
    bool HasFd() const;

    // Consumes the signal of an auto-reset event. False when another waiter
    // took it first.
    bool TryConsume();

    // A thread asleep in a wait on this event, woken by Set.
    struct Waiter {
        std::mutex mutex;
        std::condition_variable woken;
        bool signalled = false;
    };
    void AddWaiter(Waiter* waiter);
    void RemoveWaiter(Waiter* waiter);

private:
    // Under mutex_: the flag and the eventfd's counter change together.
    void ClearLocked();

    mutable std::mutex mutex_;
    // Changed under mutex_ only; read without it where a stale answer is as
    // good as a fresh one (IsSet, Set of a manual event already set).
    std::atomic<bool> set_;
    const Mode kind_;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    std::vector<Waiter*> waiters_;
};

// Waits until one of the events is set, or (when socketFd >= 0) the socket is
// ready for socketEvents (POLLIN, POLLOUT). Returns the index of the first set
// event, events.size() for the socket, kWaitTimeout, or kWaitFailed.
int WaitAny(std::span<Event* const> events, uint32_t timeoutMs, int socketFd = -1, short socketEvents = 0);
inline int WaitAny(std::initializer_list<Event*> events, uint32_t timeoutMs, int socketFd = -1,
                   short socketEvents = 0) {
    return WaitAny(std::span<Event* const>(events.begin(), events.size()), timeoutMs, socketFd, socketEvents);
}

}  // namespace dravnel::platform
