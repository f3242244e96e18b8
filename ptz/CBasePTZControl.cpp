#include "ptz/CBasePTZControl.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "ptz/CPtzCapabilities.h"
#include "ptz/CVistaPTZComm.h"

namespace dravnel {

CBasePTZControl::CBasePTZControl(IDriver* driver, unsigned channel)
    : driver_(driver), channel_(channel), presets_(channel) {}

CBasePTZControl::~CBasePTZControl() { ReleaseComm(); }

void CBasePTZControl::ReleaseComm() {
    if (!comm_) return;
    presets_.SetComm(nullptr, 0);
    comm_->Close();
    comm_.reset();
}

bool CBasePTZControl::Initialize(TSmartPtr<CXMLPrepositionReader> storage) {
    comm_.reset(CreatePTZComm());
    if (comm_ && comm_->Open() && storage) {
        presets_.SetComm(comm_.get(), comm_->PresetCapacity());
        presets_.SetStorage(storage);
        return true;
    }
    ReleaseComm();
    return false;
}

int CBasePTZControl::Started(int result, bool* flag) {
    if (result == PTZ_OK) {
        presets_.ResetCurrent();
        if (flag) *flag = true;
    }
    return result;
}

int CBasePTZControl::IsPTZAvailable() {
    if (!comm_) return PTZ_E_FAIL;
    return comm_->IsPTZEnabled(this) ? 1 : 0;
}

int CBasePTZControl::Move(unsigned direction, int speed) {
    if (!comm_) return PTZ_E_FAIL;
    if (direction == 10) return PTZ_E_INVALIDARG;
    const bool zoomDirection = direction == kPtzZoomIn || direction == kPtzZoomOut;
    return Started(comm_->StartMove(direction, this, speed), zoomDirection ? &zooming_ : &panTilting_);
}

int CBasePTZControl::Stop() {
    if (!comm_) return PTZ_E_FAIL;
    bool ok = true;
    const auto stop = [&](bool& flag, bool (CBasePTZComm::*queue)(IIPParams*)) {
        if (!flag) return;
        if ((comm_.get()->*queue)(this))
            flag = false;
        else
            ok = false;
    };
    stop(panTilting_, &CBasePTZComm::StopMoving);
    stop(zooming_, &CBasePTZComm::StopZooming);
    stop(irisChanging_, &CBasePTZComm::StopIrisChanging);
    stop(focusing_, &CBasePTZComm::StopFocusing);
    return ok ? PTZ_OK : PTZ_E_FAIL;
}

int CBasePTZControl::Center(int p1, int p2, int p3) {
    if (!comm_) return PTZ_E_FAIL;
    return Started(comm_->Center(this, p1, p2, p3), nullptr);
}

int CBasePTZControl::ZoomIn(int speed) {
    if (!comm_) return PTZ_E_FAIL;
    return Started(comm_->StartMove(kPtzZoomIn, this, speed), &zooming_);
}

int CBasePTZControl::ZoomOut(int speed) {
    if (!comm_) return PTZ_E_FAIL;
    if (!comm_->Capabilities().zoom) return PTZ_E_NOTSUPPORTED;
    const bool queued = comm_->SendMessage("dravnel::CBasePTZComm::StartMove", MSG_PTZ_MOVE, 0, speed, this,
                                           static_cast<int32_t>(kPtzZoomOut), 0, 0);
    return Started(queued ? PTZ_OK : PTZ_E_FAIL, &zooming_);
}

int CBasePTZControl::Unzoom(int value) {
    if (!comm_) return PTZ_E_FAIL;
    return Started(comm_->Unzoom(this, value), nullptr);
}

int CBasePTZControl::AreaZoom(int p1, int p2, int p3, int p4) {
    if (!comm_) return PTZ_E_FAIL;
    return Started(comm_->AreaZoom(this, p1, p2, p3, p4), nullptr);
}

int CBasePTZControl::FocusNear(int speed) {
    if (!comm_) return PTZ_E_FAIL;
    return Started(comm_->StartFocus(this, true, speed), &focusing_);
}

int CBasePTZControl::FocusFar(int speed) {
    if (!comm_) return PTZ_E_FAIL;
    return Started(comm_->StartFocus(this, false, speed), &focusing_);
}

int CBasePTZControl::IrisOpen(int speed) {
    if (!comm_) return PTZ_E_FAIL;
    return Started(comm_->StartIris(this, true, speed), &irisChanging_);
}

int CBasePTZControl::IrisClose(int speed) {
    if (!comm_) return PTZ_E_FAIL;
    return Started(comm_->StartIris(this, false, speed), &irisChanging_);
}

int CBasePTZControl::GetPTZInfo(PTZ_INFO* info) {
    if (!comm_) return PTZ_E_FAIL;
    if (!info) return PTZ_E_INVALIDARG;
    const int result = comm_->GetCapabilities(info);
    info->presetCapacity = comm_->PresetCapacity();
    info->presetCount = presets_.GetCount();
    return result;
}

int CBasePTZControl::GetPresetCount() { return static_cast<int>(presets_.GetCount()); }

int CBasePTZControl::CopyName(const std::string& name, char* buffer, unsigned size) {
    if (!buffer || size <= name.size()) return PTZ_E_INVALIDARG;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return PTZ_OK;
}

int CBasePTZControl::GetPresetName(unsigned index, char* buffer, unsigned size) {
    std::string name;
    if (!presets_.GetName(index, name)) return PTZ_E_PRESET;
    return CopyName(name, buffer, size);
}

int CBasePTZControl::GetCurrentPresetName(char* buffer, unsigned size) {
    std::string name;
    if (!presets_.GetCurrentName(name)) return PTZ_E_PRESET;
    return CopyName(name, buffer, size);
}

int CBasePTZControl::GoToPreset(int value, const char* name) {
    if (!name) return PTZ_E_INVALIDARG;
    return presets_.SelectPreposition(name, value) ? PTZ_OK : PTZ_E_PRESET;
}

int CBasePTZControl::AddPreset(const char* name) {
    if (!name) return PTZ_E_INVALIDARG;
    return presets_.AddPreposition(name);
}

int CBasePTZControl::DeletePreset(const char* name) {
    if (!name) return PTZ_E_INVALIDARG;
    return presets_.RemovePreposition(name) ? PTZ_OK : PTZ_E_PRESET;
}

// The Vista control ---------------------------------------------------------

CVistaPTZControl::~CVistaPTZControl() { ReleaseComm(); }

CBasePTZComm* CVistaPTZControl::CreatePTZComm() {
    const CPtzCapabilities capabilities = ParseCapabilityString(Driver() ? Driver()->GetParameterText(7) : "");
    return new (std::nothrow) CVistaPTZComm(static_cast<unsigned short>(GetChannel()), Driver(), capabilities);
}

int CVistaPTZControl::Move(unsigned direction, int speed) {
    if (speed == 0) return Stop();
    const int64_t change = static_cast<int64_t>(speed) - lastSpeed_;
    if (std::llabs(change) > 1 || direction != lastDirection_) {
        lastDirection_ = direction;
        lastSpeed_ = speed;
        return CBasePTZControl::Move(direction, speed);
    }
    return PTZ_OK;  // a repeat of the last move
}

int CVistaPTZControl::Stop() {
    if (PanTilting()) {
        lastDirection_ = kNoDirection;
        lastSpeed_ = 0;
    }
    return CBasePTZControl::Stop();
}

}  // namespace dravnel
