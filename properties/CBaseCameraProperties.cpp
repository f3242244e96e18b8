#include "properties/CBaseCameraProperties.h"

#include <algorithm>

#include "web/HUtils.h"

namespace dravnel {

uint32_t HostRateValue(uint32_t fps, bool extendedRates) {
    if (fps == 0) return 1000;
    if (extendedRates && fps > 30) return fps | 0x70000000u;
    return (1000u + fps / 2) / fps;
}

CBaseCameraProperties::CBaseCameraProperties(uint32_t standard, const DEVICE_INFO& deviceInfo)
    : device(deviceInfo), videoStandard(standard), deviceVideoStandard(standard) {}

CBaseCameraProperties::~CBaseCameraProperties() = default;

void CBaseCameraProperties::AddResolution(uint32_t width, uint32_t height, uint32_t maxFps) {
    if (width == 0 || height == 0 || width > UINT16_MAX || height > UINT16_MAX) return;
    const uint32_t rate = maxFps != 0 ? HostRate(maxFps) : 0;
    for (CameraResolution& known : resolutions) {
        if (known.width != width || known.height != height) continue;
        if (rate != 0 && rate < known.maxRate) known.maxRate = rate;
        return;
    }
    if (resolutions.size() >= kMaxResolutions) return;
    resolutions.push_back({static_cast<uint16_t>(width), static_cast<uint16_t>(height), rate});
}

bool CBaseCameraProperties::WriteFrameRates(ipcapture::IHostFrameRateList* sink) {
    if (frameRates.empty() || !sink) return false;
    for (uint32_t rate : frameRates)
        if (rate != 0) sink->AddRate(HostRate(rate));
    const uint32_t wanted = defaultFrameRate != 0 ? defaultFrameRate : *frameRates.rbegin() / 2;
    const auto preferred = frameRates.lower_bound(wanted);
    if (preferred != frameRates.end()) sink->SetDefaultRate(HostRate(*preferred));
    return true;
}

bool CBaseCameraProperties::WriteProperty(ipcapture::IHostCapabilityResults* sink, uint32_t id, const std::string& name,
                                          uint32_t attributeB, const std::string& value) {
    ipcapture::IHostPropertyEntry* entry = sink->CreateProperty(id);
    if (!entry) return false;
    entry->SetName(name.c_str());
    entry->SetAttributeA(0);
    entry->SetAttributeB(attributeB);
    entry->SetValue(value.empty() ? "(none)" : value.c_str());
    return true;
}

bool CBaseCameraProperties::SaveResults(ipcapture::IHostCapabilityResults* results) {
    if (!results || modelName.empty()) return false;

    const std::string name = groupName.empty() ? modelName : groupName + " " + modelName;
    results->SetDeviceName(name.c_str());

    const std::string port = std::to_string(device.Port);
    const std::string* const fields[] = {&device.Address, &port, &device.UserName, &device.Password};
    for (uint32_t index = 1; index <= 4; ++index) {
        ipcapture::IHostTextField* field = results->GetConnectionField(index);
        if (!field) return false;
        field->SetText(fields[index - 1]->c_str());
    }

    bool anyCodec = false;
    for (int32_t codec : codecs) {
        const uint32_t id = codec == kDeviceCodecH264    ? 8
                            : codec == kDeviceCodecMpeg4 ? 6
                            : codec == kDeviceCodecMjpeg ? 7
                                                         : 0;
        if (id == 0) continue;
        results->SetCapability(id, 1);
        anyCodec = true;
    }
    if (!anyCodec || channelCount == 0) return false;
    results->SetCapability(0, channelCount);

    ipcapture::IHostResolutionList* list = results->GetResolutionList();
    if (!list) return false;
    const uint32_t fallback = !frameRates.empty() ? *frameRates.rbegin() : deviceVideoStandard == 1 ? 30 : 25;
    for (const CameraResolution& r : resolutions) {
        const std::string text =
            HUtils::Format("%ux%u", static_cast<unsigned>(r.width), static_cast<unsigned>(r.height));
        list->Add(text.c_str(), r.width, r.height, r.maxRate != 0 ? r.maxRate : HostRate(fallback));
    }

    if (!WriteFrameRates(results->GetFrameRateList(1))) return false;

    if (hasPtz) results->SetCapability(1, 1);
    if (capability5) results->SetCapability(5, 1);
    results->SetCapability(11, frameRateListA ? 1 : 0);
    results->SetCapability(12, frameRateListB ? 1 : 0);
    if (alarmInputCount != 0) results->SetCapability(2, alarmInputCount);
    if (alarmOutputCount != 0) results->SetCapability(3, alarmOutputCount);
    if (capabilityValue != 0 && capabilityMode != 2) {
        results->SetCapability(13, capabilityValue);
        results->SetCapability(15, capabilityMode == 2 ? 1 : 0);
        results->SetCapability(14, capabilityMode == 1 ? 1 : 0);
        results->SetCapability(16, 0);
        results->SetCapability(17, 0);
    }
    if (audioInput.count != 0) {
        results->SetCapability(4, audioInput.count);
        if (!WriteProperty(results, 101, "Audio Input Parameters", 1, audioInput.Text())) return false;
    }
    if (audioOutput.count != 0 && !WriteProperty(results, 102, "Audio Output Parameters", 1, audioOutput.Text()))
        return false;

    return WriteProperties(results);
}

}  // namespace dravnel
