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
    // Where input changes and failures go; null is refused and keeps the old
    // callback. The callback must live until StopIO returns.
    virtual bool SetCallback(ICaptureIOCallback* callback) = 0;
    // Starts watching the inputs (the callback hears each input's state, then
    // every change) and switches every output off on the device. True even
    // for a device without inputs or outputs.
    virtual bool StartIO() = 0;
    // Stops both threads, breaking off a request in progress; returns once no
    // callback can run any more.
    virtual bool StopIO() = 0;
    // The counts the host's device record gave Open.
    virtual unsigned GetInputCount() = 0;
    virtual unsigned GetOutputCount() = 0;
    // Queues a switch of output `index` to kIOStateActive or kIOStateInactive;
    // the output thread sends it in order. True when queued; a failure to
    // switch reaches the callback as OnIOFailure.
    virtual bool ChangeOutputState(unsigned index, int state) = 0;
};

}  // namespace ipcapture
}  // namespace dravnel
