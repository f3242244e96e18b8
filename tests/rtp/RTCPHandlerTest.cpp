// RTCP: sequence bookkeeping, report bytes, and the handler on loopback with
// a test clock and a fixed SSRC.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "rtp/CRTCPHandler.h"
#include "rtp/CRTPSequenceState.h"
#include "rtp/RTCPFormat.h"
#include "tests/rtp/LoopbackPeer.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

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
                      SequenceCase{"InOrder", {100, 101, 102}, 102},
                      SequenceCase{"Gap", {100, 2000}, 2000},
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

TEST(RTCPFormat, DelaySinceLastReport) {
    EXPECT_EQ(dravnel::rtcp::DelaySinceLastReport(0), 0u);
    EXPECT_EQ(dravnel::rtcp::DelaySinceLastReport(250), 16384u);  // 0.25 s
    EXPECT_EQ(dravnel::rtcp::DelaySinceLastReport(1000), 65536u);
    EXPECT_EQ(dravnel::rtcp::DelaySinceLastReport(7), 459u);  // 458.752 rounded
    EXPECT_EQ(dravnel::rtcp::DelaySinceLastReport(5), 328u);  // 327.68 rounded
}

// The handler's clock: the test queues the values it returns (the arrival of
// each sender report, then the building of each receiver report).
class TestClock {
public:
    void Push(uint32_t ms) {
        std::lock_guard<std::mutex> guard(mutex_);
        values_.push_back(ms);
    }
    uint32_t Next() {
        std::lock_guard<std::mutex> guard(mutex_);
        if (values_.empty()) return last_;
        last_ = values_.front();
        values_.pop_front();
        return last_;
    }

private:
    std::mutex mutex_;
    std::deque<uint32_t> values_;
    uint32_t last_ = 1;
};

class RTCPHandler : public ::testing::Test {
protected:
    ~RTCPHandler() override { handler.Stop(); }

    void StartFor(uint32_t cameraAddress) {
        ASSERT_TRUE(handler.Start(cameraAddress, 0));
        ASSERT_NE(handler.GetPort(), 0);
    }
    void SendFromCamera(const Bytes& bytes) { ASSERT_TRUE(camera.SendTo(handler.GetPort(), bytes)); }

    TestClock clock;
    dravnel::CRTCPHandler handler{nullptr, [this] { return clock.Next(); }, [] { return 0xA1B2C3D4u; }};
    quarnel::test::LoopbackPeer camera;
};

TEST_F(RTCPHandler, ReceiverReportAnswersASenderReport) {
    StartFor(quarnel::test::Loopback());
    EXPECT_EQ(handler.ThreadName(), "RTCP Handler Thread");
    for (uint16_t n : {65534, 65535, 0, 1}) handler.UpdateSequence(n);
    clock.Push(1000);  // the report arrives
    clock.Push(1250);  // the answer is built
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
        0x00, 0x00, 0x40, 0x00,  // DLSR: 250 ms = 16384/65536 s
    };
    EXPECT_EQ(*report, expected);
    EXPECT_TRUE(handler.IsSynced());
}

TEST_F(RTCPHandler, OneReportPerSenderReportAndNoneWithout) {
    StartFor(quarnel::test::Loopback());
    EXPECT_FALSE(camera.Receive(50));
    for (int i = 0; i < 3; ++i) {
        SendFromCamera(kSenderReport);
        const auto report = camera.Receive(2000);
        ASSERT_TRUE(report);
        EXPECT_EQ(report->size(), 32u);
    }
    EXPECT_FALSE(camera.Receive(50));
}

TEST_F(RTCPHandler, SenderReportInsideACompoundPacket) {
    StartFor(quarnel::test::Loopback());
    Bytes compound{0x80, 0xC9, 0x00, 0x01, 0x0C, 0x0D, 0x0E, 0x0F};  // empty RR first
    compound.insert(compound.end(), kSenderReport.begin(), kSenderReport.end());
    SendFromCamera(compound);
    EXPECT_TRUE(camera.Receive(2000));
}

TEST_F(RTCPHandler, IgnoresOtherAddresses) {
    StartFor(inet_addr("127.0.0.2"));  // the camera is elsewhere; the test socket is on 127.0.0.1
    SendFromCamera(kSenderReport);
    EXPECT_FALSE(camera.Receive(100));
    EXPECT_FALSE(handler.IsSynced());
}

TEST_F(RTCPHandler, ByeOnStopOnlyWhenSynced) {
    StartFor(quarnel::test::Loopback());
    handler.Stop();
    EXPECT_FALSE(camera.Receive(50));

    StartFor(quarnel::test::Loopback());
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

TEST_F(RTCPHandler, RestartChoosesANewSessionState) {
    StartFor(quarnel::test::Loopback());
    handler.UpdateSequence(500);
    SendFromCamera(kSenderReport);
    ASSERT_TRUE(camera.Receive(2000));
    handler.Stop();
    ASSERT_TRUE(camera.Receive(2000));  // BYE
    StartFor(quarnel::test::Loopback());
    EXPECT_FALSE(handler.IsSynced());
    EXPECT_EQ(handler.ExtendedHighestSequence(), 0u);
    EXPECT_EQ(handler.OwnSsrc(), (dravnel::rtcp::Ssrc{0xA1, 0xB2, 0xC3, 0xD4}));
}

}  // namespace
