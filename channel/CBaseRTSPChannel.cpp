#include "channel/CBaseRTSPChannel.h"

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

    if (StopRequested()) return false;
    if (client_.StartClient(settings, this, static_cast<RTSPTransportMode>(RTPMode), &stopEvent_)) {
        SessionStarted();
        return true;
    }
    return client_.OutOfDescriptors() ? ReportNoDescriptor("RTSP") : false;
}

void CBaseRTSPChannel::StopStreaming() {
    client_.StopClient();
    CBaseRTPChannel::StopStreaming();
}

}  // namespace dravnel
