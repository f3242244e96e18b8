// The driver object: takes the host's device description, keeps the device
// record and the numbered driver parameters, sends diagnostics to the host,
// and creates and owns the video capture, the digital I/O object and the PTZ
// driver.
//
// Thread-safety: Open, Close and the Create/Get operations are called by the
// host one at a time. The IDriver operations may be called from every driver
// thread once Open has returned; they only read what Open stored.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "quarnel/CaptureDriver.h"

namespace dravnel {

class CVistaIOCallback;

class CIPCaptureDriver : public ipcapture::IIPCaptureDriverEx3, public IDriver, public ICustomCreator {
public:
    CIPCaptureDriver();
    ~CIPCaptureDriver() override;

    // IIPCaptureDriver family
    bool Open(ipcapture::IHostDebugSink* sink, ipcapture::IHostFrameAllocator* hostContext,
              ipcapture::IHostDeviceDescription* description) override;
    void Close() override;
    ipcapture::IIPVideoCaptureEx* GetVideoCapture() override;
    ipcapture::ICaptureIOApi* GetCaptureIO() override;
    void* GetReservedA() override { return nullptr; }
    ipcapture::IIPPTZDriver* GetPTZDriver() override;
    void* GetReservedB() override { return nullptr; }
    ipcapture::IIPVideoCaptureEx* GetVideoCaptureEx() override { return GetVideoCapture(); }
    ipcapture::IIPPTZDriverEx* GetPTZDriverEx() override;
    virtual bool CreateCaptureIO();
    virtual bool CreatePTZDriver();
    virtual void LogDriverOpened(const std::string& firmware);

    // IDriver
    void DebugMessage(int level, const char* format, ...) override QUARNEL_PRINTF(3, 4);
    std::string GetDriverName() override { return "Quarnel"; }
    std::string GetHostDirectory() override { return hostDirectory_; }
    const DEVICE_INFO* GetDeviceInfo() override { return &device_; }
    std::pair<uint32_t, uint32_t> GetDeviceValues() override { return {alarmInputs_, alarmOutputs_}; }
    ipcapture::IHostFrameAllocator* GetHostContext() override { return hostContext_; }
    bool GetParameterFlag() override { return parameterFlag_; }
    int GetCodec() override { return codec_; }
    uint32_t GetChannelCount() override { return channelCount_; }
    std::string GetAddressText() override;
    std::string GetParameterText(int number) override;
    int GetParameterInt(int number) override;

    // ICustomCreator
    ICameraChannel* CreateChannel(unsigned channel, ipcapture::IHostChannelSink* hostSink) override;
    ICameraChannel* CreateSecondaryChannel(unsigned, ipcapture::IHostChannelSink*) override { return nullptr; }

    const std::array<uint16_t, 4>& HostVersion() const { return hostVersion_; }
    // The I/O object's side for the older devices' video channel; null
    // without an I/O object.
    CVistaIOCallback* GetIOCallback() const { return ioCallback_; }

protected:
    DEVICE_INFO device_;
    bool parameterFlag_ = false;

private:
    ipcapture::IHostDebugSink* sink_ = nullptr;
    ipcapture::IHostFrameAllocator* hostContext_ = nullptr;
    uint32_t alarmInputs_ = 0;
    uint32_t alarmOutputs_ = 0;
    uint32_t channelCount_ = 0;
    int codec_ = 0;
    std::map<int, std::string> parameters_;
    std::array<uint16_t, 4> hostVersion_{5, 12, 0, 0};
    std::string hostDirectory_;

    std::unique_ptr<ipcapture::ICaptureIOApi> captureIO_;
    CVistaIOCallback* ioCallback_ = nullptr;  // the same object as captureIO_
    std::unique_ptr<ipcapture::IIPVideoCaptureEx> videoCapture_;
    std::unique_ptr<ipcapture::IIPPTZDriverEx> ptzDriver_;
};

// A decimal integer with an optional sign and nothing else; false otherwise.
bool ParseSignedDecimal(const std::string& text, int& value);

}  // namespace dravnel
