#include "driver/CIPCaptureDriver.h"

#include <cstdarg>
#include <cstdio>
#include <new>
#include <vector>

#include "channel/CH264ChannelRTSP.h"
#include "channel/CMJPEGChannelRTSP.h"
#include "channel/CMPEG4ChannelRTSP.h"
#include "channel/CVistaMPEGChannelRTSP.h"
#include "driver/CDebugInfo.h"
#include "driver/CIPVideoCapture.h"
#include "io/CVistaIO.h"
#include "platform/Process.h"
#include "ptz/CBasePTZHandler.h"
#include "web/HUtils.h"

namespace dravnel {

bool ParseSignedDecimal(const std::string& text, int& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    uint32_t magnitude = 0;  // wraps like the 32-bit arithmetic it replaces
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        magnitude = magnitude * 10u + static_cast<uint32_t>(text[i] - '0');
    }
    value = static_cast<int>(negative ? 0u - magnitude : magnitude);
    return true;
}

CIPCaptureDriver::CIPCaptureDriver() = default;

CIPCaptureDriver::~CIPCaptureDriver() { Close(); }

bool CIPCaptureDriver::Open(ipcapture::IHostDebugSink* sink, ipcapture::IHostFrameAllocator* hostContext,
                            ipcapture::IHostDeviceDescription* description) {
    sink_ = sink;
    hostContext_ = hostContext;
    if (!description) return false;

    const auto text = [](const char* s) { return s ? std::string(s) : std::string(); };
    if (auto* connection = description->GetConnection()) {
        codec_ = connection->GetCodec();
        device_.Address = text(connection->GetAddress());
        device_.Port = connection->GetPort();
        device_.UserName = text(connection->GetUserName());
        device_.Password = text(connection->GetPassword());
    }
    if (auto* record = description->GetDevice()) {
        alarmInputs_ = record->GetAlarmInputCount();
        alarmOutputs_ = record->GetAlarmOutputCount();
        channelCount_ = record->GetChannelCount();
        device_.Model = text(record->GetModel());
    }
    parameters_.clear();
    for (int n = 1;; ++n) {
        const char* value = description->GetParameter(n);
        if (!value) break;
        parameters_[n] = value;
    }

    hostDirectory_ = platform::ExecutableDirectory();
    hostVersion_ = platform::HostProductVersion();

    if (!CreateCaptureIO() || !CreatePTZDriver()) return false;

    // A channel count too large for memory leaves the host without a video
    // capture rather than ending the process.
    try {
        videoCapture_ = std::make_unique<CIPVideoCapture>(this, channelCount_);
    } catch (const std::bad_alloc&) {
        videoCapture_.reset();
    }
    return true;
}

void CIPCaptureDriver::Close() {
    videoCapture_.reset();
    ioCallback_ = nullptr;
    captureIO_.reset();
    ptzDriver_.reset();
}

ipcapture::IIPVideoCaptureEx* CIPCaptureDriver::GetVideoCapture() { return videoCapture_.get(); }
ipcapture::ICaptureIOApi* CIPCaptureDriver::GetCaptureIO() { return captureIO_.get(); }
ipcapture::IIPPTZDriver* CIPCaptureDriver::GetPTZDriver() { return ptzDriver_.get(); }
ipcapture::IIPPTZDriverEx* CIPCaptureDriver::GetPTZDriverEx() { return ptzDriver_.get(); }

bool CIPCaptureDriver::CreateCaptureIO() {
    if (captureIO_) return true;
    try {
        auto io = std::make_unique<CVistaIO>(this);
        ioCallback_ = io.get();
        captureIO_ = std::move(io);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CIPCaptureDriver::CreatePTZDriver() {
    if (!ptzDriver_) ptzDriver_.reset(new (std::nothrow) CVistaPTZHandler(this, channelCount_));
    return ptzDriver_ != nullptr;
}

ICameraChannel* CIPCaptureDriver::CreateChannel(unsigned channel, ipcapture::IHostChannelSink* hostSink) {
    // Parameter 4 is the device's OEM group: 0 for the older Vista MPEG-4
    // devices, anything else (an absent parameter included) for the current
    // ones.
    const int group = GetParameterInt(4);
    if (group == 0) {
        if (codec_ != kCodecMpeg4) return nullptr;
        // The alarm bits in the video go to the I/O object's alarm inputs
        // once it takes them; until then the channel has no sink.
        return new (std::nothrow) CVistaMPEGChannelRTSP(channel, this, hostSink, ioCallback_);
    }
    switch (codec_) {
    case kCodecMjpeg:
        return new (std::nothrow) CMJPEGChannelRTSP(channel, this, hostSink);
    case kCodecMpeg4:
        return new (std::nothrow) CMPEG4ChannelRTSP(channel, this, hostSink);
    case kCodecH264:
        return new (std::nothrow) CH264ChannelRTSP(channel, this, hostSink);
    default:
        return nullptr;
    }
}

void CIPCaptureDriver::LogDriverOpened(const std::string& firmware) {
    const std::string name = GetDriverName();
    if (name.empty() || device_.Model.empty()) return;
    std::string line = "DRIVER IS OPENED (name: " + name + ", device model: " + device_.Model;
    if (!firmware.empty()) line += ", FW: " + firmware;
    line += ", address: " + GetAddressText() + ")";
    DebugMessage(kLevelOpened, "%s", line.c_str());
}

void CIPCaptureDriver::DebugMessage(int level, const char* format, ...) {
    // A message nobody will see is not formatted.
    if (!format || level == kLevelNever || !sink_) return;
    va_list args;
    va_start(args, format);
    std::string text = HUtils::FormatV(format, args);
    va_end(args);
    CDebugInfo info(AdjustLevelForHost(level, hostVersion_[0], hostVersion_[1]), std::move(text));
    sink_->OnDebugInfo(&info);
}

std::string CIPCaptureDriver::GetAddressText() { return device_.Address + ":" + std::to_string(device_.Port); }

std::string CIPCaptureDriver::GetParameterText(int number) {
    auto it = parameters_.find(number);
    if (it == parameters_.end() || it->second == "(none)") return {};
    return it->second;
}

int CIPCaptureDriver::GetParameterInt(int number) {
    auto it = parameters_.find(number);
    int value = 0;
    if (it == parameters_.end() || !ParseSignedDecimal(it->second, value)) return kNoIntParameter;
    return value;
}

}  // namespace dravnel
