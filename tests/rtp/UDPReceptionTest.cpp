// UDP reception on loopback: the packet source; the RTP receiver with its
// queue, its delivery thread and its stop; RTCP's sequence bookkeeping and
// compound walk, and the RTCP handler with a test clock and a fixed SSRC.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "rtp/CRTCPHandler.h"
#include "rtp/CRTPReceiver.h"
#include "tests/rtp/RtpPeers.h"
#include "tests/support/RecordingLog.h"
#include "threads/CEvent.h"

namespace {

using namespace std::chrono_literals;
using quarnel::test::Bytes;
using quarnel::test::kSenderReport;
using quarnel::test::Loopback;
using quarnel::test::WaitUntil;

// V=2, PT 96, the given sequence number, time stamp 0x1000, SSRC 1, then payload.
Bytes RtpPacket(uint16_t sequence, size_t payloadBytes = 4) {
    Bytes p{0x80, 0x60, static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence), 0, 0, 0x10, 0, 0, 0, 0, 1};
    p.resize(12 + payloadBytes, 0xAB);
    return p;
}

// BYE: V=2 SC=1 PT=203 length 1, SSRC 0C 0D 0E 0F.
const Bytes kCameraBye{0x81, 0xCB, 0x00, 0x01, 0x0C, 0x0D, 0x0E, 0x0F};

class UDPReception : public ::testing::Test {
protected:
    quarnel::test::LoopbackPeer peer;
    quarnel::test::Recorder user;
};

// Datagrams reach the user, empty ones do not. A datagram longer than the
// buffer is lost once; the buffer then fits it, growing by 1024 bytes or
// straight to the datagram's size. Close ends the client's thread before it
// closes the socket, and tells the user once. The client opens again; idle,
// it times out at its readiness time-out; the user may close it from inside
// its call, on the client's thread.
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
    EXPECT_FALSE(client.IsRunning());
    EXPECT_EQ(user.closed.load(), 1);
    EXPECT_EQ(user.datagrams, expected);  // the client's thread has ended
    EXPECT_EQ(user.timeouts.load(), 0);

    user.onPacket = [&](dravnel::IRTPClient* source) { source->Close(); };
    client.SetSelectTimeout(0, 20);
    ASSERT_TRUE(client.Open(&user, 0));
    std::this_thread::sleep_for(150ms);
    EXPECT_GE(user.timeouts.load(), 3);
    EXPECT_LE(user.timeouts.load(), 8);
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {9}));
    ASSERT_TRUE(user.WaitCount(expected.size() + 1));
    EXPECT_TRUE(WaitUntil([&] { return !client.IsRunning(); }));
    EXPECT_FALSE(client.IsOpen());
    client.Close();
    EXPECT_EQ(user.closed.load(), 2);
}

class RTPReceiver : public UDPReception {
protected:
    RTPReceiver() { receiver.SetUser(&user); }

    // Straight into the receiver as its socket thread would.
    void Inject(const Bytes& packet, dravnel::IRTPClient* source = nullptr) {
        const sockaddr_in from{};
        receiver.OnPacket(source ? source : receiver.Source(), &from, packet.data(),
                          static_cast<unsigned>(packet.size()));
    }

    quarnel::test::RecordingLog log;
    dravnel::CRTPReceiver receiver{&log, 64 * 1024};
};

// Over loopback UDP: well-formed packets with their sender; malformed ones
// (header only, version 1), and anything from a source other than its own,
// dropped.
TEST_F(RTPReceiver, DeliversItsOwnWellFormedPackets) {
    ASSERT_TRUE(receiver.Start(0));
    dravnel::CUDPClient other(nullptr);
    Inject(RtpPacket(5), &other);
    receiver.OnTimeout(&other);
    receiver.OnClosed(&other);
    receiver.OnTimeout(receiver.Source());
    for (const Bytes& datagram : {RtpPacket(1), Bytes(12, 0x80), Bytes{0x40, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 9},
                                  RtpPacket(2)}) {
        ASSERT_TRUE(peer.SendTo(receiver.GetPort(), datagram));
    }
    ASSERT_TRUE(user.WaitCount(2));
    EXPECT_EQ(user.timeouts.load(), 1);
    EXPECT_EQ(user.closed.load(), 0);
    receiver.Stop();
    EXPECT_EQ(user.sequences, (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(ntohs(user.senders[0].sin_port), peer.Port());
    EXPECT_EQ(user.senders[0].sin_addr.s_addr, Loopback());
}

// Once Stop returns no delivery is under way or still to come. A start on a
// taken port fails and leaves the receiver stopped; it then starts again.
TEST_F(RTPReceiver, StopLeavesNoDeliveryBehind) {
    user.onRtpPacket = [](dravnel::CRTPPacket*) { std::this_thread::sleep_for(5ms); };
    ASSERT_TRUE(receiver.Start(0));
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
    ASSERT_TRUE(peer.SendTo(receiver.GetPort(), RtpPacket(3)));
    EXPECT_TRUE(user.WaitCount(delivered + 1));
}

// A channel that stops taking packets must not make the receiver hoard them:
// beyond the byte limit packets are dropped and counted, with one warning.
TEST_F(RTPReceiver, QueueIsBoundedByBytes) {
    dravnel::CManualEvent release;
    user.onRtpPacket = [&](dravnel::CRTPPacket*) { release.Wait(platform::kInfinite); };
    ASSERT_TRUE(receiver.Start(0));
    constexpr uint16_t kSent = 400;
    Inject(RtpPacket(0, 1000));
    // The first one is taken out and blocks the delivery thread.
    ASSERT_TRUE(WaitUntil([&] { return user.inCall.load(); }));
    for (uint16_t seq = 1; seq < kSent; ++seq) Inject(RtpPacket(seq, 1000));
    const uint64_t dropped = receiver.DroppedPackets();
    EXPECT_GT(dropped, 300u);
    EXPECT_LT(dropped, kSent - 1 - 40u);  // at least some 1 KB packets fit into 64 KB
    EXPECT_EQ(log.CountContaining("dravnel::CRTPReceiver::OnPacket: Packet queue full"), 1u);

    release.Set();
    ASSERT_TRUE(user.WaitCount(kSent - dropped));
    // The queue drained: there is room again.
    Inject(RtpPacket(1000, 1000));
    ASSERT_TRUE(user.WaitCount(kSent - dropped + 1));
    EXPECT_EQ(user.Count(), kSent - dropped + 1);
    EXPECT_EQ(receiver.DroppedPackets(), dropped);
}

// RFC 3550 Appendix A.1 with MAX_DROPOUT 3000 and MAX_MISORDER 100 (the
// wrap shows in the receiver report below).
TEST(RTCPSequenceState, ExtendedHighest) {
    const std::pair<std::vector<uint16_t>, uint32_t> kCases[] = {
        {{100, 101, 99}, 101},       // misordered
        {{65535, 0, 65535}, 65536},  // late across the wrap
        // A jump of more than 3000 is believed once the next packet follows it.
        {{100, 10000}, 100},
        {{100, 10000, 10001}, 10001},
        {{100, 10000, 10005}, 100},
    };
    for (const auto& [numbers, highest] : kCases) {
        dravnel::CRTPSequenceState state;
        for (uint16_t n : numbers) state.Update(n);
        EXPECT_EQ(state.ExtendedHighest(), highest) << ::testing::PrintToString(numbers);
    }
}

TEST(RTCPFormat, WalkStopsAtAPacketThatDoesNotFit) {
    // An empty RR (V=2 RC=0 PT=201 length 1), the SR, then a BYE cut short.
    Bytes compound{0x80, 0xC9, 0x00, 0x01, 0x0C, 0x0D, 0x0E, 0x0F};
    compound.insert(compound.end(), kSenderReport.begin(), kSenderReport.end());
    compound.insert(compound.end(), kCameraBye.begin(), kCameraBye.end() - 1);
    std::vector<std::pair<uint8_t, size_t>> walked;
    auto visit = [&](uint8_t type, std::span<const uint8_t> packet) { walked.emplace_back(type, packet.size()); };
    EXPECT_EQ(dravnel::rtcp::ForEachPacket(compound, visit), 2u);
    EXPECT_EQ(walked, (std::vector<std::pair<uint8_t, size_t>>{{201, 8}, {200, 28}}));
}

TEST(RTCPFormat, SenderReportNeedsItsSenderInfo) {
    // Its fields as read show in the receiver report below.
    EXPECT_TRUE(dravnel::rtcp::ParseSenderReport(kSenderReport));
    // length 0: 4 bytes, no room for the fields a report echoes
    EXPECT_FALSE(dravnel::rtcp::ParseSenderReport(Bytes{0x80, 0xC8, 0x00, 0x00}));
    EXPECT_FALSE(dravnel::rtcp::ParseSenderReport(Bytes(kSenderReport.begin(), kSenderReport.end() - 4)));
}

// The peer plays the camera.
class RTCPHandler : public UDPReception {
protected:
    void SendFromCamera(const Bytes& bytes) { ASSERT_TRUE(peer.SendTo(handler.GetPort(), bytes)); }

    // The handler's clock reads 1000 ms when the first sender report arrives
    // and 1007 ms from then on (when the answer is built).
    std::atomic<int> clockReads{0};
    dravnel::CRTCPHandler handler{nullptr, [this] { return clockReads++ == 0 ? 1000u : 1007u; },
                                  [] { return 0xA1B2C3D4u; }};
};

// Refused: no camera address, a second start. A sender report from an
// address other than the camera's is ignored. One receiver report answers
// each sender report and none comes without one; the answer follows the whole
// compound packet, so a BYE behind the sender report means none until the
// camera's next sender report. Stop says goodbye only while synced; a new
// start begins a new session.
TEST_F(RTCPHandler, ReportsAndBye) {
    EXPECT_FALSE(handler.Start(0, 0));
    ASSERT_TRUE(handler.Start(inet_addr("127.0.0.2"), 0));  // the peer is on 127.0.0.1
    EXPECT_FALSE(handler.Start(Loopback(), 0));
    SendFromCamera(kSenderReport);
    EXPECT_FALSE(peer.Receive(100));
    EXPECT_FALSE(handler.IsSynced());
    handler.Stop();

    ASSERT_TRUE(handler.Start(Loopback(), 0));
    for (uint16_t n : {65534, 65535, 0, 1}) handler.UpdateSequence(n);
    EXPECT_FALSE(peer.Receive(50));
    SendFromCamera(kSenderReport);
    EXPECT_EQ(peer.Receive(2000), (Bytes{
                           0x81, 0xC9, 0x00, 0x07,  // V=2 RC=1, PT=201 (RR), length 7
                           0xA1, 0xB2, 0xC3, 0xD4,  // our SSRC
                           0x0C, 0x0D, 0x0E, 0x0F,  // the camera's SSRC
                           0x00, 0x00, 0x00, 0x00,  // fraction lost, cumulative lost
                           0x00, 0x01, 0x00, 0x01,  // extended highest sequence number: 65537
                           0x00, 0x00, 0x00, 0x00,  // jitter
                           0x7E, 0x80, 0x12, 0x34,  // LSR: middle of the SR's NTP time stamp
                           0x00, 0x00, 0x01, 0xCB,  // DLSR: 7 ms = 458.752/65536 s, rounded
                       }));
    EXPECT_TRUE(handler.IsSynced());
    EXPECT_FALSE(peer.Receive(50));

    Bytes withBye = kSenderReport;
    withBye.insert(withBye.end(), kCameraBye.begin(), kCameraBye.end());
    SendFromCamera(withBye);
    EXPECT_FALSE(peer.Receive(100));
    EXPECT_FALSE(handler.IsSynced());
    SendFromCamera(kSenderReport);
    EXPECT_EQ(peer.Receive(2000).value_or(Bytes{}).size(), 32u);
    EXPECT_TRUE(handler.IsSynced());
    EXPECT_FALSE(peer.Receive(50));

    handler.Stop();
    // V=2 SC=1, PT=203, length 1, our SSRC
    EXPECT_EQ(peer.Receive(2000), (Bytes{0x81, 0xCB, 0x00, 0x01, 0xA1, 0xB2, 0xC3, 0xD4}));
    EXPECT_FALSE(handler.IsSynced());
    EXPECT_FALSE(handler.IsRunning());
    handler.Stop();
    EXPECT_FALSE(peer.Receive(50));

    // The camera's BYE came with its only sender report: nothing to say
    // goodbye to, though the camera's address is known.
    ASSERT_TRUE(handler.Start(Loopback(), 0));
    EXPECT_EQ(handler.ExtendedHighestSequence(), 0u);
    SendFromCamera(withBye);
    EXPECT_FALSE(peer.Receive(100));
    handler.Stop();
    EXPECT_FALSE(peer.Receive(50));
}

}  // namespace
