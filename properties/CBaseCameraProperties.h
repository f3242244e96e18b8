// What the capability query learns about a device, and how it hands that to
// the host's results object.
//
// A properties object serves one query: Query runs on the query's thread and
// identifies and probes the device; SaveResults then writes, in this order,
// the device name, the connection fields, the codecs and channel count, the
// resolutions, the frame rates, the capabilities and the named properties.
// Cancel and the stop event end a running query early from another thread.
//
// Host rate values (what the host takes for a frame rate f):
//   f == 0                      1000
//   f > 30 with extendedRates   f | 0x70000000   (hosts from 6.4 take it raw)
//   otherwise                   1000 / f, rounded  (25 -> 40, 30 -> 33)
//
// Thread-safety: Query, SaveResults and the writers belong to the query
// thread; Cancel and StopEvent may be used from any thread at any time.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "properties/CAudioCapabilities.h"
#include "quarnel/CapabilityQuery.h"
#include "quarnel/Types.h"
#include "threads/CEvent.h"

namespace dravnel {

// Codecs a device may list.
constexpr int32_t kDeviceCodecH264 = 1;
constexpr int32_t kDeviceCodecMpeg4 = 2;
constexpr int32_t kDeviceCodecMjpeg = 3;

struct CameraResolution {
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t maxRate = 0;  // host rate value of the size's top frame rate; 0: none given
    bool operator==(const CameraResolution&) const = default;
};

// Failure reasons of Query.
constexpr uint32_t kQueryRefused = 1;  // the device refused the credentials
constexpr uint32_t kQueryOffline = 2;
constexpr uint32_t kQueryFailed = 3;  // no answer, or no usable answer

uint32_t HostRateValue(uint32_t fps, bool extendedRates);

class CBaseCameraProperties {
public:
    CBaseCameraProperties(uint32_t videoStandard, const DEVICE_INFO& device);
    CBaseCameraProperties(const CBaseCameraProperties&) = delete;
    CBaseCameraProperties& operator=(const CBaseCameraProperties&) = delete;

    virtual void Cancel() {}
    // The frame rates and the preferred one; false when none is known.
    virtual bool WriteFrameRates(ipcapture::IHostFrameRateList* sink);
    virtual bool WriteProperties(ipcapture::IHostCapabilityResults* sink) = 0;
    virtual ~CBaseCameraProperties();
    // Identifies and probes the device; on false `reason` is kQueryRefused or
    // kQueryFailed.
    virtual bool Query(uint32_t* reason) = 0;

    // Everything learnt, into the host's results object; false at the first
    // step that cannot be written.
    bool SaveResults(ipcapture::IHostCapabilityResults* results);

    CManualEvent& StopEvent() { return stopEvent_; }
    bool Stopped() const { return stopEvent_.IsSet(); }

    // Most sizes kept: a device's list beyond them is ignored, so that a
    // hostile list cannot make the duplicate check quadratic.
    static constexpr size_t kMaxResolutions = 256;

    // A size, its top frame rate (0: none) stored as a host rate value. A size
    // already known is kept; its value is lowered to a new non-zero one.
    void AddResolution(uint32_t width, uint32_t height, uint32_t maxFps);
    uint32_t HostRate(uint32_t fps) const { return HostRateValue(fps, extendedRates); }

    std::string groupName;
    std::string modelName;
    CAudioCapabilities audioInput;
    CAudioCapabilities audioOutput;
    uint32_t capabilityMode = 0;
    uint32_t capabilityValue = 0;
    bool hasPtz = false;
    bool capability5 = false;
    bool frameRateListA = false;
    bool frameRateListB = false;
    DEVICE_INFO device;
    uint32_t videoStandard = 0;  // the standard the host asked for
    std::string firmware;
    uint32_t deviceVideoStandard = 0;  // 1 NTSC, 0 PAL
    uint32_t alarmInputCount = 0;
    uint32_t alarmOutputCount = 0;
    uint32_t channelCount = 0;
    std::set<int32_t> codecs;
    std::vector<CameraResolution> resolutions;
    std::set<uint32_t> frameRates;
    uint32_t defaultFrameRate = 0;
    bool extendedRates = false;  // host 6.4.0 or later
    bool newHost = false;        // host 6.1.0 or later

protected:
    CManualEvent stopEvent_;  // set: the query ends, every later request fails

    // One named property: the entry, then name, attribute A, attribute B and
    // value ("(none)" for an empty one). False when the host gives no entry.
    static bool WriteProperty(ipcapture::IHostCapabilityResults* sink, uint32_t id, const std::string& name,
                              uint32_t attributeB, const std::string& value);
};

}  // namespace dravnel
