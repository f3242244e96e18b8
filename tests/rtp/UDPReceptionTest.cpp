// UDP reception on loopback: the packet source, and the RTP receiver with its
// queue, its delivery thread and its stop.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "rtp/CRTPReceiver.h"
#include "rtp/CUDPClient.h"
#include "tests/rtp/LoopbackPeer.h"
#include "tests/rtp/Recorder.h"
#include "tests/support/RecordingLog.h"
#include "tests/support/WaitUntil.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;
using quarnel::test::Recorder;
using quarnel::test::WaitUntil;

// V=2, PT 96, the given sequence number, time stamp 0x1000, SSRC 1, then payload.
Bytes RtpPacket(uint16_t sequence, size_t payloadBytes = 4) {
    Bytes p{0x80, 0x60, static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence), 0, 0, 0x10, 0, 0, 0, 0, 1};
    p.resize(12 + payloadBytes, 0xAB);
    return p;
}

class UDPClient : public ::testing::Test {
protected:
    Recorder user;
    dravnel::CUDPClient client{nullptr};
    quarnel::test::LoopbackPeer peer;
};

// Datagrams reach the user with their sender, empty ones do not; Close tells
// the user once, and the client opens again.
TEST_F(UDPClient, DeliversUntilClosedAndReopens) {
    ASSERT_TRUE(client.Open(&user, 0));
    EXPECT_FALSE(client.Open(&user, 0));
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {}));
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {1, 2, 3}));
    ASSERT_TRUE(user.WaitCount(1));
    client.Close();
    client.Close();
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(client.GetPort(), 0);
    EXPECT_FALSE(client.IsRunning());
    EXPECT_EQ(user.closed.load(), 1);
    {
        std::lock_guard<std::mutex> guard(user.mutex);
        EXPECT_EQ(user.datagrams, (std::vector<Bytes>{{1, 2, 3}}));
        EXPECT_EQ(ntohs(user.senders[0].sin_port), peer.Port());
        EXPECT_EQ(user.senders[0].sin_addr.s_addr, quarnel::test::Loopback());
    }
    ASSERT_TRUE(client.Open(&user, 0));
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {9}));
    EXPECT_TRUE(user.WaitCount(2));
}

// A datagram longer than the buffer is lost once; the buffer then fits it,
// growing by 1024 bytes or straight to the datagram's size.
struct GrowthCase {
    unsigned datagram;
    unsigned grownTo;
};

class UDPClientGrowth : public UDPClient, public ::testing::WithParamInterface<GrowthCase> {};

TEST_P(UDPClientGrowth, LongDatagramGrowsTheBuffer) {
    ASSERT_TRUE(client.Open(&user, 0));
    client.SetReceiveSize(1536);
    const Bytes big(GetParam().datagram, 0x42);
    ASSERT_TRUE(peer.SendTo(client.GetPort(), big));
    ASSERT_TRUE(WaitUntil([&] { return client.ReceiveSize() != 1536; }));
    ASSERT_TRUE(peer.SendTo(client.GetPort(), big));
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {7}));
    ASSERT_TRUE(user.WaitCount(2));
    std::lock_guard<std::mutex> guard(user.mutex);
    EXPECT_EQ(user.datagrams, (std::vector<Bytes>{big, {7}}));
    EXPECT_EQ(client.ReceiveSize(), GetParam().grownTo);
}

INSTANTIATE_TEST_SUITE_P(Sizes, UDPClientGrowth,
                         ::testing::Values(GrowthCase{1536 + 1000, 1536 + 1024}, GrowthCase{60000, 60000}));

TEST_F(UDPClient, TimeoutsWhileIdle) {
    client.SetSelectTimeout(0, 20);
    ASSERT_TRUE(client.Open(&user, 0));
    std::this_thread::sleep_for(150ms);
    client.Close();
    EXPECT_GE(user.timeouts.load(), 3);
    EXPECT_LE(user.timeouts.load(), 8);
}

// The user may close the client from inside its call, on the client's thread.
TEST_F(UDPClient, CloseFromInsideTheUserCall) {
    user.onPacket = [&](dravnel::IRTPClient* source) { source->Close(); };
    ASSERT_TRUE(client.Open(&user, 0));
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {1}));
    ASSERT_TRUE(user.WaitCount(1));
    EXPECT_TRUE(WaitUntil([&] { return !client.IsRunning(); }));
    EXPECT_FALSE(client.IsOpen());
    client.Close();
    EXPECT_EQ(user.closed.load(), 1);
}

class RTPReceiver : public ::testing::Test {
protected:
    RTPReceiver() { receiver.SetUser(&channel); }

    // Straight into the receiver as its socket thread would.
    void Inject(const Bytes& packet, dravnel::IRTPClient* source = nullptr) {
        const sockaddr_in from{};
        receiver.OnPacket(source ? source : receiver.Source(), &from, packet.data(),
                          static_cast<unsigned>(packet.size()));
    }

    quarnel::test::RecordingLog log;
    Recorder channel;
    dravnel::CRTPReceiver receiver{&log};
    quarnel::test::LoopbackPeer peer;
};

// Over loopback UDP: well-formed packets with their sender, malformed ones
// (header only, version 1) dropped.
TEST_F(RTPReceiver, DeliversWellFormedPackets) {
    ASSERT_TRUE(receiver.Start(0));
    for (const Bytes& datagram : {RtpPacket(1), Bytes(12, 0x80), Bytes{0x40, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 9},
                                  RtpPacket(2)}) {
        ASSERT_TRUE(peer.SendTo(receiver.GetPort(), datagram));
    }
    ASSERT_TRUE(channel.WaitCount(2));
    std::lock_guard<std::mutex> guard(channel.mutex);
    EXPECT_EQ(channel.sequences, (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(ntohs(channel.senders[0].sin_port), peer.Port());
    EXPECT_EQ(channel.senders[0].sin_addr.s_addr, quarnel::test::Loopback());
}

TEST_F(RTPReceiver, OnlyItsOwnSourceCounts) {
    ASSERT_TRUE(receiver.Start(0));
    dravnel::CUDPClient other(nullptr);
    Inject(RtpPacket(5), &other);
    receiver.OnTimeout(&other);
    receiver.OnClosed(&other);
    receiver.OnTimeout(receiver.Source());
    Inject(RtpPacket(6));
    ASSERT_TRUE(channel.WaitCount(1));  // the foreign packet would have come first
    {
        std::lock_guard<std::mutex> guard(channel.mutex);
        EXPECT_EQ(channel.sequences[0], 6);
    }
    EXPECT_EQ(channel.timeouts.load(), 1);
    EXPECT_EQ(channel.closed.load(), 0);
}

// Once Stop returns no delivery is under way or still to come; the receiver
// then starts again.
TEST_F(RTPReceiver, StopLeavesNoDeliveryBehind) {
    channel.delay = 5ms;
    ASSERT_TRUE(receiver.Start(0));
    for (uint16_t seq = 0; seq < 50; ++seq) Inject(RtpPacket(seq));
    ASSERT_TRUE(channel.WaitCount(2));
    receiver.Stop();
    EXPECT_FALSE(channel.inCall.load());
    const size_t delivered = channel.Count();
    EXPECT_LT(delivered, 50u);
    EXPECT_EQ(channel.closed.load(), 1);  // the source closed
    EXPECT_FALSE(receiver.IsRunning());
    EXPECT_EQ(receiver.GetPort(), 0);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(channel.Count(), delivered);

    channel.delay = 0ms;
    ASSERT_TRUE(receiver.Start(0));
    ASSERT_TRUE(peer.SendTo(receiver.GetPort(), RtpPacket(3)));
    EXPECT_TRUE(channel.WaitCount(delivered + 1));
}

TEST_F(RTPReceiver, StartFailsOnATakenPort) {
    dravnel::CRTPReceiver first(&log);
    ASSERT_TRUE(first.Start(0));
    EXPECT_FALSE(receiver.Start(first.GetPort()));
    EXPECT_EQ(receiver.GetPort(), 0);
    EXPECT_EQ(receiver.Source(), nullptr);
    EXPECT_FALSE(receiver.IsRunning());
}

// A channel that stops taking packets must not make the receiver hoard them:
// beyond the byte limit packets are dropped and counted, with one warning.
TEST(RTPReceiverQueue, IsBoundedByBytes) {
    quarnel::test::RecordingLog log;
    Recorder channel;
    channel.block = true;
    dravnel::CRTPReceiver receiver(&log, 64 * 1024);
    receiver.SetUser(&channel);
    ASSERT_TRUE(receiver.Start(0));
    const sockaddr_in from{};
    auto inject = [&](uint16_t seq) {
        const Bytes packet = RtpPacket(seq, 1000);
        receiver.OnPacket(receiver.Source(), &from, packet.data(), static_cast<unsigned>(packet.size()));
    };
    constexpr uint16_t kSent = 400;
    inject(0);
    // The first one is taken out and blocks the delivery thread.
    ASSERT_TRUE(WaitUntil([&] { return channel.inCall.load(); }));
    for (uint16_t seq = 1; seq < kSent; ++seq) inject(seq);
    const uint64_t dropped = receiver.DroppedPackets();
    EXPECT_GT(dropped, 300u);
    EXPECT_LT(dropped, kSent - 1 - 40u);  // at least some 1 KB packets fit into 64 KB
    EXPECT_EQ(log.CountContaining("dravnel::CRTPReceiver::OnPacket: Packet queue full"), 1u);

    channel.release.Set();
    ASSERT_TRUE(channel.WaitCount(kSent - dropped));
    // The queue drained: there is room again.
    inject(1000);
    ASSERT_TRUE(channel.WaitCount(kSent - dropped + 1));
    EXPECT_EQ(channel.Count(), kSent - dropped + 1);
    EXPECT_EQ(receiver.DroppedPackets(), dropped);
}

}  // namespace
