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
    auto* client = new CUDPClient(Logger());
    source_ = client;
    ownSource_ = client;
    const bool opened = client->Open(this, port);
    client->SetReceiveSize(kReceiveSize);
    client->SetSelectTimeout(kReadinessSeconds, 0);
    if (opened) {
        ClearQueue();
        queuedEvent_.Reset();
        char name[64];
        std::snprintf(name, sizeof name, "RTP Packet Queue (%hu)", client->GetPort());
        stopping_ = false;
        if (StartThread(name)) return true;
    }
    Stop();
    return false;
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

CRTPReceiver::ItemPtr CRTPReceiver::TakeSpare() {
    {
        CScopedLock guard(queueLock_);
        if (!spare_.empty()) {
            ItemPtr item = std::move(spare_.back());
            spare_.pop_back();
            return item;
        }
    }
    return std::make_unique<Item>();
}

void CRTPReceiver::KeepSpare(ItemPtr item) {
    if (spare_.size() < kMaxSpareItems) spare_.push_back(std::move(item));
}

void CRTPReceiver::Recycle(std::deque<ItemPtr>& items) {
    CScopedLock guard(queueLock_);
    for (ItemPtr& item : items) {
        queuedBytes_ -= std::min(queuedBytes_, item->cost);
        KeepSpare(std::move(item));
    }
    items.clear();
}

void CRTPReceiver::ClearQueue() {
    CScopedLock guard(queueLock_);
    queue_.clear();
    spare_.clear();
    queuedBytes_ = 0;
    overflowing_ = false;
}

void CRTPReceiver::OnPacket(IRTPClient* source, const sockaddr_in* from, const uint8_t* data, unsigned length) {
    if (!source || source != ownSource_.load()) return;
    ItemPtr item = TakeSpare();
    if (from) item->from = *from;
    if (!item->packet.Parse(data, length) || stopping_.load()) {
        CScopedLock guard(queueLock_);
        KeepSpare(std::move(item));
        return;
    }

    bool startedDropping = false;
    size_t queued = 0;
    {
        CScopedLock guard(queueLock_);
        const size_t cost = item->Cost();
        item->cost = cost;
        if (queuedBytes_ + cost > queueLimit_) {
            ++dropped_;
            startedDropping = !overflowing_;
            overflowing_ = true;
            queued = queuedBytes_;
            KeepSpare(std::move(item));
        } else {
            // The delivery thread drains the whole queue once woken, so only
            // the first packet of a burst needs to wake it.
            const bool wake = queue_.empty();
            queuedBytes_ += cost;
            if (overflowing_ && queuedBytes_ < queueLimit_ / 2) overflowing_ = false;
            queue_.push_back(std::move(item));
            if (wake) queuedEvent_.Set();
        }
    }
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
    std::deque<ItemPtr> batch;
    bool foundEmpty = false;
    for (;;) {
        const int woken =
            platform::WaitAny({stopEvent_.Handle(), queuedEvent_.Handle()}, foundEmpty ? kIdleWaitMs : 0);
        if (woken == 0 || woken == platform::kWaitFailed) break;
        {
            CScopedLock guard(queueLock_);
            batch.swap(queue_);
        }
        foundEmpty = batch.empty();
        for (const ItemPtr& item : batch) {
            if (stopping_.load()) break;
            if (IRTPReceiverUser* user = user_.load()) user->OnRTPPacket(&item->from, &item->packet);
        }
        Recycle(batch);
    }
    Recycle(batch);
    return 0;
}

}  // namespace dravnel
