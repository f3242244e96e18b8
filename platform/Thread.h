// A joinable OS thread whose end can be waited for with a time-out.
//
// Threads are never killed: a caller that gives up waiting can only wait on.
// Thread-safety: Start, WaitFinished and Join are called by the owner only;
// Running and Id may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/Event.h"

namespace dravnel::platform {

// Names the calling thread for debuggers and thread lists (15 characters
// on Linux).
void SetCurrentThreadName(const std::string& name);

class Thread {
public:
    Thread() = default;
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False when a thread is still held (finished or not) or creation failed.
    bool Start(std::function<void()> body);
    // True when no thread is held, or it ended within the time-out.
    bool WaitFinished(uint32_t timeoutMs);
    // Waits without limit, then releases the thread. Refused on the thread itself.
    bool Join();
    bool Held() const { return thread_.joinable(); }
    bool Running() const;
    uint32_t Id() const { return id_.load(); }
    bool IsCurrent() const;

private:
    std::thread thread_;
    // Shared with the thread, which sets it after its body even when this
    // object was destroyed by the body itself.
    std::shared_ptr<Event> finished_;
    std::atomic<uint32_t> id_{0};
};

}  // namespace dravnel::platform
