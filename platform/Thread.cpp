#include "platform/Thread.h"

#include <system_error>

#include "platform/Process.h"

namespace platform {

Thread::~Thread() {
    if (!thread_.joinable()) return;
    if (IsCurrent()) {
        thread_.detach();  // an object destroyed by its own thread cannot wait for it
        return;
    }
    thread_.join();
}

bool Thread::Start(std::function<void()> body) {
    if (thread_.joinable()) return false;
    auto finished = std::make_unique<Event>(Event::Mode::Manual);
    if (!finished->Valid()) return false;
    Event* signal = finished.get();
    Event started(Event::Mode::Manual);
    id_ = 0;
    try {
        thread_ = std::thread([this, signal, &started, body = std::move(body)]() mutable {
            id_ = CurrentThreadId();
            started.Set();
            body();
            signal->Set();
        });
    } catch (const std::system_error&) {
        return false;
    }
    started.Wait(kInfinite);  // the id is known before Start returns
    finished_ = std::move(finished);
    return true;
}

bool Thread::Running() const {
    return thread_.joinable() && finished_ && !finished_->IsSet();
}

bool Thread::IsCurrent() const {
    return thread_.joinable() && thread_.get_id() == std::this_thread::get_id();
}

bool Thread::WaitFinished(uint32_t timeoutMs) {
    if (!thread_.joinable()) return true;
    return finished_->Wait(timeoutMs);
}

bool Thread::Join() {
    if (!thread_.joinable()) return true;
    if (IsCurrent()) return false;
    thread_.join();
    finished_.reset();
    id_ = 0;
    return true;
}

}  // namespace platform
