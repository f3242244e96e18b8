// The capability query: what a device is, asked before it is added.
#pragma once

#include <cstdint>

namespace dravnel::ipcapture {

// Host objects the query writes its results into (positions binding).
class IHostTextField {
public:
    virtual ~IHostTextField() = default;
    virtual void SetText(const char* text) = 0;
};

class IHostPropertyEntry {
public:
    virtual ~IHostPropertyEntry() = default;
    virtual void SetValue(const char* text) = 0;
    virtual void Reserved3() {}
    virtual void Reserved4() {}
    virtual void SetAttributeB(uint32_t value) = 0;
    virtual void SetName(const char* text) = 0;
    virtual void SetAttributeA(uint32_t value) = 0;
};

class IHostResolutionList {
public:
    virtual ~IHostResolutionList() = default;
    virtual void Add(const char* text, uint16_t width, uint16_t height, uint32_t rate) = 0;
};

class IHostFrameRateList {
public:
    virtual ~IHostFrameRateList() = default;
    virtual void SetDefaultRate(uint32_t rate) = 0;
    virtual void AddRate(uint32_t rate) = 0;
};

class IHostCapabilityResults {
public:
    virtual ~IHostCapabilityResults() = default;
    virtual void SetCapability(uint32_t id, uint32_t value) = 0;
    virtual void SetDeviceName(const char* name) = 0;
    virtual IHostTextField* GetConnectionField(uint32_t index) = 0;
    virtual void Reserved5() {}
    virtual IHostPropertyEntry* CreateProperty(uint32_t id) = 0;
    virtual IHostResolutionList* GetResolutionList() = 0;
    virtual void Reserved8() {}
    virtual IHostFrameRateList* GetFrameRateList(uint32_t kind) = 0;
};

// How a query ended, told once per query on the query's thread. reason of
// OnQueryFailed: 1 the device refused the login, otherwise the query failed;
// the message says why in one line.
class IHostCapabilitySink {
public:
    virtual ~IHostCapabilitySink() = default;
    virtual void Reserved2() {}
    virtual void OnQueryCompleted() = 0;
    virtual void OnQueryFailed(uint32_t reason, const char* message) = 0;
    virtual void OnQueryTerminated() = 0;
};

class IIPCapabilityQuery {
public:
    virtual ~IIPCapabilityQuery() = default;
    // Starts the query of one device on the module's own thread; the results
    // are written into `results` (which must live until the sink has heard the
    // outcome), then the sink hears exactly one of OnQueryCompleted,
    // OnQueryFailed or OnQueryTerminated. False when a query already runs or
    // the address holds a character no host name has.
    virtual bool Start(const char* address, uint16_t port, const char* userName, const char* password,
                       IHostCapabilityResults* results) = 0;
    // Ends a running query promptly, breaking off the request in progress.
    virtual void Terminate() = 0;
};

}  // namespace dravnel::ipcapture
