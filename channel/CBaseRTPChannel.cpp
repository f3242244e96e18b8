#include "channel/CBaseRTPChannel.h"

#include <cstdio>

#include "platform/Socket.h"

namespace dravnel {

CBaseRTPChannel::CBaseRTPChannel(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink)
    : CBaseCameraChannel(channel, driver, hostSink), receiver_(driver), rtcp_(driver) {
    if (auto address = platform::ResolveIPv4(driver->GetDeviceInfo()->Address)) deviceAddress_ = *address;
}

CBaseRTPChannel::~CBaseRTPChannel() {
    Stop();
    CBaseRTPChannel::StopStreaming();
}

bool CBaseRTPChannel::StartStreaming() {
    // A name that did not resolve before may resolve now; without an address
    // no RTCP can be answered and no packet accepted, so no port would do.
    if (deviceAddress_ == 0) {
        if (auto address = platform::ResolveIPv4(Driver()->GetDeviceInfo()->Address)) deviceAddress_ = *address;
        if (deviceAddress_ == 0) return false;
    }
    receiver_.SetUser(this);
    for (uint32_t port = firstPort_; port < portLimit_; port += 2) {
        if (StopRequested()) return false;
        packetArrived_.Reset();
        if (!receiver_.Start(static_cast<uint16_t>(port))) {
            // Every other port would fail alike.
            if (receiver_.OutOfDescriptors()) return ReportNoDescriptor("RTP");
            continue;
        }
        // Silence on the new port means no earlier stream still arrives there.
        platform::Event* events[2] = {stopEvent_.Handle(), packetArrived_.Handle()};
        const int got = platform::WaitAny(std::span<platform::Event* const>(events, 2), staleProbeMs_);
        if (got == platform::kWaitTimeout && rtcp_.Start(deviceAddress_, static_cast<uint16_t>(port + 1))) return true;
        receiver_.Stop();
        rtcp_.Stop();
        if (got == 0) return false;
        if (rtcp_.OutOfDescriptors()) return ReportNoDescriptor("RTCP");
    }
    return false;
}

// The capture loop retries every pass: said once per spell.
bool CBaseRTPChannel::ReportNoDescriptor(const char* socket) {
    if (!noDescriptorReported_) {
        noDescriptorReported_ = true;
        Driver()->DebugMessage(kLevelError,
                               "%s: No file descriptor is left for the %s socket of %s; the channel tries again",
                               "dravnel::CBaseRTPChannel::StartStreaming", socket, CameraName(true).c_str());
    }
    return false;
}

void CBaseRTPChannel::StopStreaming() {
    receiver_.Stop();
    rtcp_.Stop();
}

void CBaseRTPChannel::OnRTPPacket(const sockaddr_in* from, CRTPPacket* packet) {
    if (!from || !packet || from->sin_addr.s_addr != deviceAddress_) return;
    ++packets_;
    packetArrived_.Set();
    rtcp_.UpdateSequence(packet->sequenceNumber);
    HandleRTPPacket(packet);
}

void CBaseRTPChannel::OnInterleavedPacket(CRTPPacket* packet, const std::vector<uint8_t>*) {
    if (!packet) return;
    ++packets_;
    packetArrived_.Set();
    HandleRTPPacket(packet);
}

bool CBaseRTPChannel::OnFrame(ipcapture::IHostFrame* frame) {
    SignalStreamStarted();
    auto* sink = HostSink();
    if (!sink || !sink->DeliverFrame(frame)) return false;
    OnFrameAccepted();
    return true;
}

void CBaseRTPChannel::DescribeStatus(char* text, unsigned textSize) {
    if (!text || textSize == 0) return;
    const auto kernel = static_cast<unsigned long long>(KernelDrops());
    const auto gaps = static_cast<unsigned long long>(SequenceGaps());
    const auto queue = static_cast<unsigned long long>(QueueDrops());
    if (queue == 0)
        std::snprintf(text, textSize, "kernel drops %llu, sequence gaps %llu", kernel, gaps);
    else
        std::snprintf(text, textSize, "kernel drops %llu, sequence gaps %llu, queue drops %llu", kernel, gaps, queue);
}

std::pair<uint32_t, uint32_t> CBaseRTPChannel::GetFrameSize() {
    const ChannelParams params = GetParams();
    return {params.Width, params.Height};
}

}  // namespace dravnel
