#include "channel/CBaseRTSPChannel.h"

#include "web/HUtils.h"

namespace dravnel {

CBaseRTSPChannel::CBaseRTSPChannel(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink)
    : CBaseRTPChannel(channel, driver, hostSink), client_(driver) {}

CBaseRTSPChannel::~CBaseRTSPChannel() {
    Stop();
    client_.StopClient();
}

bool CBaseRTSPChannel::StartStreaming() {
    if (RTPMode == kRtpOverUdp && !CBaseRTPChannel::StartStreaming()) return false;

    const DEVICE_INFO* device = Driver()->GetDeviceInfo();
    RTSPConnectionSettings settings;
    settings.host = device->Address;
    settings.userName = device->UserName;
    settings.password = device->Password;
    settings.connectTimeoutMs = device->HttpTimeout;
    settings.receiveTimeoutMs = device->HttpTimeout;
    settings.clientRtpPort = RtpPort();
    settings.clientRtcpPort = RtcpPort();
    settings.blockSize = RTPPacketSize > 0 ? static_cast<uint32_t>(RTPPacketSize) : 0;
    PrepareRTSPSettings(settings);
    serverPort_ = settings.serverPort;
    packets_ = 0;

    if (StopRequested()) return false;
    if (client_.StartClient(settings, this, static_cast<RTSPTransportMode>(RTPMode), &stopEvent_)) {
        SessionStarted();
        return true;
    }
    return client_.OutOfDescriptors() ? ReportNoDescriptor("RTSP") : false;
}

std::string CBaseRTSPChannel::NoVideoReason(NoVideoStage stage) {
    switch (stage) {
    case NoVideoStage::Prepare:
        return "its stream could not be configured";
    case NoVideoStage::Start:
        if (RTPMode == kRtpOverUdp && RtpPort() == 0) return "no UDP port pair is free for RTP";
        return HUtils::Format("RTSP port %u is unreachable or refuses the connection",
                              static_cast<unsigned>(serverPort_));
    case NoVideoStage::FirstFrame:
        break;
    }
    if (const auto failure = client_.LastFailure()) {
        const char* method = MethodName(failure->method);
        if (failure->status == 401) return HUtils::Format("login refused (RTSP %s answered 401)", method);
        if (failure->status == 0) return HUtils::Format("RTSP %s not answered", method);
        if (failure->status / 100 == 2) return "the RTSP session ended";
        return HUtils::Format("RTSP %s refused (status %u)", method, failure->status);
    }
    const uint32_t packets = PacketCount();
    if (packets == 0) return "no RTP arriving";
    return HUtils::Format("stream not decodable (%u RTP packets, no frame)", packets);
}

void CBaseRTSPChannel::ReportNoVideo(NoVideoStage stage) {
    const std::string reason = NoVideoReason(stage);
    if (reason != lastNoVideo_) {
        lastNoVideo_ = reason;
        noVideoThrottle_ = CLogThrottle();
    }
    if (!noVideoThrottle_.Advance()) return;
    Driver()->DebugMessage(kLevelWarning, "%s: %s gets no video: %s", "dravnel::CBaseRTSPChannel::ReportNoVideo",
                           CameraName(false).c_str(), reason.c_str());
}

void CBaseRTSPChannel::StopStreaming() {
    client_.StopClient();
    CBaseRTPChannel::StopStreaming();
}

}  // namespace dravnel
