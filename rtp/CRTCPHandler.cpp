#include "rtp/CRTCPHandler.h"

#include "platform/Clock.h"
#include "platform/Process.h"

namespace dravnel {

namespace {

constexpr unsigned kReceiveSize = 1536;
constexpr unsigned kReadinessSeconds = 1;
constexpr uint32_t kReportWaitMs = 10000;
constexpr uint32_t kStopLimitMs = 5000;

}  // namespace

CRTCPHandler::CRTCPHandler(IDebugMessage* logger) : CRTCPHandler(logger, platform::MonotonicMs, platform::RandomU32) {}

CRTCPHandler::CRTCPHandler(IDebugMessage* logger, MsClock clock, RandomSource random)
    : CBaseThread(logger), clock_(std::move(clock)), random_(std::move(random)), client_(logger) {
    client_.SetSelectTimeout(kReadinessSeconds, 0);
    client_.SetReceiveSize(kReceiveSize);
}

CRTCPHandler::~CRTCPHandler() { Stop(); }

void CRTCPHandler::ResetSession() {
    reportDue_.Reset();
    CScopedLock guard(lock_);
    synced_ = false;
    cameraRtcp_ = sockaddr_in{};
    lastReportMs_ = 0;
    versionBits_ = 0;
    sequence_.Clear();
    cameraSsrc_ = {};
    lsr_ = {};
    const uint32_t ssrc = random_();
    ownSsrc_ = {static_cast<uint8_t>(ssrc >> 24), static_cast<uint8_t>(ssrc >> 16), static_cast<uint8_t>(ssrc >> 8),
                static_cast<uint8_t>(ssrc)};
}

bool CRTCPHandler::Start(uint32_t cameraAddress, uint16_t port) {
    if (client_.IsOpen() || cameraAddress == 0) return false;
    ResetSession();
    // Known before the first datagram can arrive.
    cameraAddress_ = cameraAddress;
    if (!client_.Open(this, port)) {
        cameraAddress_ = 0;
        return false;
    }
    client_.SetSelectTimeout(kReadinessSeconds, 0);
    if (StartThread("RTCP Handler Thread")) return true;
    Stop();
    return false;
}

void CRTCPHandler::Stop() {
    stopEvent_.Set();
    std::vector<uint8_t> bye;
    sockaddr_in to{};
    {
        CScopedLock guard(lock_);
        if (synced_) {
            bye = rtcp::BuildBye(versionBits_, ownSsrc_);
            to = cameraRtcp_;
        }
        synced_ = false;
    }
    if (!bye.empty()) client_.SendTo(to, bye);
    client_.Close();
    StopThread(kStopLimitMs);
}

void CRTCPHandler::UpdateSequence(uint16_t sequenceNumber) {
    CScopedLock guard(lock_);
    sequence_.Update(sequenceNumber);
}

bool CRTCPHandler::IsSynced() {
    CScopedLock guard(lock_);
    return synced_;
}

uint32_t CRTCPHandler::ExtendedHighestSequence() {
    CScopedLock guard(lock_);
    return sequence_.ExtendedHighest();
}

rtcp::Ssrc CRTCPHandler::OwnSsrc() {
    CScopedLock guard(lock_);
    return ownSsrc_;
}

void CRTCPHandler::OnPacket(IRTPClient* source, const sockaddr_in* from, const uint8_t* data, unsigned length) {
    if (source != &client_ || !from || !data || length < 4) return;
    if (from->sin_addr.s_addr != cameraAddress_.load()) return;
    bool senderReport = false;
    rtcp::ForEachPacket(std::span<const uint8_t>(data, length), [&](uint8_t type, std::span<const uint8_t> packet) {
        if (type == rtcp::kTypeSenderReport) {
            const auto sr = rtcp::ParseSenderReport(packet);
            if (!sr) return;
            CScopedLock guard(lock_);
            if (!synced_) {
                cameraRtcp_ = *from;
                synced_ = true;
            }
            versionBits_ = sr->versionBits;
            cameraSsrc_ = sr->ssrc;
            lsr_ = sr->lsr;
            lastReportMs_ = clock_();
            senderReport = true;
        } else if (type == rtcp::kTypeBye) {
            CScopedLock guard(lock_);
            synced_ = false;
        }
    });
    // The answer reflects the whole compound packet: a BYE behind the sender
    // report means no answer.
    if (senderReport) reportDue_.Set();
}

std::vector<uint8_t> CRTCPHandler::BuildReport() {
    rtcp::ReceiverReportFields f;
    f.versionBits = versionBits_;
    f.ownSsrc = ownSsrc_;
    f.sourceSsrc = cameraSsrc_;
    f.extendedHighestSequence = sequence_.ExtendedHighest();
    f.lsr = lsr_;
    f.dlsr = lastReportMs_ != 0 ? rtcp::DelaySinceLastReport(clock_() - lastReportMs_) : 0;
    return rtcp::BuildReceiverReport(f);
}

uint32_t CRTCPHandler::Run() {
    for (;;) {
        const int woken = platform::WaitAny({stopEvent_.Handle(), reportDue_.Handle()}, kReportWaitMs);
        if (woken == 0 || woken == platform::kWaitFailed) break;
        if (woken != 1) continue;
        std::vector<uint8_t> report;
        sockaddr_in to{};
        bool send = false;
        {
            CScopedLock guard(lock_);
            report = BuildReport();
            send = synced_;
            to = cameraRtcp_;
        }
        if (send && !client_.SendTo(to, report)) {
            // Silent until the camera's next sender report.
            CScopedLock guard(lock_);
            synced_ = false;
        }
    }
    return 0;
}

}  // namespace dravnel
