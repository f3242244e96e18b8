// Moves RTP packets from a UDP socket's thread to a delivery thread of its
// own ("RTP Packet Queue (%hu)"), which hands them to the channel in arrival
// order. The socket thread only parses and queues, so slow frame assembly
// never keeps the socket from being read. Malformed packets are dropped
// silently; the queue is bounded by bytes so that a flood or a stalled
// channel cannot exhaust memory, and what it drops is counted.
//
// Thread-safety: Start, Stop and SetUser are called by the owner (one thread);
// OnPacket/OnTimeout/OnClosed come from the source's thread; the user is
// called on the delivery thread (OnRTPPacket) or the source's thread
// (OnTimeout, OnClosed), never under the queue lock. Once Stop has returned,
// no OnRTPPacket call is under way or will come.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "rtp/CRTPPacket.h"
#include "rtp/IRTPClient.h"
#include "rtp/TSmartPtr.h"
#include "threads/CBaseThread.h"
#include "threads/CEvent.h"
#include "threads/CLock.h"

namespace dravnel {

class CRTPReceiver : public IRTPClientUser, public CBaseThread {
public:
    static constexpr size_t kDefaultQueueLimit = 32u << 20;
    static constexpr unsigned kReceiveSize = 1536;
    static constexpr unsigned kReadinessSeconds = 2;

    explicit CRTPReceiver(IDebugMessage* logger, size_t queueLimitBytes = kDefaultQueueLimit);
    ~CRTPReceiver() override;

    // Opens a UDP source on `port` (0: the system chooses) and starts
    // delivering. False, with everything stopped, on any failure.
    bool Start(uint16_t port);
    void Stop();
    void SetUser(IRTPReceiverUser* user) { user_ = user; }
    // Bound port of the source; 0 without one.
    uint16_t GetPort();
    IRTPClient* Source() { return source_.get(); }

    // Packets dropped because the queue was full, since construction.
    uint64_t DroppedPackets() const { return dropped_.load(); }

    // IRTPClientUser (from the source's thread)
    void OnPacket(IRTPClient* source, const sockaddr_in* from, const uint8_t* data, unsigned length) override;
    void OnTimeout(IRTPClient* source) override;
    void OnClosed(IRTPClient* source) override;

    uint32_t Run() override;

private:
    struct Item {
        sockaddr_in from{};
        CRTPPacket packet;
        size_t cost = 0;  // share of the queue limit, fixed when queued
        size_t Cost() const;
    };
    using ItemPtr = std::unique_ptr<Item>;

    ItemPtr TakeSpare();
    // Keeps an unused item for reuse; under the queue lock.
    void KeepSpare(ItemPtr item);
    // Returns delivered items for reuse, releasing their share of the queue
    // limit.
    void Recycle(std::deque<ItemPtr>& items);
    void ClearQueue();

    TSmartPtr<IRTPClient> source_;
    std::atomic<IRTPClient*> ownSource_{nullptr};  // compared on the source's thread
    std::atomic<IRTPReceiverUser*> user_{nullptr};
    std::atomic<bool> stopping_{true};

    CLock queueLock_;
    std::deque<ItemPtr> queue_;
    std::vector<ItemPtr> spare_;
    size_t queuedBytes_ = 0;  // queued and being delivered
    bool overflowing_ = false;
    const size_t queueLimit_;
    std::atomic<uint64_t> dropped_{0};
    CEvent queuedEvent_;
};

}  // namespace dravnel
