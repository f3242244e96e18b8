// RTP over UDP on loopback, bottom up: the packet record, the packet source,
// the RTP receiver with its queue and delivery thread, the RTCP handler.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <mutex>
#include <thread>
#include <tuple>

#include "rtp/CRTCPHandler.h"
#include "rtp/CRTPReceiver.h"
#include "tests/rtp/RtpPeers.h"
#include "tests/support/RecordingLog.h"
#include "threads/CEvent.h"

namespace {

using namespace std::chrono_literals;
using dravnel::test::Bytes;
using dravnel::test::kSenderReport;
using dravnel::test::Loopback;
using dravnel::test::WaitUntil;

// The first two bytes as given (V P X CC, M PT), the sequence number, time
// stamp 1000, SSRC 11 22 33 44, then the rest.
Bytes Wire(uint8_t first, uint8_t second, const Bytes& rest, uint16_t sequence = 0x1234) {
    Bytes p;
    dravnel::ByteWriter(p).U8(first).U8(second).U16(sequence).U32(1000).U32(0x11223344).Bytes(rest);
    return p;
}

// V=2, PT 96, the sequence number, then `size` payload bytes.
Bytes RtpPacket(uint16_t sequence, size_t size = 4) { return Wire(0x80, 0x60, Bytes(size, 0xAB), sequence); }

// The payload of a packet that parses, with its length field checked.
std::optional<Bytes> PayloadOf(const Bytes& wire) {
    dravnel::CRTPPacket packet;
    if (!packet.Parse(wire)) return std::nullopt;
    EXPECT_EQ(packet.payloadLength, packet.payload.size());
    return packet.payload;
}

// First byte: V(2) P X CC(4); second: M PT(7). No payload: dropped.
TEST(RTPPacket, PayloadOfGoldenPackets) {
    const std::tuple<const char*, Bytes, std::optional<Bytes>> kCases[] = {
        {"header only", Wire(0x80, 0x60, {}), std::nullopt},
        {"one payload byte", Wire(0x80, 0x60, {0xAA}), Bytes{0xAA}},
        {"version 1", Wire(0x40, 0x60, {0xAA}), std::nullopt},
        {"padding", Wire(0xA0, 0x60, {0xAA, 0xBB, 0x00, 0x02}), Bytes{0xAA, 0xBB}},
        {"padding is all", Wire(0xA0, 0x60, {0x03, 0x03, 0x03}), Bytes{}},
        {"padding too large", Wire(0xA0, 0x60, {0x01, 0x02, 0x05}), std::nullopt},
        {"extension length 0", Wire(0x90, 0x60, {0xBE, 0xDE, 0x00, 0x00, 0xCC}), Bytes{0xCC}},
        {"extension too long", Wire(0x90, 0x60, {0x10, 0x00, 0x00, 0x02, 0x01, 0x02, 0x03, 0x04, 0xCC}), std::nullopt},
        {"extension header cut", Wire(0x90, 0x60, {0x10, 0x00}), std::nullopt},
        {"CSRC list fills the packet", Wire(0x82, 0x60, Bytes(8, 0x01)), std::nullopt},
    };
    for (const auto& [name, wire, payload] : kCases) EXPECT_EQ(PayloadOf(wire), payload) << name;
}

class UDPReception : public ::testing::Test {
protected:
    dravnel::test::LoopbackPeer peer;
    dravnel::test::Recorder user;
};

// Datagrams reach the user, empty ones do not. One longer than the buffer is
// lost once; the buffer then grows by 1024 bytes or to its size. Close tells
// the user once. Idle, the client times out at its readiness time-out. A
// Close from elsewhere while the thread is in the user call tells the user
// only once that thread has ended; the call itself may close the client.
TEST_F(UDPReception, Client) {
    dravnel::CUDPClient client(nullptr);
    ASSERT_TRUE(client.Open(&user, 0));
    EXPECT_FALSE(client.Open(&user, 0));
    client.SetReceiveSize(1536);
    std::vector<Bytes> expected{{1, 2, 3}};
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {}));
    ASSERT_TRUE(peer.SendTo(client.GetPort(), expected[0]));
    ASSERT_TRUE(user.WaitCount(1));
    for (const auto& [size, grownTo] : {std::pair{1536u + 1000u, 1536u + 1024u}, std::pair{9000u, 9000u}}) {
        const Bytes big(size, 0x42);
        const unsigned before = client.ReceiveSize();
        ASSERT_TRUE(peer.SendTo(client.GetPort(), big));
        ASSERT_TRUE(WaitUntil([&] { return client.ReceiveSize() != before; }));
        ASSERT_TRUE(peer.SendTo(client.GetPort(), big));
        ASSERT_TRUE(peer.SendTo(client.GetPort(), {7}));
        expected.insert(expected.end(), {big, {7}});
        ASSERT_TRUE(user.WaitCount(expected.size()));
        EXPECT_EQ(client.ReceiveSize(), grownTo);
    }
    client.Close();
    client.Close();
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(client.GetPort(), 0);
    EXPECT_EQ(user.closed.load(), 1);
    EXPECT_EQ(user.datagrams, expected);

    dravnel::CManualEvent release;
    user.onPacket = [&](dravnel::IRTPClient* source) {
        release.Wait(dravnel::platform::kInfinite);
        source->Close();
    };
    client.SetSelectTimeout(0, 20);
    const auto opened = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Open(&user, 0));
    ASSERT_TRUE(WaitUntil([&] { return user.timeouts.load() >= 3; }));
    EXPECT_GE(std::chrono::steady_clock::now() - opened, 60ms);
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {9}));
    ASSERT_TRUE(user.WaitCount(expected.size() + 1));
    std::thread closer([&] { client.Close(); });
    EXPECT_FALSE(WaitUntil([&] { return user.closed.load() > 1; }, 50ms));
    release.Set();
    closer.join();
    EXPECT_FALSE(client.IsRunning());
    EXPECT_EQ(user.closed.load(), 2);
}

// A packet source whose readiness waits report what the test queues first.
class FailingWaitClient : public dravnel::CUDPClient {
public:
    FailingWaitClient() : CUDPClient(nullptr) {}
    ~FailingWaitClient() override { Close(); }
    void Queue(std::initializer_list<dravnel::platform::IoStatus> statuses) {
        std::lock_guard<std::mutex> guard(mutex_);
        queued_.insert(queued_.end(), statuses);
    }

protected:
    dravnel::platform::IoStatus WaitSocket(uint32_t timeoutMs) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (!queued_.empty()) {
                const dravnel::platform::IoStatus status = queued_.front();
                queued_.erase(queued_.begin());
                return status;
            }
        }
        return CUDPClient::WaitSocket(timeoutMs);
    }

private:
    std::mutex mutex_;
    std::vector<dravnel::platform::IoStatus> queued_;
};

// Failed waits are retried; a closed socket ends the thread, telling the user.
TEST_F(UDPReception, FailedWaitsAreRetriedAndOnlyAClosedSocketEndsTheThread) {
    FailingWaitClient client;
    client.Queue(
        {dravnel::platform::IoStatus::Error, dravnel::platform::IoStatus::Error, dravnel::platform::IoStatus::Error});
    ASSERT_TRUE(client.Open(&user, 0));
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {1}));
    ASSERT_TRUE(user.WaitCount(1));
    EXPECT_EQ(user.closed.load(), 0);
    EXPECT_TRUE(client.IsRunning());

    client.Queue({dravnel::platform::IoStatus::Closed});
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {2}));
    ASSERT_TRUE(WaitUntil([&] { return !client.IsRunning(); }));
    EXPECT_EQ(user.closed.load(), 1);
    EXPECT_EQ(user.datagrams, (std::vector<Bytes>{{1}, {2}}));
}

// A key frame's burst of four times the old 64 KB buffer waits in the socket
// while the client's thread is held: at the receiver's size none is dropped;
// at the old size some are, and the client counts exactly those.
TEST_F(UDPReception, KeyFrameBurst) {
    constexpr size_t kBurst = 190;  // 1400-byte datagrams: 266 000 bytes
    const struct {
        const char* name;
        int socketBuffer;
        bool lossless;
    } kCases[] = {
        {"the old 64 KB buffer", 65535, false},
        {"the receiver's buffer", dravnel::CRTPReceiver::kSocketBuffer, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        dravnel::test::Recorder recorder;
        dravnel::CManualEvent burstSent;
        std::atomic<bool> held{false};
        recorder.onPacket = [&](dravnel::IRTPClient*) {
            if (!held.exchange(true)) burstSent.Wait(dravnel::platform::kInfinite);
        };
        dravnel::CUDPClient client(nullptr);
        client.SetSocketBuffer(c.socketBuffer);
        ASSERT_TRUE(client.Open(&recorder, 0));
        if (c.lossless && client.SocketBufferGranted() < c.socketBuffer)
            GTEST_SKIP() << "the system grants only " << client.SocketBufferGranted() << " bytes";
        for (size_t i = 0; i < kBurst; ++i) ASSERT_TRUE(peer.SendTo(client.GetPort(), RtpPacket(uint16_t(i), 1388)));
        ASSERT_TRUE(WaitUntil([&] { return held.load(); }));
        burstSent.Set();
        // A datagram that arrives tells of the drops before it.
        size_t sent = kBurst;
        ASSERT_TRUE(WaitUntil([&] {
            if (recorder.Count() + client.KernelDrops() == sent) return true;
            peer.SendTo(client.GetPort(), RtpPacket(uint16_t(sent++), 1388));
            return false;
        })) << recorder.Count()
            << " received, " << client.KernelDrops() << " dropped of " << sent;
        if (c.lossless)
            EXPECT_EQ(client.KernelDrops(), 0u);
        else
            EXPECT_GT(client.KernelDrops(), 0u);
        client.Close();
    }
}

// With every descriptor taken the client fails to open and says why; one
// freed, it opens. (It opens once before, so that UBSan learns its types.)
TEST_F(UDPReception, ClientOutOfDescriptors) {
    dravnel::CUDPClient client(nullptr);
    ASSERT_TRUE(client.Open(&user, 0));
    client.Close();
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int probe = dup(0);
    ASSERT_GE(probe, 0);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(probe) + 4;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> taken{probe};
    for (int fd; (fd = dup(0)) >= 0;) taken.push_back(fd);

    EXPECT_FALSE(client.Open(&user, 0));
    EXPECT_TRUE(client.OutOfDescriptors());
    close(taken.back());
    taken.pop_back();
    EXPECT_TRUE(client.Open(&user, 0));
    EXPECT_FALSE(client.OutOfDescriptors());
    client.Close();

    for (int fd : taken) close(fd);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
}

class RTPReceiver : public UDPReception {
protected:
    RTPReceiver() { receiver.SetUser(&user); }
    ~RTPReceiver() override { release.Set(); }

    void Inject(const Bytes& packet, dravnel::IRTPClient* source = nullptr) {
        const sockaddr_in from{};
        receiver.OnPacket(source ? source : receiver.Source(), &from, packet.data(),
                          static_cast<unsigned>(packet.size()));
    }

    dravnel::test::RecordingLog log;
    dravnel::CManualEvent release;  // for a delivery made to wait
    dravnel::CRTPReceiver receiver{&log, 64 * 1024};
};

// Once Stop returns no delivery is under way or to come. A start on a taken
// port fails. Started again, it delivers well-formed packets with their
// sender and drops malformed ones and those of another source.
TEST_F(RTPReceiver, StopStartAndDeliver) {
    user.onRtpPacket = [](dravnel::CRTPPacket*) { std::this_thread::sleep_for(5ms); };
    ASSERT_TRUE(receiver.Start(0));
    EXPECT_EQ(static_cast<dravnel::CUDPClient*>(receiver.Source())->SocketBufferAsked(),
              dravnel::CRTPReceiver::kSocketBuffer);
    for (uint16_t seq = 0; seq < 50; ++seq) Inject(RtpPacket(seq));
    ASSERT_TRUE(user.WaitCount(2));
    receiver.Stop();
    EXPECT_FALSE(user.inCall.load());
    const size_t delivered = user.Count();
    EXPECT_LT(delivered, 50u);
    EXPECT_EQ(user.closed.load(), 1);  // the source closed
    EXPECT_FALSE(receiver.IsRunning());
    EXPECT_EQ(receiver.GetPort(), 0);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(user.Count(), delivered);

    EXPECT_FALSE(receiver.Start(peer.Port()));
    EXPECT_EQ(receiver.GetPort(), 0);
    EXPECT_EQ(receiver.Source(), nullptr);
    EXPECT_FALSE(receiver.IsRunning());

    ASSERT_TRUE(receiver.Start(0));
    dravnel::CUDPClient other(nullptr);
    Inject(RtpPacket(5), &other);
    receiver.OnTimeout(&other);
    receiver.OnClosed(&other);
    receiver.OnTimeout(receiver.Source());
    for (const Bytes& datagram : {RtpPacket(1), Wire(0x80, 0x60, {}), Wire(0x40, 0x60, {9}), RtpPacket(2)}) {
        ASSERT_TRUE(peer.SendTo(receiver.GetPort(), datagram));
    }
    ASSERT_TRUE(user.WaitCount(delivered + 2));
    EXPECT_EQ(user.timeouts.load(), 1);
    EXPECT_EQ(user.closed.load(), 1);
    receiver.Stop();
    EXPECT_EQ(std::vector<uint16_t>(user.sequences.begin() + delivered, user.sequences.end()),
              (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(ntohs(user.senders.back().sin_port), peer.Port());
    EXPECT_EQ(user.senders.back().sin_addr.s_addr, Loopback());
}

// Beyond the queue's byte limit packets are dropped and counted, one warning.
TEST_F(RTPReceiver, QueueIsBoundedByBytes) {
    user.onRtpPacket = [&](dravnel::CRTPPacket*) { release.Wait(dravnel::platform::kInfinite); };
    ASSERT_TRUE(receiver.Start(0));
    constexpr uint16_t kSent = 400;
    Inject(RtpPacket(0, 1000));
    ASSERT_TRUE(WaitUntil([&] { return user.inCall.load(); }));
    for (uint16_t seq = 1; seq < kSent; ++seq) Inject(RtpPacket(seq, 1000));
    const uint64_t dropped = receiver.DroppedPackets();
    EXPECT_GT(dropped, 300u);
    EXPECT_LT(dropped, kSent - 1 - 40u);  // at least some 1 KB packets fit into 64 KB
    EXPECT_EQ(log.CountContaining("dravnel::CRTPReceiver::OnPacket: Packet queue full"), 1u);

    release.Set();
    ASSERT_TRUE(user.WaitCount(kSent - dropped));
    Inject(RtpPacket(1000, 1000));
    ASSERT_TRUE(user.WaitCount(kSent - dropped + 1));
    EXPECT_EQ(user.Count(), kSent - dropped + 1);
    EXPECT_EQ(receiver.DroppedPackets(), dropped);
}

TEST(RTCPFormat, SenderReportNeedsItsSenderInfo) {
    EXPECT_TRUE(dravnel::rtcp::ParseSenderReport(kSenderReport));
    // length 0: 4 bytes, no room for the fields a report echoes
    EXPECT_FALSE(dravnel::rtcp::ParseSenderReport(Bytes{0x80, 0xC8, 0x00, 0x00}));
    EXPECT_FALSE(dravnel::rtcp::ParseSenderReport(Bytes(kSenderReport.begin(), kSenderReport.end() - 4)));
}

class RTCPHandler : public UDPReception {
protected:
    // The handler's clock reads 1000 ms when the first sender report arrives
    // and 1007 ms from then on (when the answer is built).
    std::atomic<int> clockReads{0};
    dravnel::CRTCPHandler handler{nullptr, [this] { return clockReads++ == 0 ? 1000u : 1007u; },
                                  [] { return 0xA1B2C3D4u; }};
};

// Refused: no camera address, a second start. A sender report from another
// address is ignored; one receiver report answers each of the camera's, none
// when its BYE follows in the compound packet. Stop while synced says BYE.
TEST_F(RTCPHandler, ReportsAndBye) {
    EXPECT_FALSE(handler.Start(0, 0));
    ASSERT_TRUE(handler.Start(inet_addr("127.0.0.2"), 0));  // the peer is on 127.0.0.1
    EXPECT_FALSE(handler.Start(Loopback(), 0));
    ASSERT_TRUE(peer.SendTo(handler.GetPort(), kSenderReport));
    EXPECT_FALSE(peer.Receive(100));
    handler.Stop();

    ASSERT_TRUE(handler.Start(Loopback(), 0));
    for (uint16_t n : {65534, 65535, 0, 1}) handler.UpdateSequence(n);
    EXPECT_FALSE(peer.Receive(50));
    ASSERT_TRUE(peer.SendTo(handler.GetPort(), kSenderReport));
    EXPECT_EQ(peer.Receive(2000), dravnel::test::kReceiverReport);
    EXPECT_FALSE(peer.Receive(50));
    Bytes withBye = kSenderReport;
    // the camera's BYE: V=2 SC=1 PT=203 length 1, SSRC 0C 0D 0E 0F
    withBye.insert(withBye.end(), {0x81, 0xCB, 0x00, 0x01, 0x0C, 0x0D, 0x0E, 0x0F});
    ASSERT_TRUE(peer.SendTo(handler.GetPort(), withBye));
    EXPECT_FALSE(peer.Receive(100));
    EXPECT_FALSE(handler.IsSynced());
    handler.Stop();
    EXPECT_FALSE(peer.Receive(50));

    ASSERT_TRUE(handler.Start(Loopback(), 0));
    EXPECT_EQ(handler.ExtendedHighestSequence(), 0u);
    ASSERT_TRUE(peer.SendTo(handler.GetPort(), kSenderReport));
    EXPECT_EQ(peer.Receive(2000).value_or(Bytes{}).size(), 32u);
    EXPECT_TRUE(handler.IsSynced());
    handler.Stop();
    EXPECT_EQ(peer.Receive(2000), dravnel::test::kBye);
    EXPECT_FALSE(handler.IsSynced());
    EXPECT_FALSE(handler.IsRunning());
    handler.Stop();
    EXPECT_FALSE(peer.Receive(50));
}

}  // namespace
