// The output queue thread of the digital I/O object: each host request to
// switch an output becomes a COutputState item, handled in arrival order on
// this thread by a member of the owner. The queue has no bound and drops
// nothing, so every switch the host asked for reaches the device in order.
//
// Thread-safety: Post (through the owner's ChangeOutputState) from any
// thread; Start, SignalStop and Stop by the owner, one thread at a time.
#pragma once

#include <cstdint>

#include "threads/CQueueThread.h"

namespace dravnel {

class COutputState {
public:
    COutputState(uint32_t indexValue, int32_t stateValue) : index(indexValue), state(stateValue) {}
    virtual ~COutputState() = default;

    uint32_t index;
    int32_t state;
};

template <class Owner>
class TOutputHandler : public CQueueThread<COutputState> {
public:
    using Handler = void (Owner::*)(unsigned index, int state);

    TOutputHandler(IDebugMessage* logger, Owner* owner, Handler handler)
        : CQueueThread<COutputState>(logger), owner_(owner), handler_(handler) {}
    ~TOutputHandler() override { Stop(); }

    void HandleWorkItem(COutputState* item) override {
        if (owner_ && handler_ && item) (owner_->*handler_)(item->index, item->state);
    }

    // Sets the stop event only: the thread ends at its next look, and Post
    // refuses from now on. Stop() then discards the waiting items and joins.
    void SignalStop() { stopEvent_.Set(); }
    bool Stopping() const { return StopRequested(); }

private:
    Owner* owner_;
    Handler handler_;
};

}  // namespace dravnel
