// The device's PTZ driver as the host sees it: one control per PTZ channel,
// made on first demand and kept until the handler goes, and the preset file
// all of them share.
//
//   host --GetPTZApiEx(ch)--> handler --first time--> storage (once per handler)
//                                                  --> CreatePTZControl(ch)->Initialize(storage)
//
// A request that cannot be met (no such channel, no preset file, a control
// whose queue does not start) gets null and leaves nothing behind, so the
// next request tries again: a preset file that could not be opened is
// dropped rather than kept unopened.
//
// Thread-safety: no lock; the host asks for controls from one thread. The
// controls it hands out are thread-safe towards their queues.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "ptz/CBasePTZControl.h"
#include "ptz/CXMLPrepositionReader.h"
#include "quarnel/CaptureDriver.h"
#include "quarnel/Ptz.h"
#include "rtp/TSmartPtr.h"

namespace dravnel {

// The host's two PTZ driver interfaces on one table: GetPTZApi is GetPTZApiEx.
class CIPPTZDriverIf : public ipcapture::IIPPTZDriverEx {
public:
    IIPPTZApi* GetPTZApi(unsigned channel) override { return GetPTZApiEx(channel); }
};

class CBasePTZHandler : public CIPPTZDriverIf {
public:
    CBasePTZHandler(IDriver* driver, unsigned channelCount, std::string deviceFamilyName);
    ~CBasePTZHandler() override;

    IIPPTZApiEx* GetPTZApiEx(unsigned channel) override;
    virtual std::string GetXMLStorageFileName() = 0;
    virtual CBasePTZControl* CreatePTZControl(unsigned channel) = 0;
    virtual void ReleaseControls();
    virtual bool InitializeXMLStorage();

protected:
    IDriver* Driver() const { return driver_; }

private:
    IDriver* const driver_;
    std::map<unsigned, std::unique_ptr<CBasePTZControl>> controls_;
    const unsigned channelCount_;
    TSmartPtr<CXMLPrepositionReader> storage_;
    const std::string deviceFamilyName_;
};

class CVistaPTZHandler : public CBasePTZHandler {
public:
    CVistaPTZHandler(IDriver* driver, unsigned channelCount) : CBasePTZHandler(driver, channelCount, "Vista") {}

    // Driver parameter 8; empty, with a level-1 message, when it is not given.
    std::string GetXMLStorageFileName() override;
    CBasePTZControl* CreatePTZControl(unsigned channel) override;
};

}  // namespace dravnel
