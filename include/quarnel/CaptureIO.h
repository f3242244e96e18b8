// Alarm inputs and relay outputs.
#pragma once

#include "quarnel/HostObjects.h"

namespace dravnel {

// Input and output states.
constexpr int kIOStateUnknown = 0;
constexpr int kIOStateInactive = 1;
constexpr int kIOStateActive = 2;

namespace ipcapture {

class ICaptureIOApi {
public:
    virtual ~ICaptureIOApi() = default;
    virtual bool SetCallback(ICaptureIOCallback* callback) = 0;
    virtual bool StartIO() = 0;
    virtual bool StopIO() = 0;
    virtual unsigned GetInputCount() = 0;
    virtual unsigned GetOutputCount() = 0;
    virtual bool ChangeOutputState(unsigned index, int state) = 0;
};

}  // namespace ipcapture
}  // namespace dravnel
