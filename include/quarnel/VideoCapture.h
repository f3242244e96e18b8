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
    // The device's number of video channels; indexes run from 0 below it.
    virtual unsigned GetChannelCount() = 0;
    // Starts channel `index`: the driver configures the device's stream, then
    // connects, delivers frames to `sink` and reconnects on its own threads
    // until StopChannel. A running channel on the same index is stopped first.
    // False for an index out of range or a channel that could not start (it
    // stays in its entry until StopChannel). `description` is read during the
    // call only; `sink` must live until StopChannel for the index returns.
    virtual bool StartChannel(unsigned index, IHostChannelSink* sink, IHostChannelDescription* description) = 0;
    // Stops and deletes the channel; no callback for it runs after this
    // returns. True when the entry held a channel.
    virtual bool StopChannel(unsigned index) = 0;
    // New size and frame interval for a running channel, applied at its next
    // connect. False when the entry is empty.
    virtual bool UpdateChannel(unsigned index, IHostSize* size, unsigned frameInterval) = 0;
    virtual void* GetReservedC() = 0;
    // state: 0 streaming, 2 signal lost or stopped; detail is cleared; text
    // (when given) gets the channel's loss figures, for a status line:
    // "kernel drops 0, sequence gaps 0".
    // *state: kChannelStreaming (0), or kChannelSignalLost (2) for a lost
    // signal and for a stopped channel; *detail is set to 0. When text and
    // textSize are given, text receives a short line of the channel's loss
    // figures (or stays empty). False when the entry is empty.
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
