#include "io/CIOBase.h"

#include <exception>
#include <new>

namespace dravnel {

CIOBase::CIOBase(IDriver* driver, bool monitorInputs)
    : CBaseThread(driver),
      driver_(driver),
      outputThread_(driver, this, &CIOBase::SetOutputStateWrapper),
      monitorInputs_(monitorInputs) {}

CIOBase::~CIOBase() {
    // Normally done by the derived class's StopIO already; nothing is left
    // running once the object goes.
    outputThread_.Stop();
    JoinThread(platform::kInfinite);
}

bool CIOBase::SetCallback(ipcapture::ICaptureIOCallback* callback) {
    if (!callback) return false;
    CScopedLock guard(stateLock_);
    callback_ = callback;
    return true;
}

unsigned CIOBase::GetInputCount() { return driver_->GetDeviceValues().first; }

unsigned CIOBase::GetOutputCount() { return driver_->GetDeviceValues().second; }

bool CIOBase::StartIO() {
    ResetStates();
    ResetConfiguration();
    bool result = true;
    const DEVICE_INFO* device = driver_->GetDeviceInfo();
    const unsigned outputs = GetOutputCount();
    if (outputs != 0) {
        {
            CScopedLock guard(stateLock_);
            reportOutputErrors_ = true;
        }
        if (!outputThread_.Start("Digital Output thread (" + driver_->GetDriverName() + ")")) {
            result = false;
            driver_->DebugMessage(kLevelError, "%s: Start Output thread failed! Device %s:%u",
                                  "dravnel::CIOBase::StartIO", device->Address.c_str(),
                                  static_cast<unsigned>(device->Port));
        } else {
            // Each output's state stays unknown until the output thread has
            // sent it off, so the device hears every one of these.
            for (unsigned i = 0; i < outputs; ++i) ChangeOutputState(i, kIOStateInactive);
        }
    }
    if (GetInputCount() != 0 && monitorInputs_) {
        {
            CScopedLock guard(stateLock_);
            reportInputErrors_ = true;
        }
        if (!StartThread("Digital Input thread (" + driver_->GetDriverName() + ")")) {
            result = false;
            driver_->DebugMessage(kLevelError, "%s: Start Input thread failed! Device %s:%u",
                                  "dravnel::CIOBase::StartIO", device->Address.c_str(),
                                  static_cast<unsigned>(device->Port));
        }
    }
    return result;
}

bool CIOBase::StopIO() {
    outputThread_.SignalStop();
    stopEvent_.Set();
    AbortRequests();

    bool result = true;
    const DEVICE_INFO* device = driver_->GetDeviceInfo();
    if (!outputThread_.Stop()) {
        result = false;
        driver_->DebugMessage(kLevelError, "%s: Stop Output thread failed! Device %s:%u", "dravnel::CIOBase::StopIO",
                              device->Address.c_str(), static_cast<unsigned>(device->Port));
    }
    if (!JoinThread(device->HttpTimeout)) {
        result = false;
        driver_->DebugMessage(kLevelError, "%s: Stop Input thread failed! Device %s:%u", "dravnel::CIOBase::StopIO",
                              device->Address.c_str(), static_cast<unsigned>(device->Port));
    }
    ResetStates();
    return result;
}

uint32_t CIOBase::Run() {
    for (;;) {
        try {
            MonitorInputStatesWrapper();
        } catch (...) {
            const std::string name = driver_->GetDriverName();
            driver_->DebugMessage(kLevelError, "%s: unhandled exception in %s driver",
                                  "dravnel::CIOBase::ThreadFunction", name.c_str());
        }
        if (stopEvent_.Wait(1000)) return 0;
    }
}

void CIOBase::MonitorInputStatesWrapper() {
    if (GetInputStates()) return;
    // Reading broken off by a stop is no failure of the device.
    if (InputStopping()) return;
    bool report = false;
    {
        CScopedLock guard(stateLock_);
        ReportFailure();
        report = reportInputErrors_;
        reportInputErrors_ = false;
    }
    if (report) {
        const DEVICE_INFO* device = driver_->GetDeviceInfo();
        driver_->DebugMessage(kLevelError, "%s: GetInputStates() method failed! Device %s:%u",
                              "dravnel::CIOBase::MonitorInputStatesWrapper", device->Address.c_str(),
                              static_cast<unsigned>(device->Port));
    }
}

void CIOBase::UpdateInputState(unsigned index, int state) {
    CScopedLock guard(stateLock_);
    const auto it = inputStates_.find(index);
    if (it == inputStates_.end()) return;
    reportInputErrors_ = true;
    if (it->second == state) return;
    it->second = state;
    if (callback_) callback_->OnInputStateChanged(index, state);
}

bool CIOBase::ChangeOutputState(unsigned index, int state) {
    COutputState* item = new (std::nothrow) COutputState(index, state);
    return item && outputThread_.Post(item);
}

void CIOBase::SetOutputStateWrapper(unsigned index, int state) {
    {
        CScopedLock guard(stateLock_);
        const auto it = outputStates_.find(index);
        if (it == outputStates_.end() || it->second == state) return;
        it->second = state;
    }
    const bool sent = SetOutputState(index, state);
    // A switch broken off by a stop is no failure of the device.
    if (!sent && OutputStopping()) return;
    bool report = false;
    {
        CScopedLock guard(stateLock_);
        if (sent) {
            reportOutputErrors_ = true;
            return;
        }
        ReportFailure();
        report = reportOutputErrors_;
        reportOutputErrors_ = false;
    }
    if (report) {
        const DEVICE_INFO* device = driver_->GetDeviceInfo();
        driver_->DebugMessage(kLevelError, "%s: Unable to change output state for device %s:%u (output index %u)",
                              "dravnel::CIOBase::SetOutputStateWrapper", device->Address.c_str(),
                              static_cast<unsigned>(device->Port), index);
    }
}

void CIOBase::ResetStates() {
    CScopedLock guard(stateLock_);
    ResetStatesLocked();
}

void CIOBase::ResetStatesLocked() {
    outputStates_.clear();
    for (unsigned i = 0, n = GetOutputCount(); i < n; ++i) outputStates_.emplace(i, kIOStateUnknown);
    inputStates_.clear();
    for (unsigned i = 0, n = GetInputCount(); i < n; ++i) inputStates_.emplace(i, kIOStateUnknown);
}

void CIOBase::ReportFailure() {
    ResetStatesLocked();
    if (callback_) callback_->OnIOFailure();
}

std::map<uint32_t, int> CIOBase::InputStates() const {
    CScopedLock guard(stateLock_);
    return inputStates_;
}

std::map<uint32_t, int> CIOBase::OutputStates() const {
    CScopedLock guard(stateLock_);
    return outputStates_;
}

}  // namespace dravnel
