#include "ptz/CBasePTZComm.h"

#include <cstdarg>

#include "web/HUtils.h"

namespace dravnel {

CBasePTZComm::CBasePTZComm(unsigned short channel, IDriver* sink, const CPtzCapabilities& capabilities)
    : CQueueThread<CPTZItem>(sink, kMaxWaiting), channel_(channel), capabilities_(capabilities), sink_(sink) {}

CBasePTZComm::~CBasePTZComm() { Close(); }

bool CBasePTZComm::Open() {
    if (!opened_) opened_ = Start(HUtils::Format("BaseIPPTZThread_Ch%u", channel_ + 1u));
    if (!opened_)
        DebugMessage(kLevelError, "%s: unable to start thread for PTZ channel %u", "dravnel::CBasePTZComm::Open",
                     channel_ + 1u);
    return opened_;
}

void CBasePTZComm::Close() {
    if (!opened_) return;
    Stop();
    opened_ = false;
}

bool CBasePTZComm::IsPTZEnabled(IIPParams*) {
    const CPtzCapabilities& c = capabilities_;
    return c.pan || c.tilt || c.zoom || c.focus || c.iris;
}

int CBasePTZComm::GetCapabilities(PTZ_INFO* info) {
    const CPtzCapabilities& c = capabilities_;
    info->reserved7 = info->presetCapacity = info->presetCount = info->reserved10 = info->reserved11 = 0;
    info->pan = c.pan;
    info->tilt = c.tilt;
    info->zoom = c.zoom;
    info->focus = c.focus;
    info->iris = c.iris;
    info->areaZoom = c.areaZoom;
    info->center = c.center;
    info->unzoom = c.unzoom;
    info->presetCapacity = c.presetCount;
    return PTZ_OK;
}

bool CBasePTZComm::SendMessage(const char* operation, uint32_t type, uint32_t param, int32_t speed, IIPParams* source,
                               int32_t a, int32_t b, int32_t c) {
    if (Post(new CPTZItem(type, param, source, speed, a, b, c))) return true;
    DebugMessage(kLevelError, "%s: cannot send message (%d) to thread", operation, static_cast<int>(type));
    return false;
}

int CBasePTZComm::StartMove(uint32_t direction, IIPParams* source, int speed) {
    const bool zoomDirection = direction == kPtzZoomIn || direction == kPtzZoomOut;
    if (zoomDirection ? !capabilities_.zoom : !(capabilities_.pan || capabilities_.tilt)) return PTZ_E_NOTSUPPORTED;
    return SendMessage("dravnel::CBasePTZComm::StartMove", MSG_PTZ_MOVE, 0, speed, source,
                       static_cast<int32_t>(direction), 0, 0)
               ? PTZ_OK
               : PTZ_E_FAIL;
}

int CBasePTZComm::StartFocus(IIPParams* source, bool nearFocus, int speed) {
    if (!capabilities_.focus) return PTZ_E_NOTSUPPORTED;
    return SendMessage("dravnel::CBasePTZComm::StartFocus", MSG_CHANGE_FOCUS, nearFocus ? kFocusNear : kFocusFar, speed,
                       source, 0, 0, 0)
               ? PTZ_OK
               : PTZ_E_FAIL;
}

int CBasePTZComm::StartIris(IIPParams* source, bool open, int speed) {
    if (!capabilities_.iris) return PTZ_E_NOTSUPPORTED;
    return SendMessage("dravnel::CBasePTZComm::StartIris", MSG_CHANGE_IRIS, open ? kIrisOpen : kIrisClose, speed,
                       source, 0, 0, 0)
               ? PTZ_OK
               : PTZ_E_FAIL;
}

int CBasePTZComm::AreaZoom(IIPParams* source, int p1, int p2, int p3, int p4) {
    if (!capabilities_.areaZoom) return PTZ_E_NOTSUPPORTED;
    return SendMessage("dravnel::CBasePTZComm::AreaZoom", MSG_AREA_ZOOM, 0, p4, source, p1, p2, p3) ? PTZ_OK
                                                                                                    : PTZ_E_FAIL;
}

int CBasePTZComm::Center(IIPParams* source, int p1, int p2, int p3) {
    if (!capabilities_.center) return PTZ_E_NOTSUPPORTED;
    return SendMessage("dravnel::CBasePTZComm::Center", MSG_CENTER, 0, p3, source, p1, p2, 0) ? PTZ_OK : PTZ_E_FAIL;
}

int CBasePTZComm::Unzoom(IIPParams* source, int value) {
    if (!capabilities_.unzoom) return PTZ_E_NOTSUPPORTED;
    return SendMessage("dravnel::CBasePTZComm::Unzoom", MSG_UNZOOM, 0, value, source, 0, 0, 0) ? PTZ_OK : PTZ_E_FAIL;
}

bool CBasePTZComm::StopMoving(IIPParams* source) {
    return SendMessage("dravnel::CBasePTZComm::StopMoving", MSG_PTZ_STOP, kStopMoving, 0, source, 0, 0, 0);
}

bool CBasePTZComm::StopZooming(IIPParams* source) {
    return SendMessage("dravnel::CBasePTZComm::StopZooming", MSG_PTZ_STOP, kStopZooming, 0, source, 0, 0, 0);
}

bool CBasePTZComm::StopFocusing(IIPParams* source) {
    return SendMessage("dravnel::CBasePTZComm::StopFocusing", MSG_PTZ_STOP, kStopFocusing, 0, source, 0, 0, 0);
}

bool CBasePTZComm::StopIrisChanging(IIPParams* source) {
    return SendMessage("dravnel::CBasePTZComm::StopIrisChanging", MSG_PTZ_STOP, kStopIrisChanging, 0, source, 0, 0, 0);
}

void CBasePTZComm::DebugMessage(int level, const char* format, ...) {
    if (!sink_ || !format) return;
    va_list args;
    va_start(args, format);
    const std::string text = HUtils::FormatV(format, args);
    va_end(args);
    sink_->DebugMessage(level, "%s", text.c_str());
}

}  // namespace dravnel
