#include "tools/host/DebugSink.h"

namespace dravnel::host {

void DebugSink::OnDebugInfo(const dravnel::CDebugInfoIf* info) {
    if (!info) return;
    DebugLine line;
    line.level = info->GetLevel();
    const char* text = info->GetText();
    line.nullText = text == nullptr;
    if (text) line.text = text;
    std::function<void(const DebugLine&)> listener;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        lines_.push_back(line);
        listener = listener_;
    }
    changed_.notify_all();
    if (listener) listener(line);
}

std::vector<DebugLine> DebugSink::Lines() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
}

size_t DebugSink::Count() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_.size();
}

size_t DebugSink::CountContaining(const std::string& part) const {
    std::lock_guard<std::mutex> guard(mutex_);
    size_t n = 0;
    for (const auto& line : lines_) n += line.text.find(part) != std::string::npos;
    return n;
}

bool DebugSink::WaitFor(const std::string& part, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, timeout, [&] {
        for (const auto& line : lines_)
            if (line.text.find(part) != std::string::npos) return true;
        return false;
    });
}

void DebugSink::Clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.clear();
}

void DebugSink::SetListener(std::function<void(const DebugLine&)> listener) {
    std::lock_guard<std::mutex> guard(mutex_);
    listener_ = std::move(listener);
}

}  // namespace dravnel::host
