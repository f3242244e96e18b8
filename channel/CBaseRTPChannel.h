// A camera channel that receives an RTP video stream: runs the capture loop,
// binds the local UDP ports for RTP and RTCP, accepts packets from the RTP
// receiver (UDP) or from the RTSP connection (interleaved), hands them to the
// codec's media parser and passes every finished frame to the host.
//
// Thread-safety: the loop and the streaming hooks run on the capture thread;
// OnRTPPacket on the receiver's delivery thread; OnInterleavedPacket and
// OnSessionDescription on the RTSP client thread; OnFrame on whichever of
// these drives the parser. Only one transport is active at a time, so the
// parser is used by one thread at a time. The events are the hand-over.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

#include "channel/CBaseCameraChannel.h"
#include "rtp/CRTCPHandler.h"
#include "rtp/CRTPReceiver.h"
#include "rtp/IMediaParserClient.h"
#include "rtp/IRTPClient.h"
#include "threads/CTime.h"

namespace dravnel {

class CBaseRTPChannel : public CBaseCameraChannel, public IRTPReceiverUser, public IMediaParserClient {
public:
    CBaseRTPChannel(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink);
    ~CBaseRTPChannel() override;

    uint32_t Run() override { return RunCaptureLoop(); }

    // IRTPReceiverUser
    void OnInterleavedPacket(CRTPPacket* packet, const std::vector<uint8_t>* frame) override;
    void OnRTPPacket(const sockaddr_in* from, CRTPPacket* packet) override;
    void OnTimeout() override {}
    void OnClosed() override {}
    void OnSessionDescription(const CodecConfig*) override {}

    // IMediaParserClient
    bool OnFrame(ipcapture::IHostFrame* frame) override;
    std::pair<uint32_t, uint32_t> GetFrameSize() override;
    void OnSequenceGap() override { ++sequenceGaps_; }

    // Packets lost since the channel was made: datagrams the kernel dropped
    // for want of room in the socket buffer, packets the receiver's full queue
    // dropped, and the sequence gaps the media parser saw (UDP or interleaved).
    uint64_t KernelDrops() const { return receiver_.KernelDrops(); }
    uint64_t QueueDrops() const { return receiver_.DroppedPackets(); }
    uint64_t SequenceGaps() const { return sequenceGaps_.load(); }
    // "kernel drops 0, sequence gaps 0" (and ", queue drops N" once there are any).
    void DescribeStatus(char* text, unsigned textSize) override;

    // Ports of the current session; 0 when not bound.
    uint16_t RtpPort() { return receiver_.GetPort(); }
    uint16_t RtcpPort() { return rtcp_.GetPort(); }
    // RTP packets of the device accepted since the count was reset.
    uint32_t PacketCount() const { return packets_.load(); }

protected:
    // Binds an even RTP port from firstPort_ (and the next one for RTCP) where
    // no earlier stream of the device is still arriving.
    bool StartStreaming() override;
    void StopStreaming() override;
    // One packet to the codec's media parser.
    virtual void HandleRTPPacket(CRTPPacket* packet) = 0;
    // The RTP socket's receive buffer for the next binding; 0: the receiver's own.
    void SetRTPReceiveBuffer(int32_t bytes) { receiver_.SetSocketBuffer(bytes); }

    // Port search range and the wait that tells a stale stream; tests move them.
    uint16_t firstPort_ = 3556;
    uint16_t portLimit_ = 4556;  // exclusive
    uint32_t staleProbeMs_ = 500;

    // Logs that the process ran out of descriptors for a socket (once until
    // a session starts again); false.
    bool ReportNoDescriptor(const char* socket);
    void SessionStarted() { noDescriptorReported_ = false; }

private:
    CRTPReceiver receiver_;
    CRTCPHandler rtcp_;
    CManualEvent packetArrived_;
    std::atomic<uint32_t> deviceAddress_{0};  // IPv4, network order; 0 when unresolved
    std::atomic<uint64_t> sequenceGaps_{0};
    bool noDescriptorReported_ = false;  // the capture thread's
protected:
    std::atomic<uint32_t> packets_{0};
};

}  // namespace dravnel
