// What a camera's PTZ can do, and the text that carries it.
//
// The capability query writes the record as text into the device's "PTZ
// Capabilities" property; the host hands that text back with every open, and
// each PTZ control parses it to check requests before they are queued.
//
//   Pan=1; Tilt=0; Zoom=1; Focus=0; Iris=0; Center=1; Unzoom=1; AreaZoom=0; Preset=64
//
// A capability that needs another (centring needs pan or tilt, unzoom and area
// zoom need zoom) is written as 0 when the other is absent, so a parsed record
// never claims an operation the camera cannot carry out.
//
// Thread-safety: a plain value; the functions are pure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dravnel {

class CPtzCapabilities {
public:
    virtual ~CPtzCapabilities() = default;

    bool pan = false;
    bool tilt = false;
    bool zoom = false;
    bool focus = false;
    bool iris = false;
    bool areaZoom = false;
    bool center = false;
    bool unzoom = false;
    uint32_t presetCount = 0;

    bool operator==(const CPtzCapabilities&) const = default;
};

std::string BuildCapabilityString(const CPtzCapabilities& capabilities);
// Every flag false and no presets for text without the keys. Keys match
// exactly, case included; a flag is set only by the single digit "1".
CPtzCapabilities ParseCapabilityString(std::string_view text);

}  // namespace dravnel
