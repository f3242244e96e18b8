#include "tools/host/IOCallback.h"

namespace dravnel::host {

void IOCallback::OnInputStateChanged(unsigned index, int state) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        changes_.emplace_back(index, state);
    }
    changed_.notify_all();
}

void IOCallback::OnIOFailure() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ++failures_;
    }
    changed_.notify_all();
}

std::vector<std::pair<unsigned, int>> IOCallback::Changes() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return changes_;
}

size_t IOCallback::FailureCount() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return failures_;
}

bool IOCallback::WaitForChanges(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, timeout, [&] { return changes_.size() >= count; });
}

}  // namespace dravnel::host
