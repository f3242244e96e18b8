// The UDP packet source on loopback.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
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
    void OnTimeout(dravnel::IRTPClient*) override {
        std::lock_guard<std::mutex> guard(mutex);
        ++timeouts;
    }
    void OnClosed(dravnel::IRTPClient*) override {
        std::lock_guard<std::mutex> guard(mutex);
        ++closed;
    }
    bool WaitPackets(size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 2s, [&] { return packets.size() >= n; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Bytes> packets;
    std::vector<sockaddr_in> senders;
    int timeouts = 0;
    int closed = 0;
    std::function<void(dravnel::IRTPClient*)> onPacket;
};

class UDPClient : public ::testing::Test {
protected:
    RecordingUser user;
    dravnel::CUDPClient client{nullptr};
    quarnel::test::LoopbackPeer peer;
};

TEST_F(UDPClient, DeliversDatagramsWithTheirSender) {
    ASSERT_TRUE(client.Open(&user, 0));
    ASSERT_NE(client.GetPort(), 0);
    EXPECT_TRUE(client.IsOpen());
    EXPECT_EQ(client.ThreadName(), "UDP client thread, port " + std::to_string(client.GetPort()));
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {}));  // empty: ignored
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {1, 2, 3}));
    ASSERT_TRUE(user.WaitPackets(1));
    std::lock_guard<std::mutex> guard(user.mutex);
    ASSERT_EQ(user.packets.size(), 1u);
    EXPECT_EQ(user.packets[0], (Bytes{1, 2, 3}));
    EXPECT_EQ(ntohs(user.senders[0].sin_port), peer.Port());
    EXPECT_EQ(user.senders[0].sin_addr.s_addr, quarnel::test::Loopback());
}

// A datagram longer than the buffer is lost once; the buffer then fits it.
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
    // The socket buffer holds one datagram of 65000 bytes: send the next
    // once the first has been read.
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
                         ::testing::Values(GrowthCase{1536 + 1000, 1536 + 1024},  // by 1024 bytes
                                           GrowthCase{5000, 5000},                // straight to its size
                                           GrowthCase{65000, 65000}));

TEST_F(UDPClient, TimeoutsWhileIdle) {
    client.SetSelectTimeout(0, 20);
    ASSERT_TRUE(client.Open(&user, 0));
    std::this_thread::sleep_for(150ms);
    client.Close();
    std::lock_guard<std::mutex> guard(user.mutex);
    EXPECT_GE(user.timeouts, 3);
    EXPECT_LE(user.timeouts, 8);
}

TEST_F(UDPClient, CloseTellsTheUserOnceAndTheClientReopens) {
    ASSERT_TRUE(client.Open(&user, 0));
    client.Close();
    client.Close();
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(client.GetPort(), 0);
    EXPECT_FALSE(client.IsRunning());
    {
        std::lock_guard<std::mutex> guard(user.mutex);
        EXPECT_EQ(user.closed, 1);
    }
    ASSERT_TRUE(client.Open(&user, 0));
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {9}));
    EXPECT_TRUE(user.WaitPackets(1));
}

TEST_F(UDPClient, CloseFromInsideTheUserCall) {
    user.onPacket = [&](dravnel::IRTPClient* source) { source->Close(); };
    ASSERT_TRUE(client.Open(&user, 0));
    ASSERT_TRUE(peer.SendTo(client.GetPort(), {1}));
    ASSERT_TRUE(user.WaitPackets(1));
    for (int i = 0; i < 100 && client.IsRunning(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(client.IsRunning());
    EXPECT_FALSE(client.IsOpen());
    client.Close();
    std::lock_guard<std::mutex> guard(user.mutex);
    EXPECT_EQ(user.closed, 1);
}

TEST_F(UDPClient, OpenRefusesATakenPortAndASecondOpen) {
    ASSERT_TRUE(client.Open(&user, 0));
    EXPECT_FALSE(client.Open(&user, 0));
    EXPECT_TRUE(client.IsOpen());
    dravnel::CUDPClient other(nullptr);
    EXPECT_FALSE(other.Open(&user, client.GetPort()));
    EXPECT_FALSE(other.IsOpen());
    EXPECT_EQ(other.GetPort(), 0);
}

TEST_F(UDPClient, SendToReachesThePeer) {
    ASSERT_TRUE(client.Open(&user, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(peer.Port());
    to.sin_addr.s_addr = quarnel::test::Loopback();
    ASSERT_TRUE(client.SendTo(to, Bytes{4, 5}));
    const auto got = peer.Receive(2000);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, (Bytes{4, 5}));
    client.Close();
    EXPECT_FALSE(client.SendTo(to, Bytes{4, 5}));
}

}  // namespace
