#include "channel/CVistaMPEGChannelRTSP.h"

#include <vector>

#include "channel/StreamValues.h"
#include "web/HUtils.h"
#include "web/HttpRequests.h"

namespace dravnel {

namespace {

struct Size {
    uint32_t width, height;
};
constexpr Size kNtscSizes[] = {{160, 120}, {320, 240}, {640, 480}, {720, 480}};
constexpr Size kPalSizes[] = {{160, 112}, {320, 240}, {640, 480}, {720, 576}};

// Offset of the alarm bits behind the user data start code.
constexpr size_t kAlarmOffset = 9;
constexpr uint16_t kDefaultRtspPort = 554;

}  // namespace

CVistaMPEGChannelRTSP::CVistaMPEGChannelRTSP(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink,
                                             CVistaIOCallback* alarmSink)
    : CBaseRTSPChannel(channel, driver, hostSink),
      sender_(*driver->GetDeviceInfo()),
      parser_(driver, driver->GetDriverName()),
      alarmSink_(alarmSink) {
    parser_.SetClient(this);
}

CVistaMPEGChannelRTSP::~CVistaMPEGChannelRTSP() {
    // The session threads drive the parser: end them before it goes.
    Stop();
    CVistaMPEGChannelRTSP::StopStreaming();
}

void CVistaMPEGChannelRTSP::StopStreaming() {
    CBaseRTSPChannel::StopStreaming();
    parser_.Reset();
}

std::string CVistaMPEGChannelRTSP::ConfigurationPath() {
    const ChannelParams params = GetParams();
    std::string path = "/admin/mpeg4.html?app=set";
    for (const Size& size : Driver()->GetParameterFlag() ? kNtscSizes : kPalSizes) {
        if (size.width == params.Width && size.height == params.Height) {
            path += HUtils::Format("&size=%ux%u", params.Width, params.Height);
            break;
        }
    }
    // 35 kbit/s per quality step, in whole 100 kbit/s, at least 100.
    const unsigned long kbps = 35ul * params.ModeWord;
    path += HUtils::Format("&mpeg4_br=%lu", (kbps < 100 ? 100 : kbps / 100 * 100) * 1000);
    if (params.FrameInterval != 0) {
        const uint32_t rate = ChannelFrameRate(params.FrameInterval);
        path += HUtils::Format("&mpeg4_fps=%u&mpeg4_gov=%u", rate, rate);
    }
    return path;
}

bool CVistaMPEGChannelRTSP::PrepareStream() {
    const DeviceSettings settings = ReadDeviceSettings(Driver());
    RTPMode = settings.RTPMode;
    RTPPacketSize = settings.RTPPacketSize;
    if (StopRequested()) return false;
    std::vector<uint8_t> reply;
    return HUtils::RequestGetBody(ConfigurationPath(), sender_, reply);
}

void CVistaMPEGChannelRTSP::PrepareRTSPSettings(RTSPConnectionSettings& settings) {
    settings.media = MediaKind::Video;
    settings.streamPath = "video";
    const int port = Driver()->GetParameterInt(3);
    // An absent parameter reads as 0x80000000; no other value outside the
    // port range names a port either.
    settings.serverPort = port >= 1 && port <= 65535 ? static_cast<uint16_t>(port) : kDefaultRtspPort;
}

std::optional<uint8_t> CVistaMPEGChannelRTSP::AlarmBitsOf(std::span<const uint8_t> frame) {
    const size_t size = frame.size();
    if (size <= 3) return std::nullopt;
    for (size_t i = 0; i + 4 <= size; ++i) {
        if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 && frame[i + 3] == 0xB2) {
            if (i + kAlarmOffset < size - 1) return frame[i + kAlarmOffset];
            return std::nullopt;  // only the first block counts
        }
    }
    return std::nullopt;
}

bool CVistaMPEGChannelRTSP::OnFrame(ipcapture::IHostFrame* frame) {
    // The parser still holds the bytes it copied into the frame.
    if (alarmSink_ && frame) {
        if (const auto bits = AlarmBitsOf(parser_.FrameBuffer())) alarmSink_->OnAlarmBits(*bits);
    }
    return CBaseRTSPChannel::OnFrame(frame);
}

}  // namespace dravnel
