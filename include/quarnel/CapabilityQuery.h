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
    virtual bool Start(const char* address, uint16_t port, const char* userName, const char* password,
                       IHostCapabilityResults* results) = 0;
    virtual void Terminate() = 0;
};

}  // namespace dravnel::ipcapture
