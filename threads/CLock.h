// The driver's recursive lock: a short spin on multi-processor machines, then
// a wait on a wake event. The owner may lock again; each Lock needs its Unlock.
//
// Thread-safety: made to be shared by any number of threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace dravnel {

class CLock {
public:
    CLock() = default;
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

    void Lock();
    void Unlock();
    // Spins only; never waits.
    bool TryLock();

    // Spin rounds of TryLock: 4000 with more than one processor, else 0
    // (a single attempt is still made).
    static uint32_t SpinCount();

private:
    void WaitWake();
    void SetWake();

    std::atomic<int32_t> lockCount_{0};
    std::atomic<uint32_t> owner_{0};
    int32_t recursion_ = 0;  // touched by the owner only

    // Auto-reset wake event.
    std::mutex wakeMutex_;
    std::condition_variable wakeCondition_;
    bool wakeSet_ = false;
};

// Holds a CLock for the life of the scope.
class CScopedLock {
public:
    explicit CScopedLock(CLock& lock) : lock_(lock) { lock_.Lock(); }
    ~CScopedLock() { lock_.Unlock(); }
    CScopedLock(const CScopedLock&) = delete;
    CScopedLock& operator=(const CScopedLock&) = delete;

private:
    CLock& lock_;
};

}  // namespace dravnel
