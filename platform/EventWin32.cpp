// Events on Windows: the same flag and waiters as on Linux; a wait with a
// socket uses a manual-reset kernel event per event as its mirror, and a
// socket event that WSAEventSelect signals, in one WaitForMultipleObjects.
#include <winsock2.h>
// After winsock2.h, which must come first.
#include <windows.h>

#include <algorithm>
#include <chrono>

#include "platform/Event.h"
#include "platform/EventWaiters.h"
#include "platform/WinSockets.h"

namespace dravnel::platform {

namespace {

using Clock = std::chrono::steady_clock;
using detail::Expired;
using detail::FirstConsumed;
using detail::WaitEvents;

// Without a kernel event for an event, a wait with a socket looks at the
// events this often.
constexpr DWORD kFallbackRoundMs = 10;

DWORD WaitLeft(uint32_t timeoutMs, Clock::time_point deadline) {
    if (timeoutMs == kInfinite) return INFINITE;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(std::min<int64_t>(left, INFINITE - 1)) : 0;
}

// Whether the socket is ready now: readable (data, a connection to accept,
// its end) for POLLIN; writable or failed to connect for POLLOUT.
bool SocketReady(SOCKET s, short socketEvents, bool& failed) {
    fd_set read, write, except;
    FD_ZERO(&read);
    FD_ZERO(&write);
    FD_ZERO(&except);
    if (socketEvents & POLLIN) FD_SET(s, &read);
    if (socketEvents & POLLOUT) {
        FD_SET(s, &write);
        FD_SET(s, &except);
    }
    timeval zero{0, 0};
    const int n = select(0, &read, &write, &except, &zero);
    failed = n == SOCKET_ERROR;
    return n > 0;
}

long NetworkEventsOf(short socketEvents) {
    long mask = 0;
    if (socketEvents & POLLIN) mask |= FD_READ | FD_ACCEPT | FD_CLOSE;
    if (socketEvents & POLLOUT) mask |= FD_WRITE | FD_CONNECT | FD_CLOSE;
    return mask;
}

// Ends the socket's association with a wait's event, and gives the socket
// back the blocking mode its owner chose.
void Unselect(SOCKET s) {
    WSAEventSelect(s, nullptr, 0);
    if (!win32::IsNonBlocking(s)) {
        u_long off = 0;
        ioctlsocket(s, FIONBIO, &off);
    }
}

int WaitWithSocket(std::span<Event* const> events, uint32_t timeoutMs, Clock::time_point deadline, SOCKET s,
                   short socketEvents) {
    std::vector<HANDLE> handles;
    bool mirrored = events.size() + 1 <= MAXIMUM_WAIT_OBJECTS;
    for (Event* e : events) {
        HANDLE h = e ? static_cast<HANDLE>(e->Handle()) : nullptr;
        if (e && !h) mirrored = false;
        handles.push_back(h);
    }
    for (;;) {
        const int set = FirstConsumed(events);
        if (set != kWaitTimeout) return set;
        bool failed = false;
        if (SocketReady(s, socketEvents, failed)) return static_cast<int>(events.size());
        if (failed) return kWaitFailed;
        if (Expired(timeoutMs, deadline)) return kWaitTimeout;

        WSAEVENT socketEvent = WSACreateEvent();
        if (socketEvent == WSA_INVALID_EVENT) return kWaitFailed;
        if (WSAEventSelect(s, socketEvent, NetworkEventsOf(socketEvents)) == SOCKET_ERROR) {
            WSACloseEvent(socketEvent);
            return kWaitFailed;
        }
        // Bytes that came between the look above and the selection may not
        // signal the event (Wine records only what arrives after it): look
        // again now that whatever comes later does.
        if (SocketReady(s, socketEvents, failed)) {
            Unselect(s);
            WSACloseEvent(socketEvent);
            return static_cast<int>(events.size());
        }
        std::vector<HANDLE> waitOn;
        std::vector<size_t> index;
        if (mirrored) {
            for (size_t i = 0; i < handles.size(); ++i) {
                if (!handles[i]) continue;
                waitOn.push_back(handles[i]);
                index.push_back(i);
            }
        }
        waitOn.push_back(socketEvent);
        DWORD wait = WaitLeft(timeoutMs, deadline);
        if (!mirrored) wait = std::min(wait, kFallbackRoundMs);
        const DWORD got = WaitForMultipleObjects(static_cast<DWORD>(waitOn.size()), waitOn.data(), FALSE, wait);
        WSANETWORKEVENTS happened{};
        const bool socketSignalled = WSAEnumNetworkEvents(s, socketEvent, &happened) == 0 && happened.lNetworkEvents;
        Unselect(s);
        WSACloseEvent(socketEvent);
        if (got == WAIT_FAILED) return kWaitFailed;
        if (got >= WAIT_OBJECT_0 && got < WAIT_OBJECT_0 + index.size()) {
            // An auto-reset signal may be taken by another waiter: then wait on.
            if (events[index[got - WAIT_OBJECT_0]]->TryConsume()) return static_cast<int>(index[got - WAIT_OBJECT_0]);
        }
        if (socketSignalled) {
            const int first = FirstConsumed(events);  // events come before the socket
            return first != kWaitTimeout ? first : static_cast<int>(events.size());
        }
    }
}

}  // namespace

Event::~Event() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

void Event::Set() {
    if (kind_ == Mode::Manual && set_.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> guard(mutex_);
    if (!set_) {
        set_ = true;
        if (handle_) SetEvent(static_cast<HANDLE>(handle_));
    }
    for (Waiter* waiter : waiters_) {
        std::lock_guard<std::mutex> lock(waiter->mutex);
        waiter->signalled = true;
        waiter->woken.notify_one();
    }
}

void Event::ClearLocked() {
    if (!set_) return;
    set_ = false;
    if (handle_) ResetEvent(static_cast<HANDLE>(handle_));
}

void* Event::Handle() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!handle_) handle_ = CreateEventW(nullptr, TRUE, set_.load() ? TRUE : FALSE, nullptr);
    return handle_;
}

bool Event::HasFd() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return handle_ != nullptr;
}

int WaitAny(std::span<Event* const> events, uint32_t timeoutMs, int socketFd, short socketEvents) {
    const int set = FirstConsumed(events);
    if (set != kWaitTimeout) return set;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs == kInfinite ? 0 : timeoutMs);
    if (socketFd < 0) return timeoutMs == 0 ? kWaitTimeout : WaitEvents(events, timeoutMs, deadline);
    return WaitWithSocket(events, timeoutMs, deadline, static_cast<SOCKET>(socketFd), socketEvents);
}

}  // namespace dravnel::platform
