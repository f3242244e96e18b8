// The receiving side of RTCP (RFC 3550) for one RTP session: listens on the
// port after the RTP port for the camera's sender reports, answers each with
// a receiver report from a thread of its own ("RTCP Handler Thread"), and
// says goodbye with a BYE when stopped. The channel reports the sequence
// number of every RTP packet it accepts.
//
// Thread-safety: Start and Stop are called by the owner; UpdateSequence may be
// called from any thread; OnPacket comes from the embedded client's thread.
// The session state is guarded by the handler's lock; sends happen outside it.
#pragma once

#include "platform/InetAddress.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "rtp/CRTPSequenceState.h"
#include "rtp/CUDPClient.h"
#include "rtp/RTCPFormat.h"
#include "threads/CBaseThread.h"
#include "threads/CEvent.h"
#include "threads/CLock.h"

namespace dravnel {

class CRTCPHandler : public CBaseThread, public IRTPClientUser {
public:
    // Milliseconds of a monotonic clock that may wrap (for the DLSR).
    using MsClock = std::function<uint32_t()>;
    // 32 random bits (for our SSRC).
    using RandomSource = std::function<uint32_t()>;

    explicit CRTCPHandler(IDebugMessage* logger);
    CRTCPHandler(IDebugMessage* logger, MsClock clock, RandomSource random);
    ~CRTCPHandler() override;

    // Listens on `port` (0: the system chooses) for reports from
    // `cameraAddress` (IPv4, network order). False when already started, for
    // address 0, or when the port cannot be bound.
    bool Start(uint32_t cameraAddress, uint16_t port);
    // Sends a BYE when synced, then closes the socket and ends the thread.
    void Stop();
    void UpdateSequence(uint16_t sequenceNumber);

    uint16_t GetPort() { return client_.GetPort(); }
    // The last Start failed for want of a descriptor.
    bool OutOfDescriptors() const { return client_.OutOfDescriptors(); }
    bool IsSynced();
    uint32_t ExtendedHighestSequence();
    rtcp::Ssrc OwnSsrc();

    // IRTPClientUser
    void OnPacket(IRTPClient* source, const sockaddr_in* from, const uint8_t* data, unsigned length) override;
    void OnTimeout(IRTPClient*) override {}
    void OnClosed(IRTPClient*) override {}

    uint32_t Run() override;

private:
    void ResetSession();
    std::vector<uint8_t> BuildReport();  // under the lock

    MsClock clock_;
    RandomSource random_;
    CUDPClient client_;
    std::atomic<uint32_t> cameraAddress_{0};
    CEvent reportDue_;

    CLock lock_;
    bool synced_ = false;
    sockaddr_in cameraRtcp_{};
    uint32_t lastReportMs_ = 0;  // 0 = none
    uint8_t versionBits_ = 0;
    CRTPSequenceState sequence_;
    rtcp::Ssrc ownSsrc_{};
    rtcp::Ssrc cameraSsrc_{};
    std::array<uint8_t, 4> lsr_{};
};

}  // namespace dravnel
