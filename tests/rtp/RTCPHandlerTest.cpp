// RTCP: sequence bookkeeping, the compound walk, and the handler on loopback
// with a test clock and a fixed SSRC.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <string>
#include <vector>

#include "rtp/CRTCPHandler.h"
#include "rtp/CRTPSequenceState.h"
#include "rtp/RTCPFormat.h"
#include "tests/rtp/LoopbackPeer.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct SequenceCase {
    const char* name;
    std::vector<uint16_t> numbers;
    uint32_t extendedHighest;
};

class SequenceState : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(SequenceState, ExtendedHighest) {
    dravnel::CRTPSequenceState state;
    for (uint16_t n : GetParam().numbers) state.Update(n);
    EXPECT_EQ(state.ExtendedHighest(), GetParam().extendedHighest);
}

INSTANTIATE_TEST_SUITE_P(
    Rfc3550, SequenceState,
    ::testing::Values(SequenceCase{"Wrap", {65534, 65535, 0, 1}, 65537},
                      SequenceCase{"Misordered", {100, 101, 99}, 101},
                      SequenceCase{"LateAcrossWrap", {65535, 0, 65535}, 65536},
                      // A jump of more than 3000 is believed once the next packet follows it.
                      SequenceCase{"JumpIgnored", {100, 10000}, 100},
                      SequenceCase{"JumpConfirmed", {100, 10000, 10001}, 10001},
                      SequenceCase{"JumpNotConfirmed", {100, 10000, 10005}, 100}),
    [](const auto& info) { return std::string(info.param.name); });

// Sender report: V=2 RC=0 PT=200 length 6, SSRC 0C 0D 0E 0F, NTP time stamp
// 83 AA 7E 80 . 12 34 56 78, RTP time stamp 90000, 10 packets, 4096 octets.
const Bytes kSenderReport{0x80, 0xC8, 0x00, 0x06, 0x0C, 0x0D, 0x0E, 0x0F, 0x83, 0xAA, 0x7E, 0x80, 0x12, 0x34,
                          0x56, 0x78, 0x00, 0x01, 0x5F, 0x90, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x10, 0x00};
// BYE: V=2 SC=1 PT=203 length 1, SSRC 0C 0D 0E 0F.
const Bytes kCameraBye{0x81, 0xCB, 0x00, 0x01, 0x0C, 0x0D, 0x0E, 0x0F};

TEST(RTCPFormat, WalkStopsAtAPacketThatDoesNotFit) {
    // An empty RR (V=2 RC=0 PT=201 length 1), the SR, then a BYE cut short.
    Bytes compound{0x80, 0xC9, 0x00, 0x01, 0x0C, 0x0D, 0x0E, 0x0F};
    compound.insert(compound.end(), kSenderReport.begin(), kSenderReport.end());
    compound.insert(compound.end(), kCameraBye.begin(), kCameraBye.end() - 1);
    std::vector<uint8_t> types;
    EXPECT_EQ(dravnel::rtcp::ForEachPacket(compound, [&](uint8_t type, std::span<const uint8_t> packet) {
                  types.push_back(type);
                  EXPECT_EQ(packet.size(), type == 200 ? 28u : 8u);
              }),
              2u);
    EXPECT_EQ(types, (std::vector<uint8_t>{201, 200}));
}

TEST(RTCPFormat, SenderReportNeedsItsSenderInfo) {
    const auto sr = dravnel::rtcp::ParseSenderReport(kSenderReport);
    ASSERT_TRUE(sr);
    EXPECT_EQ(sr->versionBits, 0x80);
    EXPECT_EQ(sr->ssrc, (dravnel::rtcp::Ssrc{0x0C, 0x0D, 0x0E, 0x0F}));
    EXPECT_EQ(sr->lsr, (std::array<uint8_t, 4>{0x7E, 0x80, 0x12, 0x34}));
    // length 0: 4 bytes, no room for the fields a report echoes
    EXPECT_FALSE(dravnel::rtcp::ParseSenderReport(Bytes{0x80, 0xC8, 0x00, 0x00}));
    EXPECT_FALSE(dravnel::rtcp::ParseSenderReport(Bytes(kSenderReport.begin(), kSenderReport.end() - 4)));
}

class RTCPHandler : public ::testing::Test {
protected:
    ~RTCPHandler() override { handler.Stop(); }

    void StartFor(uint32_t cameraAddress) { ASSERT_TRUE(handler.Start(cameraAddress, 0)); }
    void SendFromCamera(const Bytes& bytes) { ASSERT_TRUE(camera.SendTo(handler.GetPort(), bytes)); }

    // The handler's clock reads 1000 ms when the first sender report arrives
    // and 1007 ms from then on (when the answer is built).
    std::atomic<int> clockReads{0};
    dravnel::CRTCPHandler handler{nullptr, [this] { return clockReads++ == 0 ? 1000u : 1007u; },
                                  [] { return 0xA1B2C3D4u; }};
    quarnel::test::LoopbackPeer camera;
};

// One receiver report answers each sender report; none comes without one.
TEST_F(RTCPHandler, ReceiverReportAnswersEachSenderReport) {
    StartFor(quarnel::test::Loopback());
    for (uint16_t n : {65534, 65535, 0, 1}) handler.UpdateSequence(n);
    EXPECT_FALSE(camera.Receive(50));
    SendFromCamera(kSenderReport);
    const auto report = camera.Receive(2000);
    ASSERT_TRUE(report);
    const Bytes expected{
        0x81, 0xC9, 0x00, 0x07,  // V=2 RC=1, PT=201 (RR), length 7
        0xA1, 0xB2, 0xC3, 0xD4,  // our SSRC
        0x0C, 0x0D, 0x0E, 0x0F,  // the camera's SSRC
        0x00, 0x00, 0x00, 0x00,  // fraction lost, cumulative lost
        0x00, 0x01, 0x00, 0x01,  // extended highest sequence number: 65537
        0x00, 0x00, 0x00, 0x00,  // jitter
        0x7E, 0x80, 0x12, 0x34,  // LSR: middle of the SR's NTP time stamp
        0x00, 0x00, 0x01, 0xCB,  // DLSR: 7 ms = 458.752/65536 s, rounded
    };
    EXPECT_EQ(*report, expected);
    EXPECT_TRUE(handler.IsSynced());
    EXPECT_FALSE(camera.Receive(50));
    SendFromCamera(kSenderReport);
    const auto second = camera.Receive(2000);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->size(), 32u);
    EXPECT_FALSE(camera.Receive(50));
}

TEST_F(RTCPHandler, IgnoresOtherAddresses) {
    StartFor(inet_addr("127.0.0.2"));  // the camera is elsewhere; the test socket is on 127.0.0.1
    SendFromCamera(kSenderReport);
    EXPECT_FALSE(camera.Receive(100));
    EXPECT_FALSE(handler.IsSynced());
}

// Stop says goodbye only after a sender report; a new start begins a new
// session.
TEST_F(RTCPHandler, ByeOnStopOnlyWhenSynced) {
    StartFor(quarnel::test::Loopback());
    handler.UpdateSequence(500);
    handler.Stop();
    EXPECT_FALSE(camera.Receive(50));

    StartFor(quarnel::test::Loopback());
    EXPECT_EQ(handler.ExtendedHighestSequence(), 0u);
    SendFromCamera(kSenderReport);
    ASSERT_TRUE(camera.Receive(2000));
    handler.Stop();
    const auto bye = camera.Receive(2000);
    ASSERT_TRUE(bye);
    // V=2 SC=1, PT=203, length 1, our SSRC
    EXPECT_EQ(*bye, (Bytes{0x81, 0xCB, 0x00, 0x01, 0xA1, 0xB2, 0xC3, 0xD4}));
    EXPECT_FALSE(handler.IsSynced());
    EXPECT_FALSE(handler.IsRunning());
    handler.Stop();
    EXPECT_FALSE(camera.Receive(50));
}

// The answer follows the whole compound packet: a BYE behind the sender
// report means none, until the camera's next sender report.
TEST_F(RTCPHandler, CameraByeStopsReportsUntilTheNextSenderReport) {
    StartFor(quarnel::test::Loopback());
    Bytes compound = kSenderReport;
    compound.insert(compound.end(), kCameraBye.begin(), kCameraBye.end());
    SendFromCamera(compound);
    EXPECT_FALSE(camera.Receive(100));
    EXPECT_FALSE(handler.IsSynced());
    SendFromCamera(kSenderReport);
    EXPECT_TRUE(camera.Receive(2000));
    EXPECT_TRUE(handler.IsSynced());
}

TEST_F(RTCPHandler, StartRefusals) {
    EXPECT_FALSE(handler.Start(0, 0));
    StartFor(quarnel::test::Loopback());
    EXPECT_FALSE(handler.Start(quarnel::test::Loopback(), 0));
    dravnel::CRTCPHandler other(nullptr);
    EXPECT_FALSE(other.Start(quarnel::test::Loopback(), handler.GetPort()));
    EXPECT_FALSE(other.IsRunning());
}

}  // namespace
