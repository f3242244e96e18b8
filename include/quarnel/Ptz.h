// PTZ interfaces the host drives, one control per camera channel.
#pragma once

#include <cstdint>

namespace dravnel {

// Result codes of the PTZ operations. A movement call only queues its command
// (PTZ_OK means queued): the channel's PTZ thread sends it to the camera, at
// most 16 waiting, the oldest dropped.
constexpr int PTZ_OK = 1;
constexpr int PTZ_E_INVALIDARG = -3;     // an argument missing or out of range
constexpr int PTZ_E_FAIL = -18;          // the request could not be carried out
constexpr int PTZ_E_NOTSUPPORTED = -19;  // the camera's capabilities do not include it
constexpr int PTZ_E_PRESET = -23;        // no such preset, or the preset could not be stored
constexpr int PTZ_E_FULL = -26;          // every preset slot of the camera is taken

// Directions of Move.
enum PTZDirection : uint32_t {
    kPtzLeft = 0,
    kPtzRight = 1,
    kPtzUp = 2,
    kPtzDown = 3,
    kPtzUpLeft = 4,
    kPtzUpRight = 5,
    kPtzDownLeft = 6,
    kPtzDownRight = 7,
    kPtzZoomIn = 8,
    kPtzZoomOut = 9,
};

// Fourteen 32-bit fields; field 1 belongs to the host and is never written.
struct PTZ_INFO {
    uint32_t hostField;
    uint32_t pan, tilt, zoom, focus, iris;  // 0 or 1
    uint32_t reserved7;
    uint32_t presetCapacity;
    uint32_t presetCount;
    uint32_t reserved10, reserved11;
    uint32_t areaZoom, center, unzoom;  // 0 or 1
};

// The channel's parameters as the device layer reads them.
class IIPParams {
public:
    virtual ~IIPParams() = default;  // destroys the whole control
    virtual unsigned GetChannel() = 0;
    virtual bool GetFlag1() = 0;
    virtual void SetFlag1(bool value) = 0;
    virtual bool GetFlag2() = 0;
    virtual void SetFlag2(bool value) = 0;
};

class IIPPTZApi {
public:
    virtual ~IIPPTZApi() = default;
    virtual int IsPTZAvailable() = 0;
    virtual int Move(unsigned direction, int speed) = 0;
    virtual int Stop() = 0;
    virtual int Center(int p1, int p2, int p3) = 0;
    virtual int ZoomIn(int speed) = 0;
    virtual int ZoomOut(int speed) = 0;
    virtual int Unzoom(int value) = 0;
    virtual int AreaZoom(int p1, int p2, int p3, int p4) = 0;
    virtual int FocusNear(int speed) = 0;
    virtual int FocusFar(int speed) = 0;
    virtual int IrisOpen(int speed) = 0;
    virtual int IrisClose(int speed) = 0;
    virtual int GetPTZInfo(PTZ_INFO* info) = 0;
    virtual int GetPresetCount() = 0;
    virtual int GetPresetName(unsigned index, char* buffer, unsigned size) = 0;
    virtual int GoToPreset(int value, const char* name) = 0;
    virtual int AddPreset(const char* name) = 0;
    virtual int DeletePreset(const char* name) = 0;
    virtual int GetCurrentPresetName(char* buffer, unsigned size) = 0;
};

class IIPPTZApiEx : public IIPPTZApi {
public:
    virtual bool QueryFeature(int id) = 0;
};

namespace ipcapture {

// The device's PTZ driver; owned by the driver object, never deleted by the host.
class IIPPTZDriver {
public:
    virtual ~IIPPTZDriver() = default;
    // The control of a camera channel, created on first demand and kept until
    // Close; null when the device has no PTZ there or its preset storage
    // cannot be opened (a later call tries again).
    virtual IIPPTZApi* GetPTZApi(unsigned channel) = 0;
};

class IIPPTZDriverEx : public IIPPTZDriver {
public:
    virtual IIPPTZApiEx* GetPTZApiEx(unsigned channel) = 0;
};

}  // namespace ipcapture
}  // namespace dravnel
