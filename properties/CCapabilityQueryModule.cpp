#include "properties/CCapabilityQueryModule.h"

#include <new>

#include "platform/DebugOutput.h"
#include "properties/CVistaCameraProperties.h"
#include "web/HUtils.h"

namespace dravnel {

CCapabilityQueryModule::CCapabilityQueryModule(ipcapture::IHostCapabilitySink* sink, bool ntsc)
    : videoStandard_(ntsc ? 1 : 0), device_(std::string(), std::string(), std::string()), sink_(sink) {
    device_.HttpTimeout = 5000;
    device_.StreamTimeout = 5000;
}

CCapabilityQueryModule::~CCapabilityQueryModule() { Shutdown(); }

void CCapabilityQueryModule::Shutdown() {
    Terminate();
    CScopedLock guard(lock_);
    if (thread_.Held() && !thread_.IsCurrent()) {
        const uint32_t limit = 2 * device_.HttpTimeout;
        if (!thread_.WaitFinished(limit)) {
            // A thread is never killed: say so and wait on. Every request of
            // the stopped query fails at once, so this wait ends.
            platform::WriteDebuggerOutput(HUtils::Format(
                "dravnel::CCapabilityQueryModule::~CCapabilityQueryModule: the query thread did not end within "
                "%u ms; waiting for it",
                limit));
        }
        thread_.Join();
    }
    std::lock_guard<std::mutex> properties(propertiesMutex_);
    properties_.Release();
}

bool CCapabilityQueryModule::Start(const char* address, uint16_t port, const char* userName, const char* password,
                                   ipcapture::IHostCapabilityResults* results) {
    CScopedLock guard(lock_);
    if (thread_.Held()) return false;
    results_ = results;
    if (!address || !userName || !password) return false;
    device_.HttpTimeout = 5000;
    device_.Address = address;
    device_.Port = port;
    device_.UserName = userName;
    device_.Password = password;
    {
        std::lock_guard<std::mutex> properties(propertiesMutex_);
        properties_ = CreateProperties();
        if (!properties_) return false;
    }
    return thread_.Start([this] { RunQuery(); });
}

void CCapabilityQueryModule::Terminate() {
    TSmartPtr<CBaseCameraProperties> properties;
    {
        std::lock_guard<std::mutex> guard(propertiesMutex_);
        properties = properties_;
    }
    if (!properties) return;
    properties->StopEvent().Set();
    properties->Cancel();
}

std::string CCapabilityQueryModule::QueryFailureMessage(uint32_t reason) {
    std::string message = kMessageQueryFailed;
    if (reason == kQueryRefused) message += ", login failed (invalid credentials)";
    if (reason == kQueryOffline) message += ", device is offline or is located in unaccessible subnet";
    return message;
}

void CCapabilityQueryModule::RunQuery() {
    uint32_t reason = kQueryFailed;
    std::string message;
    bool succeeded = false;
    {
        TSmartPtr<CBaseCameraProperties> properties;
        {
            std::lock_guard<std::mutex> guard(propertiesMutex_);
            properties = properties_;
        }
        if (device_.Address.find_first_of(kForbidden) != std::string::npos) {
            message = kMessageInvalidAddress;
        } else if (!properties || !results_) {
            message = kMessageInternalError;
        } else if (!properties->Query(&reason)) {
            message = QueryFailureMessage(reason);
        } else if (!properties->SaveResults(results_)) {
            message = kMessageSaveFailed;
        } else {
            succeeded = true;
        }
    }
    // The sink may destroy this module: nothing of it is touched afterwards.
    ipcapture::IHostCapabilitySink* sink = sink_;
    if (!sink) return;
    if (succeeded)
        sink->OnQueryCompleted();
    else
        sink->OnQueryFailed(reason, message.c_str());
}

CBaseCameraProperties* CVistaCapabilityQueryModule::CreateProperties() {
    try {
        return new CVistaCameraProperties(videoStandard_, device_);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace dravnel
