// Base of every long-running activity of the driver: a named thread with a
// manual-reset stop event that the body watches.
//
// Threads are never killed. Where a stop would give up on a thread that does
// not end in time, the stop logs that and waits on.
//
// Thread-safety: StartThread, JoinThread and StopThread are called by the
// owner (one thread at a time); the body reads the stop event. A derived class
// must stop its thread in its own destructor: once it is destroyed, Run is gone.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Thread.h"
#include "quarnel/CaptureDriver.h"
#include "threads/CEvent.h"

namespace dravnel {

class CBaseThread {
public:
    explicit CBaseThread(IDebugMessage* logger);
    virtual ~CBaseThread();
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    virtual bool StartThread(const std::string& name);
    virtual bool JoinThread(unsigned timeoutMs);
    virtual bool StopThread(unsigned timeoutMs);
    virtual uint32_t Run() = 0;

    bool IsRunning() const { return thread_.Running(); }
    const std::string& ThreadName() const { return name_; }
    uint32_t ThreadId() const { return thread_.Id(); }

protected:
    // Stop event set or wait failed.
    bool StopRequested() const { return stopEvent_.IsSet(); }
    IDebugMessage* Logger() const { return logger_; }
    CManualEvent stopEvent_;

private:
    bool Finish(unsigned timeoutMs, const char* operation, bool terminates);

    std::string name_;
    platform::Thread thread_;
    IDebugMessage* logger_;
};

}  // namespace dravnel
