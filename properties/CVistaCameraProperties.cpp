#include "properties/CVistaCameraProperties.h"

#include <array>
#include <set>
#include <vector>

#include "channel/CResolutionHelper.h"
#include "platform/Process.h"
#include "web/HUtils.h"
#include "web/HttpRequests.h"

namespace dravnel {
namespace {

using HUtils::GetValue;

constexpr std::string_view kLines = "\r\n";
constexpr uint32_t kMaxNumberedInputs = 256;
constexpr std::string_view kEntries = "&\r\n";

std::string Line(const std::string& text, std::string_view key) { return GetValue(text, key, "=", kLines); }
std::string Entry(const std::string& text, std::string_view key) { return GetValue(text, key, "=", kEntries); }

// The decimal digits at the start of the text (wrapping like ParseDecimal).
uint32_t LeadingNumber(std::string_view text) {
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10u + static_cast<uint32_t>(c - '0');
    }
    return value;
}

bool IsHitronTool(const std::string& tool) { return HUtils::ToLower(tool).find("hitron") != std::string::npos; }

struct ModelNames {
    const char* code;
    const char* vista;
    const char* hitron;
};
constexpr std::array<ModelNames, 5> kModels{{{"eVS", "VK-ENCODER1", "HEV-0104"},
                                             {"eMINITRAX", "VK-VPDIP10:1", "HNCV-811PZ0S4"},
                                             {"e22xBOX", "VK-VZM22X-INT(DN)", "HNCB-811NZ1"},
                                             {"eVP", "VK-VRD4V9C", "HNCG-F1SAW0S4"},
                                             {"eSS540", "VK-C402", "HNCB-F1SN"}}};

// Resolution names each device group's video page uses, in trial order.
constexpr std::array<const char*, 7> kGroup1Names{"4CIF", "2CIF", "CIF", "QCIF", "VGA", "QVGA", "QQVGA"};
constexpr std::array<const char*, 10> kGroup2Names{"1080p", "uxga", "xgaplus", "sxga", "960p",
                                                   "720p",  "576p", "480p",    "vga",  "qvga"};
constexpr std::array<const char*, 9> kGroup3Names{"1080P", "SXGA", "720P", "576P", "480P",
                                                  "VGA",   "CIFP", "CIFN", "QVGA"};

// Standard sizes of older firmware.
struct Size {
    uint32_t width, height;
};
constexpr std::array<Size, 4> kNtscSizes{{{160, 120}, {320, 240}, {640, 480}, {720, 480}}};
constexpr std::array<Size, 4> kPalSizes{{{160, 112}, {320, 240}, {640, 480}, {720, 576}}};

}  // namespace

CVistaCameraProperties::CVistaCameraProperties(uint32_t standard, const DEVICE_INFO& deviceInfo)
    : CBaseCameraProperties(standard, deviceInfo), sender_(deviceInfo) {
    const auto v = platform::HostProductVersion();
    const auto atLeast = [&](uint16_t major, uint16_t minor) {
        return v[0] > major || (v[0] == major && v[1] >= minor);
    };
    extendedRates = atLeast(6, 4);
    newHost = atLeast(6, 1);
}

CVistaCameraProperties::~CVistaCameraProperties() = default;

void CVistaCameraProperties::Cancel() { sender_.Cancel(); }

std::string CVistaCameraProperties::MapModelName(const std::string& code, bool vista) {
    for (const ModelNames& names : kModels)
        if (code == names.code) return vista ? names.vista : names.hitron;
    return code;
}

bool CVistaCameraProperties::RequestGet(const std::string& path, std::string& text) {
    if (Stopped() || path.empty()) return false;
    std::vector<uint8_t> body;
    if (!HUtils::RequestGetBody(path, sender_, body)) return false;
    text.assign(body.begin(), body.end());
    return true;
}

bool CVistaCameraProperties::Query(uint32_t* reason) {
    uint32_t scratch = 0;
    if (!reason) reason = &scratch;
    if (!CheckCredentials(reason)) return false;
    std::string text;
    if (RequestGet("/config.txt", text) && !text.empty()) {
        if (ParseConfig(text)) return true;
        if (!Stopped() && ApplyLegacyDefaults(text)) return true;
    }
    *reason = LastStatus() == 401 ? kQueryRefused : kQueryFailed;
    return false;
}

bool CVistaCameraProperties::CheckCredentials(uint32_t* reason) {
    std::string text;
    if (!RequestGet("/system/user.php?app=get", text) && LastStatus() == 401) {
        *reason = kQueryRefused;
        return false;
    }
    return true;
}

bool CVistaCameraProperties::ParseConfig(const std::string& text) {
    if (!ParseIdentity(text)) return false;
    firmware = Line(text, "firmware");
    mac = Line(text, "mac");
    rtspPort = HUtils::GetNumericValue(text, "rtsp_port", "=", kLines);
    if (!ParseOptions(text)) return false;
    if (const std::string tv = Line(text, "tv_mode"); !tv.empty())
        deviceVideoStandard = HUtils::ToLower(tv) == "ntsc" ? 1 : 0;
    return ProbeVideo();
}

bool CVistaCameraProperties::ParseIdentity(const std::string& text) {
    std::string group = Line(text, "customer");
    if (group.empty()) group = IsHitronTool(Line(text, "tool")) ? "Hitron" : "Vista";
    std::string model = Line(text, "model_customer");
    if (!model.empty()) {
        rawModel = Line(text, "model");
    } else {
        model = Line(text, "model");
        if (model.empty()) model = Line(text, "name");
    }
    if (model.empty() || group.empty()) return false;
    groupName = group;
    modelName = model;
    return true;
}

bool CVistaCameraProperties::ParseOptions(const std::string& text) {
    const std::string upper = HUtils::ToUpper(text);
    const std::vector<std::string> list = HUtils::GetListValue(upper, "OPTIONS", "=", kLines, " ");
    const std::set<std::string> words(list.begin(), list.end());  // distinct, ascending byte order
    bool result = !words.empty();
    bool alarmOut = false;
    bool manualTrigger = false;
    for (const std::string& word : words) {
        if (!result) break;
        if (word.starts_with("AUD")) {
            result = true;
        } else if (word.starts_with("ALARM_IN")) {
            result = ProbeAlarmInputs(true);
        } else if (word.starts_with("ALARM_OUT")) {
            alarmOut = true;
            if (manualTrigger) result = ProbeAlarmOutputs(true);
        } else if (word == "MANUAL_TRIGGER") {
            manualTrigger = true;
            if (alarmOut) result = ProbeAlarmOutputs(true);
        } else if (word == "VMD" || word == "MULTI_STREAM" || word == "MASK") {
            result = true;
        } else if (word == "PTZ") {
            const std::string channels = Line(text, "total_ch");
            result = ProbePtz(channels.empty() ? 0 : LeadingNumber(channels));
        } else if (word == "BUILTIN_PTZ") {
            hasPtz = true;
            ptz.pan = ptz.tilt = ptz.zoom = ptz.focus = ptz.iris = true;
            ptz.presetCount = 256;
        } else if (word == "MULTI_CODEC") {
            multiCodec = true;
        } else if (word == "AEAWB") {
            result = ProbeExposure();
        }
    }
    return result;
}

bool CVistaCameraProperties::ProbeResult(bool pageRead) const { return pageRead || (LastStatus() != 0 && !Stopped()); }

bool CVistaCameraProperties::ProbeAlarmInputs(bool current) {
    alarmInputCount = 0;
    std::string page;
    const bool read = RequestGet(current ? "/event/alarm_in.php?app=get" : "/admin/alarm.html?app=get", page);
    if (read) {
        if (const std::string count = Entry(page, "alarm_in_count"); !count.empty()) {
            alarmInputCount = HUtils::ParseDecimal(count);
        } else {
            // Each step searches the page again: the walk stops at a count no
            // device has, so that a hostile page cannot make it quadratic.
            while (alarmInputCount < kMaxNumberedInputs &&
                   !Entry(page, HUtils::Format("alarm_in_%u_enable", alarmInputCount + 1)).empty())
                ++alarmInputCount;
        }
    }
    return ProbeResult(read);
}

bool CVistaCameraProperties::ProbeAlarmOutputs(bool current) {
    alarmOutputCount = 0;
    std::string page;
    const bool read = RequestGet(current ? "/event/alarm_out.php?app=get" : "/admin/event.html?app=get", page);
    if (read && !Entry(page, current ? "alarm_out_enable" : "mandatory_out_enable").empty()) alarmOutputCount = 1;
    return ProbeResult(read);
}

bool CVistaCameraProperties::ProbeExposure() {
    if (deviceGroup == 2 || deviceGroup == 3) return true;
    std::string page;
    const bool read = RequestGet("/video/ae_awb.php?app=get", page);
    if (read) {
        if (!Entry(page, "ae_sensitivity").empty())
            deviceGroup = 2;
        else if (!Entry(page, "exposure_mode").empty())
            deviceGroup = 3;
    } else if (LastStatus() == 404) {
        deviceGroup = 1;
    }
    return ProbeResult(read);
}

bool CVistaCameraProperties::ProbePtz(uint32_t channels) {
    ptz = CPtzCapabilities();
    hasDevicePtzOptions = false;
    if (channels == 0 || mac.empty()) return !Stopped();
    std::string page;
    const bool read = RequestGet("/device/ptz.php?app=get", page);
    const std::string res = read ? Entry(page, "res") : std::string();
    bool present = false;
    if (res == "200" && HUtils::GetNumericValue(page, "ptz_count", "=", kEntries) == channels) {
        hasDevicePtzOptions = true;
        present = true;
    }
    if (res == "400" || (!read && LastStatus() == 400)) present = true;
    if (present) {
        hasPtz = true;
        ptz.pan = ptz.tilt = ptz.zoom = ptz.focus = ptz.iris = true;
        ptz.presetCount = 256;
    }
    return ProbeResult(read);
}

bool CVistaCameraProperties::ProbeVideo() {
    std::string page;
    if (!RequestGet("/video/video.php?app=get&ch=1&strm=1", page)) return false;
    const std::string totalChannels = Entry(page, "total_ch");
    const std::string totalStreams = Entry(page, "total_strm");
    if (totalChannels.empty() || totalStreams.empty()) return false;
    channelCount = HUtils::ParseDecimal(totalChannels);
    if (channelCount == 0) return false;

    for (const char* key : {"ch1_strm1_codec_list", "ch1_strm2_codec_list", "ch1_strm3_codec_list"}) {
        const std::string list = HUtils::ToUpper(Entry(page, key));
        for (const std::string& codec : HUtils::Split(list, '|')) {
            if (codec.find("H264") != std::string::npos)
                codecs.insert(kDeviceCodecH264);
            else if (codec.find("MPEG4") != std::string::npos)
                codecs.insert(kDeviceCodecMpeg4);
            else if (codec.find("MJPEG") != std::string::npos)
                codecs.insert(kDeviceCodecMjpeg);
        }
    }
    if (codecs.empty()) {
        codecs.insert(kDeviceCodecH264);
        codecs.insert(kDeviceCodecMjpeg);
        if (HUtils::ParseDecimal(totalStreams) / channelCount == 4 && !Entry(page, "ch1_strm1_uxga").empty())
            deviceGroup = 2;
        else
            codecs.insert(kDeviceCodecMpeg4);
    }

    const std::string fpsList = Entry(page, "ch1_strm1_fps_list");
    if (fpsList.empty()) {
        frameRates.clear();
        const uint32_t top = deviceGroup == 2 || deviceVideoStandard == 1 ? 30 : 25;
        for (uint32_t rate = 1; rate <= top; ++rate) frameRates.insert(rate);
    } else {
        for (const std::string& rate : HUtils::Split(fpsList, '|'))
            if (const uint32_t fps = HUtils::ParseDecimal(rate); fps != 0) frameRates.insert(fps);
        frameRateListA = frameRateListB = true;
    }
    return ProbeSizes(page);
}

bool CVistaCameraProperties::ProbeSizes(const std::string& page) {
    const CResolutionHelper sizes(deviceVideoStandard == 1, false);
    uint32_t width = 0;
    uint32_t height = 0;
    if (const std::string list = Entry(page, "ch1_strm1_res_list"); !list.empty()) {
        for (const std::string& entry : HUtils::Split(list, '|'))
            if (sizes.GetSize(entry, width, height)) AddResolution(width, height, 0);
        return true;
    }
    const std::string inputMode = Entry(page, "input_mode");
    if (inputMode.empty() || !sizes.GetSize(inputMode, width, height)) return false;
    const uint32_t maxWidth = width;
    const uint32_t maxHeight = height;

    std::vector<const char*> names;
    if (deviceGroup == 2)
        names.assign(kGroup2Names.begin(), kGroup2Names.end());
    else if (deviceGroup == 3)
        names.assign(kGroup3Names.begin(), kGroup3Names.end());
    else
        names.assign(kGroup1Names.begin(), kGroup1Names.end());
    const bool fullHd = Entry(page, "ch1_strm1_1080p") == "1";
    for (const char* name : names) {
        if (Stopped()) return false;
        if (!sizes.GetSize(name, width, height) || width == 0 || height == 0) continue;
        if (width > maxWidth || (width == maxWidth && height > maxHeight)) continue;
        uint32_t maxFps = 0;
        if (deviceGroup == 2) {
            const std::string lower = HUtils::ToLower(name);
            if (Entry(page, "ch1_strm1_" + lower) != "1" && lower != "sxga") continue;
            maxFps = fullHd ? 30 : lower == "uxga" ? 15 : lower == "sxga" ? 24 : 0;
        }
        AddResolution(width, height, maxFps);
    }
    return true;
}

bool CVistaCameraProperties::ParseSystemInfo(const std::string& text) {
    const std::string tool = Line(text, "tool");
    const std::string input = Line(text, "input");
    const std::string rtsp = Line(text, "rtsp_port");
    rawModel = Line(text, "model");
    firmware = Line(text, "firmware");
    if (text.empty() || rawModel.empty() || input.empty()) return false;
    groupName = IsHitronTool(tool) ? "Hitron" : "Vista";
    modelName = MapModelName(rawModel, groupName == "Vista");
    deviceVideoStandard = HUtils::ToLower(input) == "pal" ? 0 : 1;
    if (!rtsp.empty()) rtspPort = LeadingNumber(rtsp);
    deviceGroup = 0;
    return true;
}

bool CVistaCameraProperties::ApplyLegacyDefaults(const std::string& text) {
    codecs.clear();
    frameRates.clear();
    resolutions.clear();
    if (!ParseSystemInfo(text)) return false;
    const bool ntsc = deviceVideoStandard == 1;
    if (!Stopped()) {
        channelCount = 1;
        codecs.insert(kDeviceCodecMpeg4);
        for (uint32_t rate = 5; rate <= (ntsc ? 30u : 25u); rate += 5) frameRates.insert(rate);
        for (const Size& size : ntsc ? kNtscSizes : kPalSizes) AddResolution(size.width, size.height, 0);
    }
    if (!ProbeAlarmInputs(false)) return false;
    return ProbeAlarmOutputs(false);
}

bool CVistaCameraProperties::WriteProperties(ipcapture::IHostCapabilityResults* sink) {
    if (!sink) return false;
    const bool withPtz = !mac.empty() && (ptz.pan || ptz.tilt || ptz.zoom || ptz.focus || ptz.iris);
    const std::pair<const char*, std::string> properties[] = {
        {"Video Standard", std::to_string(videoStandard)},
        {"Device Video Standard", std::to_string(deviceVideoStandard)},
        {"Device RTSP Port", std::to_string(rtspPort)},
        {"OEM Device Group", std::to_string(deviceGroup)},
        {"Real Device Model Name", rawModel},
        {"Firmware Version", firmware},
        {"PTZ Capabilities", withPtz ? BuildCapabilityString(ptz) : std::string()},
        {"Preset Storage Filename", withPtz ? "Vista_" + HUtils::ToUpper(mac) + ".preset" : std::string()},
        {"Has Device-PTZ Options", hasDevicePtzOptions ? "1" : "0"},
    };
    for (const auto& [name, value] : properties)
        if (!WriteProperty(sink, 1, name, 0, value)) return false;
    return true;
}

}  // namespace dravnel
