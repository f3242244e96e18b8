// Polls a condition that other threads make true, up to a time limit. The
// limit only caps a run in which the condition never comes true; it is wide,
// so that a loaded machine (or a sanitizer's slowdown) does not fail a run
// in which it would have, a little later.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace dravnel::test {

inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace dravnel::test
