#include "threads/CLock.h"

#include "platform/Process.h"

namespace dravnel {

uint32_t CLock::SpinCount() {
    static const uint32_t count = platform::ProcessorCount() > 1 ? 4000u : 0u;
    return count;
}

bool CLock::TryLock() {
    const uint32_t self = platform::CurrentThreadId();
    const uint32_t rounds = SpinCount() > 0 ? SpinCount() : 1;
    for (uint32_t i = 0; i < rounds; ++i) {
        int32_t expected = 0;
        if (lockCount_.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
            owner_.store(self, std::memory_order_relaxed);
            recursion_ = 1;
            return true;
        }
        if (owner_.load(std::memory_order_relaxed) == self) {
            lockCount_.fetch_add(1, std::memory_order_acquire);
            ++recursion_;
            return true;
        }
    }
    return false;
}

void CLock::Lock() {
    if (TryLock()) return;
    const uint32_t self = platform::CurrentThreadId();
    if (lockCount_.fetch_add(1, std::memory_order_acquire) + 1 == 1) {
        owner_.store(self, std::memory_order_relaxed);
        recursion_ = 1;
    } else if (owner_.load(std::memory_order_relaxed) == self) {
        ++recursion_;
    } else {
        WaitWake();
        owner_.store(self, std::memory_order_relaxed);
        recursion_ = 1;
    }
}

void CLock::Unlock() {
    if (--recursion_ > 0) {
        lockCount_.fetch_sub(1, std::memory_order_release);
        return;
    }
    owner_.store(0, std::memory_order_relaxed);
    if (lockCount_.fetch_sub(1, std::memory_order_release) - 1 > 0) SetWake();
}

void CLock::WaitWake() {
    std::unique_lock<std::mutex> guard(wakeMutex_);
    wakeCondition_.wait(guard, [this] { return wakeSet_; });
    wakeSet_ = false;
}

void CLock::SetWake() {
    {
        std::lock_guard<std::mutex> guard(wakeMutex_);
        wakeSet_ = true;
    }
    wakeCondition_.notify_one();
}

}  // namespace dravnel
