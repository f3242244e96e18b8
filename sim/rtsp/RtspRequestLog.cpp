#include "sim/rtsp/RtspRequestLog.h"

#include <chrono>

namespace dravnel::sim {

std::string RtspRequest::AuthScheme() const {
    size_t start = authorization.find_first_not_of(" \t");
    if (start == std::string::npos) return {};
    size_t end = authorization.find_first_of(" \t", start);
    return authorization.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void RtspRequestLog::Add(RtspRequest request) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        request.index = next_++;
        ++counts_[request.method];
        requests_.push_back(std::move(request));
        if (requests_.size() > kCapacity) requests_.pop_front();
    }
    changed_.notify_all();
}

void RtspRequestLog::ConnectionOpened(unsigned id) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        open_.insert(id);
    }
    changed_.notify_all();
}

void RtspRequestLog::ConnectionClosed(unsigned id) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        open_.erase(id);
    }
    changed_.notify_all();
}

void RtspRequestLog::AllConnectionsClosed() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        open_.clear();
    }
    changed_.notify_all();
}

std::vector<RtspRequest> RtspRequestLog::Requests() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return {requests_.begin(), requests_.end()};
}

uint64_t RtspRequestLog::NextIndex() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return next_;
}

size_t RtspRequestLog::Count(std::string_view method) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = counts_.find(method);
    return it == counts_.end() ? 0 : it->second;
}

size_t RtspRequestLog::OpenConnections() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return open_.size();
}

std::optional<RtspRequest> RtspRequestLog::WaitFor(std::string_view method, uint32_t timeoutMs, uint64_t from,
                                                   const std::function<bool(const RtspRequest&)>& also) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        for (const auto& r : requests_) {
            if (r.index < from) continue;
            if (!method.empty() && r.method != method) continue;
            if (also && !also(r)) continue;
            return r;
        }
        // Only what arrives from here on can match.
        if (next_ > from) from = next_;
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        changed_.wait_until(lock, deadline);
    }
}

bool RtspRequestLog::WaitForOpenConnections(size_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return open_.size() == count; });
}

}  // namespace dravnel::sim
