#include "ptz/CVistaPTZComm.h"

#include <algorithm>
#include <vector>

#include "web/HUtils.h"
#include "web/HttpRequests.h"

namespace dravnel {

namespace {

const DEVICE_INFO& DeviceOf(IDriver* sink) {
    static const DEVICE_INFO none;
    const DEVICE_INFO* device = sink ? sink->GetDeviceInfo() : nullptr;
    return device ? *device : none;
}

std::string MoveQuery(const CPTZItem& item) {
    const uint32_t direction = static_cast<uint32_t>(item.a);
    const bool zoomDirection = direction == kPtzZoomIn || direction == kPtzZoomOut;
    if (item.speed == 0) return zoomDirection ? "&zoom=stop" : "&move=stop";
    if (item.speed < 0) return {};
    const unsigned s = CVistaPTZComm::ScaleSpeed(item.speed);
    const auto pan = [s](const char* move) { return HUtils::Format("&pspd=%u", s) + move; };
    const auto tilt = [s](const char* move) { return HUtils::Format("&tspd=%u", s) + move; };
    const auto diagonal = [s](const char* move) { return HUtils::Format("&tspd=%u&tspd=%u", s, s) + move; };
    switch (direction) {
    case kPtzLeft:
        return pan("&move=left");
    case kPtzRight:
        return pan("&move=right");
    case kPtzUp:
        return tilt("&move=up");
    case kPtzDown:
        return tilt("&move=down");
    case kPtzUpLeft:
        return diagonal("&move=upleft");
    case kPtzUpRight:
        return diagonal("&move=upright");
    case kPtzDownLeft:
        return diagonal("&move=downleft");
    case kPtzDownRight:
        return diagonal("&move=downright");
    case kPtzZoomIn:
        return "&zoom=tele";
    case kPtzZoomOut:
        return "&zoom=wide";
    default:
        return {};
    }
}

}  // namespace

CVistaPTZComm::CVistaPTZComm(unsigned short channel, IDriver* sink, const CPtzCapabilities& capabilities)
    : CBasePTZComm(channel, sink, capabilities),
      commandUrl_(HUtils::Format("/ptz/control.php?ch=%u", channel + 1u)),
      querySender_(DeviceOf(sink)),
      commandSender_(DeviceOf(sink)) {}

// The PTZ thread uses the senders: it ends before they go.
CVistaPTZComm::~CVistaPTZComm() { Close(); }

bool CVistaPTZComm::Stop() {
    stopEvent_.Set();
    commandSender_.CloseRequest();
    return CBasePTZComm::Stop();
}

unsigned CVistaPTZComm::ScaleSpeed(int speed) {
    const int64_t s = (static_cast<int64_t>(speed) + 1) / 2;
    return static_cast<unsigned>(std::clamp<int64_t>(s, 1, 8));
}

std::string CVistaPTZComm::CommandQuery(const CPTZItem& item, std::string& warning) {
    warning.clear();
    switch (item.type) {
    case MSG_PTZ_MOVE:
        return MoveQuery(item);
    case MSG_CHANGE_FOCUS:
        if (item.speed == 0) return "&focus=stop";
        if (item.speed < 0) return {};
        if (item.param == kFocusFar) return "&focus=far";
        if (item.param == kFocusNear) return "&focus=near";
        warning = HUtils::Format("%s: Unexpected parameter %u for MSG_CHANGE_FOCUS command",
                                 "dravnel::CVistaPTZComm::ProcessFocusCommand", item.param);
        return {};
    case MSG_CHANGE_IRIS:
        if (item.speed == 0) return "&iris=stop";
        if (item.speed < 0) return {};
        if (item.param == kIrisOpen) return "&iris=open";
        if (item.param == kIrisClose) return "&iris=close";
        warning = HUtils::Format("%s: Unexpected parameter %u for MSG_CHANGE_IRIS command",
                                 "dravnel::CVistaPTZComm::ProcessIrisCommand", item.param);
        return {};
    case MSG_PTZ_STOP:
        switch (item.param) {
        case kStopMoving:
            return "&move=stop";
        case kStopZooming:
            return "&zoom=stop";
        case kStopFocusing:
            return "&focus=stop";
        case kStopIrisChanging:
            return "&iris=stop";
        default:
            warning = HUtils::Format("%s: Unexpected parameter %u for MSG_PTZ_STOP command",
                                     "dravnel::CVistaPTZComm::ProcessStopCommand", item.param);
            return {};
        }
    default:
        warning =
            HUtils::Format("%s: Unexpected command type (%u)", "dravnel::CVistaPTZComm::HandleWorkItem", item.type);
        return {};
    }
}

void CVistaPTZComm::HandleWorkItem(CPTZItem* item) {
    if (!item) return;
    std::string warning;
    const std::string query = CommandQuery(*item, warning);
    if (!warning.empty()) DebugMessage(kLevelWarning, "%s", warning.c_str());
    SendCommand(query);
}

void CVistaPTZComm::SendCommand(const std::string& query) {
    if (StopRequested() || query.empty()) return;
    const CResultDef result = HUtils::RequestGetNoBody(commandUrl_ + query, commandSender_);
    if (!result.Succeeded()) LogResult(result, true);
}

bool CVistaPTZComm::ThrottleAllows() {
    uint32_t n = errorLogCounter_.fetch_add(1) + 1;
    if (n < 15) return true;
    if (n < 255) return n % 16 == 0;
    if (n < 4095) return n % 256 == 0;
    if (n < 65535) return n % 4096 == 0;
    errorLogCounter_.compare_exchange_strong(n, 4095);
    return false;
}

void CVistaPTZComm::LogResult(const CResultDef& result, bool throttled) {
    if (throttled && !ThrottleAllows()) return;
    if (result.message.empty() || result.level == static_cast<uint32_t>(kLevelNever)) return;
    DebugMessage(static_cast<int>(result.level), "%s", result.message.c_str());
}

bool CVistaPTZComm::SendPresetCommand(const char* key, unsigned id) {
    const std::string path = commandUrl_ + HUtils::Format("&%s=%u", key, id + 1u);
    const CResultDef result = HUtils::RequestGetNoBody(path, querySender_);
    if (!result.Succeeded()) LogResult(result, false);
    return result.Succeeded();
}

bool CVistaPTZComm::GoToPreposition(unsigned id, const std::string&, int) { return SendPresetCommand("preset", id); }

bool CVistaPTZComm::SavePreposition(unsigned id, const std::string&) { return SendPresetCommand("presetsave", id); }

bool CVistaPTZComm::IsPTZEnabled(IIPParams* params) {
    if (!CBasePTZComm::IsPTZEnabled(params)) return false;
    if (Sink() && Sink()->GetParameterInt(9) == 1) return IsPtzEnabledOnDevice();
    return true;
}

bool CVistaPTZComm::IsPtzEnabledOnDevice() {
    std::vector<uint8_t> reply;
    CResultDef result = HUtils::RequestGetRD("/device/ptz.php?app=get", reply, querySender_, true);
    if (result.Succeeded() && !reply.empty()) {
        const std::string body(reply.begin(), reply.end());
        const std::string key = HUtils::Format("ptz%u_enable", Channel() + 1u);
        return HUtils::GetValue(body, key, "=", "&\r\n") == "1";
    }
    if (result.Succeeded()) {
        result = CResultDef(kLevelError, 10,
                            HUtils::Format("%s: Device %s returns empty response for PTZ configuration request",
                                           "dravnel::CVistaPTZComm::IsPtzEnabledOnDevice",
                                           Sink() ? Sink()->GetAddressText().c_str() : ""));
    }
    LogResult(result, true);
    return querySender_.StatusCode() == 0;
}

}  // namespace dravnel
