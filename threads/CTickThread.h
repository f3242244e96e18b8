// A thread that calls OnTick every period until stopped.
//
// Thread-safety: as CBaseThread; OnTick runs on the tick thread.
#pragma once

#include "threads/CBaseThread.h"

namespace dravnel {

class CTickThread : public CBaseThread {
public:
    CTickThread(IDebugMessage* logger, uint32_t periodMs, bool tickFirst)
        : CBaseThread(logger), periodMs_(periodMs), tickFirst_(tickFirst) {}

    uint32_t Run() override {
        if (tickFirst_) OnTick();
        while (!stopEvent_.Wait(periodMs_)) OnTick();
        return 0;
    }

    virtual void OnTick() = 0;

private:
    uint32_t periodMs_;
    bool tickFirst_;
};

}  // namespace dravnel
