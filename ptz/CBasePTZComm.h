// A PTZ channel's command queue and worker thread.
//
// The control turns the host's requests into CPTZItems and posts them here
// from the host's threads; the PTZ thread ("BaseIPPTZThread_Ch<channel + 1>")
// hands them one at a time, in order, to the device layer's HandleWorkItem.
// A PTZ call thus returns as soon as its command is queued, whatever the
// camera's response time.
//
//   host threads --StartMove/StartFocus/...--> [ at most 16 waiting ] --> PTZ thread --> camera
//                       capability check           oldest dropped
//
// A burst (a joystick held and moved) never builds a backlog: when a 17th
// item arrives, the oldest waiting one is dropped unsent. Stops are never
// capability-checked. The object also carries the channel's capabilities and
// is the preset list's device link (IPrepositionComm) and diagnostic sink.
//
// Thread-safety: the queuing operations, GetCapabilities and IsPTZEnabled may
// be called from any thread; the capabilities are fixed at construction.
// Open and Close belong to the owning control. The preset link runs on the
// caller's thread, alongside the PTZ thread.
#pragma once

#include <cstdint>
#include <string>

#include "ptz/CPTZItem.h"
#include "ptz/CPtzCapabilities.h"
#include "quarnel/CaptureDriver.h"
#include "threads/CQueueThread.h"

namespace dravnel {

// The preset list's link to the camera: store or recall a preset slot.
class IPrepositionComm : public IDebugMessage {
public:
    virtual bool SavePreposition(unsigned id, const std::string& name) = 0;
    virtual bool GoToPreposition(unsigned id, const std::string& name, int value) = 0;
    virtual bool DeletePreposition(unsigned id, const std::string& name) = 0;
};

class CBasePTZComm : public CQueueThread<CPTZItem>, public IPrepositionComm {
public:
    // Most items waiting for the PTZ thread.
    static constexpr size_t kMaxWaiting = 16;

    CBasePTZComm(unsigned short channel, IDriver* sink, const CPtzCapabilities& capabilities);
    ~CBasePTZComm() override;

    virtual bool Open();
    // Stops the PTZ thread; the waiting items are dropped unsent. Idempotent.
    virtual void Close();
    // True when the camera can pan, tilt, zoom, focus or drive its iris.
    virtual bool IsPTZEnabled(IIPParams* params);
    // Fields 2 to 14 from the capabilities (7, 9, 10, 11 as 0); returns 1.
    virtual int GetCapabilities(PTZ_INFO* info);

    // 1 queued, PTZ_E_NOTSUPPORTED without the capability, PTZ_E_FAIL refused.
    int StartMove(uint32_t direction, IIPParams* source, int speed);
    int StartFocus(IIPParams* source, bool nearFocus, int speed);
    int StartIris(IIPParams* source, bool open, int speed);
    int AreaZoom(IIPParams* source, int p1, int p2, int p3, int p4);
    int Center(IIPParams* source, int p1, int p2, int p3);
    int Unzoom(IIPParams* source, int value);
    bool StopMoving(IIPParams* source);
    bool StopZooming(IIPParams* source);
    bool StopFocusing(IIPParams* source);
    bool StopIrisChanging(IIPParams* source);

    // Queues one item; false, with a level-1 message naming `operation`, when
    // the queue refuses it (the thread is stopping or stopped).
    bool SendMessage(const char* operation, uint32_t type, uint32_t param, int32_t speed, IIPParams* source, int32_t a,
                     int32_t b, int32_t c);

    // IPrepositionComm: the base has nothing to delete on the camera.
    bool DeletePreposition(unsigned id, const std::string& name) override { return true; }
    // IDebugMessage: to the driver's log.
    void DebugMessage(int level, const char* format, ...) override QUARNEL_PRINTF(3, 4);

    const CPtzCapabilities& Capabilities() const { return capabilities_; }
    uint32_t PresetCapacity() const { return capabilities_.presetCount; }
    unsigned short Channel() const { return channel_; }
    bool Opened() const { return opened_; }

protected:
    IDriver* Sink() const { return sink_; }

private:
    const unsigned short channel_;
    const CPtzCapabilities capabilities_;
    IDriver* const sink_;
    bool opened_ = false;
};

}  // namespace dravnel
