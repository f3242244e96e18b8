// Event wrappers used by every thread of the driver.
//
// Thread-safety: all operations may be called from any thread.
#pragma once

#include <cstdint>

#include "platform/Event.h"

namespace dravnel {

// Auto-reset event, created non-signalled: one Set wakes one waiter.
class CEvent {
public:
    CEvent() : CEvent(platform::Event::Mode::Auto) {}
    virtual ~CEvent() = default;
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set() { event_.Set(); }
    void Reset() { event_.Reset(); }
    bool Wait(uint32_t timeoutMs) { return event_.Wait(timeoutMs); }
    bool IsSet() const { return event_.IsSet(); }
    platform::Event* Handle() { return &event_; }

protected:
    explicit CEvent(platform::Event::Mode kind) : event_(kind) {}

private:
    platform::Event event_;
};

// Manual-reset event, created non-signalled: stays set until Reset.
class CManualEvent : public CEvent {
public:
    CManualEvent() : CEvent(platform::Event::Mode::Manual) {}
};

}  // namespace dravnel
