// The driver object: what the host creates through the exports, and the
// service interface the driver's own parts reach it through.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "quarnel/CaptureIO.h"
#include "quarnel/HostObjects.h"
#include "quarnel/Ptz.h"
#include "quarnel/Types.h"
#include "quarnel/VideoCapture.h"

// gnu_printf: the C99 formats (%zu, %llu), which mingw's printf also takes
// while g++'s "printf" there means the older C run-time's.
#if defined(__GNUC__) && !defined(__clang__)
#define QUARNEL_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define QUARNEL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define QUARNEL_PRINTF(fmt, args)
#endif

namespace dravnel {

// Diagnostic levels.
constexpr int kLevelError = 1;
constexpr int kLevelWarning = 2;
constexpr int kLevelInfo = 3;
constexpr int kLevelNever = 4;  // never delivered
constexpr int kLevelOpened = 100;

class IDebugMessage {
public:
    virtual ~IDebugMessage() = default;
    // printf-style; the format begins with "%s: " and the operation's name.
    virtual void DebugMessage(int level, const char* format, ...) QUARNEL_PRINTF(3, 4) = 0;
};

class IDriver : public IDebugMessage {
public:
    virtual std::string GetDriverName() = 0;
    virtual std::string GetHostDirectory() = 0;
    virtual const DEVICE_INFO* GetDeviceInfo() = 0;
    virtual std::pair<uint32_t, uint32_t> GetDeviceValues() = 0;  // alarm inputs, outputs
    virtual ipcapture::IHostFrameAllocator* GetHostContext() = 0;
    virtual bool GetParameterFlag() = 0;
    virtual int GetCodec() = 0;
    virtual uint32_t GetChannelCount() = 0;
    virtual std::string GetAddressText() = 0;
    virtual std::string GetParameterText(int number) = 0;
    virtual int GetParameterInt(int number) = 0;  // kNoIntParameter when absent or not a number
};

class ICustomCreator {
public:
    virtual ~ICustomCreator() = default;
    virtual ICameraChannel* CreateChannel(unsigned channel, ipcapture::IHostChannelSink* hostSink) = 0;
    virtual ICameraChannel* CreateSecondaryChannel(unsigned channel, ipcapture::IHostChannelSink* hostSink) = 0;
};

namespace ipcapture {

class IIPCaptureDriver {
public:
    virtual ~IIPCaptureDriver() = default;
    // Copies the device description (read during the call only) and creates
    // the I/O object, the PTZ driver and the video capture. False when the
    // description lacks driver parameter 2 or an object cannot be created.
    // `sink` and `hostContext` must live until Close returns.
    virtual bool Open(IHostDebugSink* sink, IHostFrameAllocator* hostContext, IHostDeviceDescription* description) = 0;
    // Stops and destroys the video capture, the I/O object and the PTZ driver,
    // in that order; no callback runs after it returns.
    virtual void Close() = 0;
    // Owned by the driver, valid from Open to Close; never deleted by the host.
    virtual IIPVideoCaptureEx* GetVideoCapture() = 0;
    virtual ICaptureIOApi* GetCaptureIO() = 0;
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
public:
    virtual void* GetReservedA() = 0;
    virtual IIPPTZDriver* GetPTZDriver() = 0;
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx {
public:
    virtual void* GetReservedB() = 0;
    virtual IIPVideoCaptureEx* GetVideoCaptureEx() = 0;
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2 {
public:
    virtual IIPPTZDriverEx* GetPTZDriverEx() = 0;
};

}  // namespace ipcapture
}  // namespace dravnel
