// Objects of the host that the driver calls back. The host implements them;
// the driver calls each operation by its position in the table, so the
// declaration order is binding. Operations the driver never calls are kept as
// reserved placeholders to hold the positions.
#pragma once

#include <cstdint>

#include "quarnel/Types.h"

namespace dravnel {

// One diagnostic line handed to the host. Valid only during OnDebugInfo.
class CDebugInfoIf {
public:
    virtual ~CDebugInfoIf() = default;
    virtual uint8_t GetLevel() const = 0;
    virtual const char* GetText() const = 0;  // null for an empty message
};

namespace ipcapture {

// First argument of Open. Called synchronously from any driver thread.
class IHostDebugSink {
public:
    virtual ~IHostDebugSink() = default;
    virtual void OnDebugInfo(const CDebugInfoIf* info) = 0;
};

class IHostConnectionRecord {
public:
    virtual ~IHostConnectionRecord() = default;
    virtual const char* GetAddress() = 0;
    virtual uint16_t GetPort() = 0;
    virtual void Reserved4() {}
    virtual int GetCodec() = 0;
    virtual const char* GetUserName() = 0;
    virtual const char* GetPassword() = 0;
};

class IHostDeviceRecord {
public:
    virtual ~IHostDeviceRecord() = default;
    virtual void Reserved2() {}
    virtual const char* GetModel() = 0;
    virtual uint32_t GetChannelCount() = 0;
    virtual void Reserved5() {}
    virtual uint32_t GetAlarmInputCount() = 0;
    virtual uint32_t GetAlarmOutputCount() = 0;
};

// Third argument of Open; read during Open only.
class IHostDeviceDescription {
public:
    virtual ~IHostDeviceDescription() = default;
    virtual IHostDeviceRecord* GetDevice() = 0;
    virtual IHostConnectionRecord* GetConnection() = 0;
    virtual void Reserved4() {}
    // Text of driver parameter n (from 1); null after the last one.
    virtual const char* GetParameter(int n) = 0;
};

class IHostSize {
public:
    virtual ~IHostSize() = default;
    virtual uint32_t GetWidth() = 0;
    virtual uint32_t GetHeight() = 0;
};

class IHostPicture {
public:
    virtual ~IHostPicture() = default;
    virtual void Reserved2() {}
    virtual void Reserved3() {}
    virtual IHostSize* GetSize() = 0;
};

class IHostStream {
public:
    virtual ~IHostStream() = default;
    virtual uint32_t GetFrameInterval() = 0;
    virtual void Reserved3() {}
    virtual uint32_t GetModeWord() = 0;
    virtual bool WantsSecondaryStream() = 0;
};

// Argument of StartChannel.
class IHostChannelDescription {
public:
    virtual ~IHostChannelDescription() = default;
    virtual IHostPicture* GetPicture() = 0;
    virtual IHostStream* GetStream() = 0;
};

// A frame object allocated by the host; filled by the driver, delivered once.
class IHostFrame {
public:
    virtual ~IHostFrame() = default;
    virtual void Reserved2() {}
    virtual uint8_t* GetBuffer() = 0;  // at least the capacity asked for
    virtual void Reserved4() {}
    virtual void SetDataSize(uint32_t size) = 0;
    virtual void Reserved6() {}
    virtual void SetTime(const SYSTEMTIME* utc) = 0;
    virtual void Reserved8() {}
    virtual void Reserved9() {}
    virtual void Reserved10() {}
    virtual void SetCodecTag(uint32_t tag) = 0;
    virtual void Reserved12() {}
    virtual void SetHeight(uint32_t height) = 0;
    virtual uint32_t GetWidth() = 0;
    virtual void SetWidth(uint32_t width) = 0;
    virtual void Reserved16() {}
    virtual void SetSizeClass(uint32_t sizeClass) = 0;
};

// Second argument of Open (the host context). Frames are released right after
// delivery, accepted or not.
class IHostFrameAllocator {
public:
    virtual ~IHostFrameAllocator() = default;
    virtual void Reserved2() {}
    virtual IHostFrame* AllocateFrame(uint32_t codecTag, uint32_t capacity, const char* streamName) = 0;
    virtual void Reserved4() {}
    virtual void Reserved5() {}
    virtual void Reserved6() {}
    virtual void ReleaseFrame(IHostFrame* frame) = 0;
};

// Per-channel sink given to StartChannel; called from several driver threads.
class IHostChannelSink {
public:
    virtual ~IHostChannelSink() = default;
    virtual bool DeliverFrame(IHostFrame* frame) = 0;  // true when accepted
    virtual void Reserved3() {}
    virtual void OnStreamSilent() = 0;
};

// Argument of ICaptureIOApi::SetCallback; called from the I/O threads.
class ICaptureIOCallback {
public:
    virtual ~ICaptureIOCallback() = default;
    virtual void OnInputStateChanged(unsigned index, int state) = 0;
    virtual void OnIOFailure() = 0;
};

}  // namespace ipcapture
}  // namespace dravnel
