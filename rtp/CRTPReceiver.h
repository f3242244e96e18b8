// Moves RTP packets from a UDP socket's thread to a delivery thread of its
// own ("RTP Packet Queue (%hu)"), which hands them to the channel in arrival
// order. The socket thread only parses and queues, so slow frame assembly
// never keeps the socket from being read. Malformed packets are dropped
// silently; the queue is bounded by bytes so that a flood or a stalled
// channel cannot exhaust memory, and what it drops is counted.
//
// The socket's receive buffer is sized for a key frame sent in one burst
// (kSocketBuffer, or what the settings file asks for); a system that grants
// less gets a warning, and what the kernel drops is counted too.
//
// Per packet, the socket thread copies the payload once into a recycled
// item and takes the queue lock once per batch of datagrams; the delivery
// thread takes it once per queue it empties and is woken only when a batch
// lands in an empty queue. In the steady state nothing is allocated.
//
// Thread-safety: Start, Stop and SetUser are called by the owner (one thread);
// OnPacket/OnTimeout/OnClosed come from the source's thread; the user is
// called on the delivery thread (OnRTPPacket) or the source's thread
// (OnTimeout, OnClosed), never under the queue lock. Once Stop has returned,
// no OnRTPPacket call is under way or will come.
#pragma once

#include "platform/InetAddress.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "rtp/CRTPPacket.h"
#include "rtp/IRTPClient.h"
#include "rtp/TSmartPtr.h"
#include "threads/CBaseThread.h"
#include "threads/CEvent.h"
#include "threads/CLock.h"

namespace dravnel {

class CUDPClient;

class CRTPReceiver : public IRTPClientUser, public CBaseThread {
public:
    static constexpr size_t kDefaultQueueLimit = 32u << 20;
    static constexpr unsigned kReceiveSize = 1536;
    static constexpr unsigned kReadinessSeconds = 2;
    // Holds a 1080p key frame sent at once several times over.
    static constexpr int kSocketBuffer = 2 << 20;

    explicit CRTPReceiver(IDebugMessage* logger, size_t queueLimitBytes = kDefaultQueueLimit);
    ~CRTPReceiver() override;

    // Opens a UDP source on `port` (0: the system chooses) and starts
    // delivering. False, with everything stopped, on any failure.
    bool Start(uint16_t port);
    void Stop();
    void SetUser(IRTPReceiverUser* user) { user_ = user; }
    // The socket receive buffer the next Start asks for; 0: kSocketBuffer.
    void SetSocketBuffer(int bytes) { socketBuffer_ = bytes > 0 ? bytes : kSocketBuffer; }
    // Bound port of the source; 0 without one.
    uint16_t GetPort();
    IRTPClient* Source() { return source_.get(); }

    // Packets dropped because the queue was full, since construction.
    uint64_t DroppedPackets() const { return dropped_.load(); }
    // The last Start failed for want of a descriptor.
    bool OutOfDescriptors() const { return outOfDescriptors_; }
    // Datagrams the kernel dropped on the receiver's sockets, since construction.
    uint64_t KernelDrops() const { return kernelDrops_.load(); }

    // IRTPClientUser (from the source's thread)
    void OnPacket(IRTPClient* source, const sockaddr_in* from, const uint8_t* data, unsigned length) override;
    void OnTimeout(IRTPClient* source) override;
    void OnClosed(IRTPClient* source) override;
    void OnPacketBatch(IRTPClient* source, std::span<const ReceivedDatagram> datagrams) override;

    uint32_t Run() override;

private:
    struct Item {
        sockaddr_in from{};
        CRTPPacket packet;
        size_t cost = 0;  // share of the queue limit, fixed when queued
        size_t Cost() const;
    };
    using ItemPtr = std::unique_ptr<Item>;

    // Keeps an unused item for reuse; under the queue lock.
    void KeepSpare(ItemPtr item);
    void ClearQueue();
    void WarnOfSmallBuffer(CUDPClient& client);

    TSmartPtr<IRTPClient> source_;
    std::atomic<IRTPClient*> ownSource_{nullptr};  // compared on the source's thread
    std::atomic<IRTPReceiverUser*> user_{nullptr};
    std::atomic<bool> stopping_{true};
    int socketBuffer_ = kSocketBuffer;
    int warnedBuffer_ = 0;  // the size asked when the last warning was given
    bool outOfDescriptors_ = false;

    CLock queueLock_;
    std::vector<ItemPtr> queue_;
    std::vector<ItemPtr> spare_;
    size_t queuedBytes_ = 0;  // queued and being delivered
    bool overflowing_ = false;
    const size_t queueLimit_;
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> kernelDrops_{0};
    CEvent queuedEvent_;

    // The source thread's: items to parse into, refilled from the spares
    // under the lock that queues a batch, and the parsed ones of a batch.
    std::vector<ItemPtr> stash_;
    std::vector<ItemPtr> parsed_;
};

}  // namespace dravnel
