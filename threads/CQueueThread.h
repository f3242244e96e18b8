// A thread that handles owned work items in arrival order.
//
// Thread-safety: Post may be called from any thread; Start and Stop by the
// owner. Items are handled on the queue thread, never under the queue lock.
// Owners call Stop() before destruction so that no item is handled while the
// derived class is being destroyed.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "threads/CBaseThread.h"
#include "threads/CLock.h"

namespace dravnel {

template <class T>
class CQueueThread : public CBaseThread {
public:
    // maxWaiting = 0: unbounded. Otherwise the oldest waiting items are dropped
    // so that at most maxWaiting wait after a Post.
    explicit CQueueThread(IDebugMessage* logger, size_t maxWaiting = 0)
        : CBaseThread(logger), maxWaiting_(maxWaiting) {}
    ~CQueueThread() override { JoinThread(5000); }

    uint32_t Run() override {
        platform::Event* events[2] = {stopEvent_.Handle(), itemEvent_.Handle()};
        for (;;) {
            if (StopRequested()) return 0;
            if (platform::WaitAny(std::span<platform::Event* const>(events, 2), 1000) != 1) continue;
            for (;;) {
                std::unique_ptr<T> item;
                {
                    CScopedLock guard(queueLock_);
                    if (queue_.empty()) break;
                    item = std::move(queue_.front());
                    queue_.pop_front();
                }
                if (StopRequested()) break;  // the item is deleted unhandled
                try {
                    HandleWorkItem(item.get());
                } catch (...) {
                    // A failing item must not end the queue.
                }
            }
        }
    }

    virtual void HandleWorkItem(T* item) = 0;

    virtual bool Start(const std::string& name) {
        itemEvent_.Reset();
        return StartThread(name);
    }

    virtual bool Stop() {
        stopEvent_.Set();
        Clear();
        return JoinThread(5000);
    }

    // Takes ownership of item.
    bool Post(T* item) {
        std::unique_ptr<T> owned(item);
        if (StopRequested()) return false;
        CScopedLock guard(queueLock_);
        if (maxWaiting_ > 0) {
            while (queue_.size() > maxWaiting_ - 1) queue_.pop_front();
        }
        queue_.push_back(std::move(owned));
        itemEvent_.Set();
        return true;
    }

private:
    void Clear() {
        std::deque<std::unique_ptr<T>> dropped;
        {
            CScopedLock guard(queueLock_);
            dropped.swap(queue_);
        }
    }

    CEvent itemEvent_;
    CLock queueLock_;
    std::deque<std::unique_ptr<T>> queue_;
    const size_t maxWaiting_;
};

}  // namespace dravnel
