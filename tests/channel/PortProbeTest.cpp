// The RTP channel's choice of its UDP ports: an even port from the first one
// where no earlier stream of the device is still arriving, RTCP on the next.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "channel/CBaseRTPChannel.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "tests/support/FakeDriver.h"

namespace {

using namespace std::chrono_literals;

// An RTP channel whose ports are chosen by the test, with no stream behind it.
class ProbingChannel : public dravnel::CBaseRTPChannel {
public:
    ProbingChannel(dravnel::IDriver* driver, uint16_t firstPort) : CBaseRTPChannel(0, driver, nullptr) {
        firstPort_ = firstPort;
        portLimit_ = static_cast<uint16_t>(firstPort + 6);
        staleProbeMs_ = 1000;
    }
    ~ProbingChannel() override { Stop(); }
    using CBaseRTPChannel::StartStreaming;
    using CBaseRTPChannel::StopStreaming;

protected:
    bool PrepareStream() override { return true; }
    bool ApplyUpdate() override { return true; }
    void HandleRTPPacket(dravnel::CRTPPacket*) override {}
};

// An even port with the three after it free just now, so that parallel test
// processes do not meet.
uint16_t FreeEvenPorts() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        dravnel::platform::Socket probe;
        if (!probe.Create(dravnel::platform::Socket::Kind::Udp) || !probe.Bind(0)) continue;
        const uint16_t port = static_cast<uint16_t>(probe.LocalPort() & ~1u);
        probe.Close();
        bool free = port >= 1024 && port < 65530;
        for (uint16_t p = port; free && p < port + 4; ++p) {
            dravnel::platform::Socket s;
            free = s.Create(dravnel::platform::Socket::Kind::Udp) && s.Bind(p);
        }
        if (free) return port;
    }
    return 0;
}

// A stream of the device still arriving at the first port (from an earlier
// session that was never torn down) moves the channel on to the next even
// port; without one the first port is taken.
TEST(PortProbe, AStaleStreamMovesTheChannelToTheNextEvenPort) {
    for (const bool stale : {true, false}) {
        SCOPED_TRACE(stale ? "stale stream" : "silence");
        dravnel::test::FakeDriver driver;  // the device at 127.0.0.1
        const uint16_t first = FreeEvenPorts();
        ASSERT_NE(first, 0);
        ProbingChannel channel(&driver, first);

        std::atomic<bool> sending{stale};
        dravnel::platform::Thread camera;
        camera.Start([&] {
            dravnel::platform::Socket socket;
            socket.Create(dravnel::platform::Socket::Kind::Udp);
            const sockaddr_in to{
                .sin_family = AF_INET, .sin_port = htons(first), .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
            const uint8_t packet[] = {0x80, 0x60, 0x00, 0x01, 0, 0, 0, 1, 0x11, 0x22, 0x33, 0x44, 0x65, 0x88};
            while (sending) {
                socket.SendTo(to, packet);
                std::this_thread::sleep_for(1ms);
            }
        });
        const bool started = channel.StartStreaming();
        sending = false;
        camera.Join();
        ASSERT_TRUE(started);
        EXPECT_EQ(channel.RtpPort(), stale ? first + 2 : first);
        EXPECT_EQ(channel.RtcpPort(), channel.RtpPort() + 1);
        channel.StopStreaming();
        EXPECT_EQ(channel.RtpPort(), 0);
    }
}

}  // namespace
