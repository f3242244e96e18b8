#include "rtp/CRTPReceiver.h"

#include <algorithm>
#include <cstdio>

#include "rtp/CUDPClient.h"

namespace dravnel {

namespace {

// Items kept for reuse, so that the steady state allocates nothing per packet.
constexpr size_t kMaxSpareItems = 256;
constexpr uint32_t kIdleWaitMs = 1000;
constexpr uint32_t kStopLimitMs = 2000;

}  // namespace

size_t CRTPReceiver::Item::Cost() const {
    return sizeof(Item) + packet.payload.capacity() + packet.extensionData.capacity() +
           packet.csrc.capacity() * sizeof(uint32_t);
}

CRTPReceiver::CRTPReceiver(IDebugMessage* logger, size_t queueLimitBytes)
    : CBaseThread(logger), queueLimit_(queueLimitBytes) {}

CRTPReceiver::~CRTPReceiver() { Stop(); }

bool CRTPReceiver::Start(uint16_t port) {
    if (source_ || IsRunning()) Stop();
    // Emptied before the source opens: from then on its thread may deliver at
    // once, and the stash and the parsed list are that thread's.
    ClearQueue();
    queuedEvent_.Reset();
    auto* client = new CUDPClient(Logger());
    source_ = client;
    ownSource_ = client;
    client->SetSocketBuffer(socketBuffer_);
    client->CountDropsInto(&kernelDrops_);
    const bool opened = client->Open(this, port);
    outOfDescriptors_ = client->OutOfDescriptors();
    client->SetReceiveSize(kReceiveSize);
    client->SetSelectTimeout(kReadinessSeconds, 0);
    if (opened) {
        WarnOfSmallBuffer(*client);
        char name[64];
        std::snprintf(name, sizeof name, "RTP Packet Queue (%hu)", client->GetPort());
        stopping_ = false;
        if (StartThread(name)) return true;
    }
    Stop();
    return false;
}

// Once per size asked: a channel that reconnects says it once.
void CRTPReceiver::WarnOfSmallBuffer(CUDPClient& client) {
    const int asked = client.SocketBufferAsked();
    const int granted = client.SocketBufferGranted();
    if (granted >= asked || warnedBuffer_ == asked || !Logger()) return;
    warnedBuffer_ = asked;
    Logger()->DebugMessage(kLevelWarning,
                           "%s: UDP port %u has a receive buffer of %d bytes where %d were asked for; "
                           "a key frame sent in one burst may be lost (raise net.core.rmem_max)",
                           "dravnel::CRTPReceiver::Start", unsigned{client.GetPort()}, granted, asked);
}

void CRTPReceiver::Stop() {
    stopping_ = true;
    stopEvent_.Set();
    if (source_) {
        // Ends the source's thread: no OnPacket runs after this.
        source_->Close();
        ownSource_ = nullptr;
        source_.Release();
    }
    ClearQueue();
    StopThread(kStopLimitMs);
    // Items the delivery thread still held are back in the spare list now.
    ClearQueue();
}

uint16_t CRTPReceiver::GetPort() { return source_ ? source_->GetPort() : 0; }

void CRTPReceiver::KeepSpare(ItemPtr item) {
    if (spare_.size() < kMaxSpareItems) spare_.push_back(std::move(item));
}

// Only while no source thread runs: the stash is that thread's.
void CRTPReceiver::ClearQueue() {
    CScopedLock guard(queueLock_);
    queue_.clear();
    spare_.clear();
    stash_.clear();
    parsed_.clear();
    queuedBytes_ = 0;
    overflowing_ = false;
}

void CRTPReceiver::OnPacket(IRTPClient* source, const sockaddr_in* from, const uint8_t* data, unsigned length) {
    static const sockaddr_in kNoSender{};
    const ReceivedDatagram datagram{from ? from : &kNoSender, data, length};
    OnPacketBatch(source, std::span<const ReceivedDatagram>(&datagram, 1));
}

void CRTPReceiver::OnPacketBatch(IRTPClient* source, std::span<const ReceivedDatagram> datagrams) {
    if (!source || source != ownSource_.load()) return;
    for (const ReceivedDatagram& d : datagrams) {
        ItemPtr item;
        if (stash_.empty()) {
            item = std::make_unique<Item>();
        } else {
            item = std::move(stash_.back());
            stash_.pop_back();
        }
        if (!item->packet.Parse(d.data, d.length)) {
            stash_.push_back(std::move(item));
            continue;
        }
        item->from = *d.from;
        item->cost = item->Cost();
        parsed_.push_back(std::move(item));
    }
    if (parsed_.empty()) return;

    bool wake = false;
    bool startedDropping = false;
    size_t queued = 0;
    {
        CScopedLock guard(queueLock_);
        if (stopping_.load()) {
            for (ItemPtr& item : parsed_) KeepSpare(std::move(item));
            parsed_.clear();
            return;
        }
        // The delivery thread empties the whole queue once woken, so only a
        // batch that finds it empty needs to wake it.
        const bool wasEmpty = queue_.empty();
        for (ItemPtr& item : parsed_) {
            if (queuedBytes_ + item->cost > queueLimit_) {
                ++dropped_;
                startedDropping = startedDropping || !overflowing_;
                overflowing_ = true;
                queued = queuedBytes_;
                stash_.push_back(std::move(item));
                continue;
            }
            queuedBytes_ += item->cost;
            if (overflowing_ && queuedBytes_ < queueLimit_ / 2) overflowing_ = false;
            queue_.push_back(std::move(item));
        }
        wake = wasEmpty && !queue_.empty();
        // Items for the next batch, while the lock is held anyway.
        while (stash_.size() < CUDPClient::kMaxBatch && !spare_.empty()) {
            stash_.push_back(std::move(spare_.back()));
            spare_.pop_back();
        }
    }
    parsed_.clear();
    if (wake) queuedEvent_.Set();
    if (startedDropping && Logger()) {
        Logger()->DebugMessage(kLevelWarning, "%s: Packet queue full (%zu bytes waiting), packets are dropped",
                               "dravnel::CRTPReceiver::OnPacket", queued);
    }
}

void CRTPReceiver::OnTimeout(IRTPClient* source) {
    if (!source || source != ownSource_.load()) return;
    if (IRTPReceiverUser* user = user_.load()) user->OnTimeout();
}

void CRTPReceiver::OnClosed(IRTPClient* source) {
    if (!source || source != ownSource_.load()) return;
    if (IRTPReceiverUser* user = user_.load()) user->OnClosed();
}

uint32_t CRTPReceiver::Run() {
    std::vector<ItemPtr> batch;
    while (!StopRequested()) {
        {
            // One lock per round: the delivered items go back, the queue comes.
            CScopedLock guard(queueLock_);
            for (ItemPtr& item : batch) {
                queuedBytes_ -= std::min(queuedBytes_, item->cost);
                KeepSpare(std::move(item));
            }
            batch.clear();
            batch.swap(queue_);
        }
        if (batch.empty()) {
            const int woken = platform::WaitAny({stopEvent_.Handle(), queuedEvent_.Handle()}, kIdleWaitMs);
            if (woken == 0 || woken == platform::kWaitFailed) break;
            continue;
        }
        for (const ItemPtr& item : batch) {
            if (stopping_.load()) break;
            if (IRTPReceiverUser* user = user_.load()) user->OnRTPPacket(&item->from, &item->packet);
        }
    }
    CScopedLock guard(queueLock_);
    for (ItemPtr& item : batch) {
        queuedBytes_ -= std::min(queuedBytes_, item->cost);
        KeepSpare(std::move(item));
    }
    return 0;
}

}  // namespace dravnel
