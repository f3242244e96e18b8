// Video capture and camera channel interfaces.
#pragma once

#include <cstdint>

#include "quarnel/HostObjects.h"

namespace dravnel {

// What the recorder asks of one channel.
struct ChannelParams {
    // ms between frames; when (value & 0xF000) == 0x7000 the low 12 bits carry
    // the frame rate itself.
    uint32_t FrameInterval = 0;
    uint32_t ModeWord = 0;  // quality 1..100 given at start; UpdateParams keeps it
    uint32_t Width = 0;
    uint32_t Height = 0;
};

// Channel states.
constexpr int kChannelStreaming = 0;
constexpr int kChannelSignalLost = 2;
constexpr int kChannelStopped = 3;

class ICameraChannel {
public:
    virtual ~ICameraChannel() = default;
    virtual bool Start(const ChannelParams& params) = 0;
    virtual void Stop() = 0;
    virtual bool UpdateParams(const ChannelParams& params) = 0;
    virtual bool IsReservedA() { return false; }
    virtual bool IsReservedB() { return false; }
    virtual int GetChannelState() = 0;
    // The channel's figures for the host's status text (GetChannelStatus):
    // a line of at most textSize - 1 characters; none by default.
    virtual void DescribeStatus(char* text, unsigned textSize) {
        if (text && textSize) text[0] = '\0';
    }
};

namespace ipcapture {

class IIPVideoCapture {
public:
    virtual ~IIPVideoCapture() = default;
    virtual unsigned GetChannelCount() = 0;
    virtual bool StartChannel(unsigned index, IHostChannelSink* sink, IHostChannelDescription* description) = 0;
    virtual bool StopChannel(unsigned index) = 0;
    virtual bool UpdateChannel(unsigned index, IHostSize* size, unsigned frameInterval) = 0;
    virtual void* GetReservedC() = 0;
    // state: 0 streaming, 2 signal lost or stopped; detail is cleared; text
    // (when given) gets the channel's loss figures, for a status line:
    // "kernel drops 0, sequence gaps 0".
    virtual bool GetChannelStatus(unsigned index, int* state, int* detail, char* text, unsigned textSize) = 0;
    virtual bool QueryReservedD(uint32_t a, uint32_t b, uint32_t c) = 0;
    virtual bool QueryReservedE(uint32_t a, uint32_t b, uint32_t c) = 0;
};

class IIPVideoCaptureEx : public IIPVideoCapture {
public:
    virtual bool IsChannelReservedB(unsigned index) = 0;
    virtual bool IsChannelReservedA(unsigned index) = 0;
};

}  // namespace ipcapture
}  // namespace dravnel
