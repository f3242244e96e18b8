// The digital I/O object's device-independent part: the last known state of
// every alarm input and relay output, an output queue thread that applies the
// host's output changes one at a time, an input thread that keeps reading the
// device's inputs, and the reporting of changes and failures to the host.
// A device family supplies GetInputStates and SetOutputState.
//
//   host thread:    SetCallback, StartIO, StopIO, ChangeOutputState --post--+
//   output thread:  SetOutputStateWrapper -> SetOutputState (device)  <-----+
//   input thread:   Run: MonitorInputStatesWrapper -> GetInputStates (device)
//                        ... UpdateInputState(index, state) -> host callback
//   video thread:   (older devices) UpdateInputState through the device layer
//
// States are 0 unknown, 1 inactive, 2 active; all are unknown after
// construction, every start and stop, and every failure. Only changes are
// reported. A start switches every output off on the device: the output
// thread handles each start item before its state counts as recorded.
//
// Thread-safety: the state tables, the report flags and the callback are
// guarded by one lock, which is also held while the host's callback runs, so
// that the host hears the changes of an input in the order they were stored
// (a callback may call back into this object on the same thread). StartIO and
// StopIO belong to the host, one call at a time. A derived class stops the
// threads (StopIO) in its own destructor, before its device layer goes.
#pragma once

#include <cstdint>
#include <map>

#include "io/TOutputHandler.h"
#include "quarnel/CaptureDriver.h"
#include "quarnel/CaptureIO.h"
#include "threads/CBaseThread.h"
#include "threads/CLock.h"

namespace dravnel {

class CIOBase : public ipcapture::ICaptureIOApi, public CBaseThread {
public:
    CIOBase(IDriver* driver, bool monitorInputs);
    ~CIOBase() override;

    // ICaptureIOApi
    bool SetCallback(ipcapture::ICaptureIOCallback* callback) override;
    bool StartIO() override;
    bool StopIO() override;
    unsigned GetInputCount() override;
    unsigned GetOutputCount() override;
    bool ChangeOutputState(unsigned index, int state) override;

    // Runs on the output thread.
    virtual void SetOutputStateWrapper(unsigned index, int state);
    // The device operations.
    virtual bool SetOutputState(unsigned index, int state) = 0;
    // Reads the inputs until stopped (true) or until reading fails (false),
    // reporting through UpdateInputState meanwhile.
    virtual bool GetInputStates() = 0;
    // Called at the start of StartIO.
    virtual void ResetConfiguration() {}
    // Called by StopIO before the threads are joined: breaks off a device
    // request that blocks one of them.
    virtual void AbortRequests() {}

    // The input thread's body ("ThreadFunction" in messages).
    uint32_t Run() override;

    // The last known states (a copy), for tools and tests.
    std::map<uint32_t, int> InputStates() const;
    std::map<uint32_t, int> OutputStates() const;

protected:
    void MonitorInputStatesWrapper();
    // Stores a known input's state; reports it when it changed.
    void UpdateInputState(unsigned index, int state);
    // Every output and input back to unknown, the counts read anew.
    void ResetStates();

    bool InputStopping() const { return StopRequested(); }
    bool OutputStopping() const { return outputThread_.Stopping(); }
    IDriver* Driver() const { return driver_; }

private:
    void ResetStatesLocked();
    // After a failed reading or switch: states unknown, the host told.
    void ReportFailure();

    IDriver* driver_;
    TOutputHandler<CIOBase> outputThread_;
    const bool monitorInputs_;

    mutable CLock stateLock_;  // guards the fields below
    ipcapture::ICaptureIOCallback* callback_ = nullptr;
    std::map<uint32_t, int> inputStates_;
    std::map<uint32_t, int> outputStates_;
    bool reportInputErrors_ = true;
    bool reportOutputErrors_ = true;
};

}  // namespace dravnel
