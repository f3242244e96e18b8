// The UDP packet source on loopback.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "rtp/CUDPClient.h"
#include "tests/rtp/LoopbackPeer.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

class RecordingUser : public dravnel::IRTPClientUser {
public:
    void OnPacket(dravnel::IRTPClient* source, const sockaddr_in* from, const uint8_t* data, unsigned length) override {
        {
            std::lock_guard<std::mutex> guard(mutex);
            packets.emplace_back(data, data + length);
            senders.push_back(*from);
        }
        changed.notify_all();
        if (onPacket) onPacket(source);
    }
    void OnTimeout(dravnel::IRTPClient*) override { ++timeouts; }
    void OnClosed(dravnel::IRTPClient*) override { ++closed; }
    bool WaitPackets(size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 2s, [&] { return packets.size() >= n; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Bytes> packets;
    std::vector<sockaddr_in> senders;
    std::atomic<int> timeouts{0};
    std::atomic<int> closed{0};
    std::function<void(dravnel::IRTPClient*)> onPacket;
};

class UDPClient : public ::testing::Test {
protected:
    RecordingUser user;
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
    ASSERT_TRUE(user.WaitPackets(1));
    client.Close();
    client.Close();
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(client.GetPort(), 0);
    EXPECT_FALSE(client.IsRunning());
    EXPECT_EQ(user.closed.load(), 1);
    {
        std::lock_guard<std::mutex> guard(user.mutex);
        ASSERT_EQ(user.packets.size(), 1u);
        EXPECT_EQ(user.packets[0], (Bytes{1, 2, 3}));
        EXPECT_EQ(ntohs(user.senders[0].sin_port), peer.Port());
        EXPECT_EQ(user.senders[0].sin_addr.s_addr, quarnel::test::Loopback());
    }
    ASSERT_TRUE(client.Open(&user, 0));
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {9}));
    EXPECT_TRUE(user.WaitPackets(2));
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
    for (int i = 0; i < 400 && client.ReceiveSize() == 1536; ++i) std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(peer.SendTo(client.GetPort(), big));
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {7}));
    ASSERT_TRUE(user.WaitPackets(2));
    std::lock_guard<std::mutex> guard(user.mutex);
    ASSERT_EQ(user.packets.size(), 2u);
    EXPECT_EQ(user.packets[0], big);
    EXPECT_EQ(user.packets[1], Bytes{7});
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
    ASSERT_TRUE(user.WaitPackets(1));
    for (int i = 0; i < 100 && client.IsRunning(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(client.IsRunning());
    EXPECT_FALSE(client.IsOpen());
    client.Close();
    EXPECT_EQ(user.closed.load(), 1);
}

}  // namespace
