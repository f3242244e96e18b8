// The host's capability query: one query per module, on a thread of its own,
// identifying and probing the device with a properties object and reporting
// exactly one outcome to the host's sink (OnQueryCompleted or OnQueryFailed).
//
//   host                      module                         query thread
//   Start(addr, ..., results) -> properties, thread  ------>  RunQuery
//   Terminate()               -> stop event + Cancel           Query (aborted) -> OnQueryFailed
//   delete                    -> Terminate, wait for the thread (never killed)
//
// Thread-safety: Start and destruction are serialised by the lock; Terminate
// may be called from any thread (the sink's callbacks included) and only
// signals. The properties object is
// shared with the thread by reference count. The host may destroy the module
// from its own sink callback: the thread touches nothing of the module after
// that call.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/Thread.h"
#include "properties/CBaseCameraProperties.h"
#include "quarnel/CapabilityQuery.h"
#include "rtp/TSmartPtr.h"
#include "threads/CLock.h"

namespace dravnel {

class CCapabilityQueryModule : public ipcapture::IIPCapabilityQuery {
public:
    static constexpr const char* kMessageInvalidAddress =
        "Failed to start capability fetching thread. Device address is invalid!";
    static constexpr const char* kMessageInternalError =
        "Failed to start capability fetching thread. Internal error occurs";
    static constexpr const char* kMessageQueryFailed = "Failed to get camera properties";
    static constexpr const char* kMessageSaveFailed = "Failed to save capability query results";
    // Characters no device address holds, in the order they are stored.
    static constexpr const char* kForbidden = "@#$%^&*(){}[]/\\+=|:;,~'\"!?";

    CCapabilityQueryModule(ipcapture::IHostCapabilitySink* sink, bool ntsc);
    ~CCapabilityQueryModule() override;

    bool Start(const char* address, uint16_t port, const char* userName, const char* password,
               ipcapture::IHostCapabilityResults* results) override;
    void Terminate() override;

    virtual CBaseCameraProperties* CreateProperties() = 0;
    virtual void RunQuery();

    // The message of a failed Query with this reason.
    static std::string QueryFailureMessage(uint32_t reason);

protected:
    // Terminate, then wait for the thread; derived destructors call it first
    // so that the thread never sees a half-destroyed module.
    void Shutdown();

    uint32_t videoStandard_;
    DEVICE_INFO device_;

private:
    ipcapture::IHostCapabilitySink* sink_;
    ipcapture::IHostCapabilityResults* results_ = nullptr;
    // Guards properties_ apart from the lock, which destruction holds while
    // it waits: a Terminate from the host's sink callback must not wait for it.
    std::mutex propertiesMutex_;
    TSmartPtr<CBaseCameraProperties> properties_;
    CLock lock_;
    platform::Thread thread_;
};

class CVistaCapabilityQueryModule final : public CCapabilityQueryModule {
public:
    using CCapabilityQueryModule::CCapabilityQueryModule;
    ~CVistaCapabilityQueryModule() override { Shutdown(); }

    CBaseCameraProperties* CreateProperties() override;
};

}  // namespace dravnel
