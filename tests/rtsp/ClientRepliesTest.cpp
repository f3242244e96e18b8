// The session against malformed and hostile replies: each ends the request
// with a failure, promptly, without reading past the reply.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "ClientFixture.h"

using namespace dravnel;
using namespace quarnel::test;

namespace {

bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    const uint32_t start = platform::MonotonicMs();
    while (!done()) {
        if (platform::MonotonicMs() - start > timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::vector<std::string> SplitInto(const std::string& text, size_t pieces) {
    std::vector<std::string> out;
    const size_t size = (text.size() + pieces - 1) / pieces;
    for (size_t at = 0; at < text.size(); at += size) out.push_back(text.substr(at, size));
    return out;
}

std::string Garbage(size_t n) {
    std::mt19937 rng(7);
    std::string out;
    for (size_t i = 0; i < n; ++i) out += static_cast<char>(rng());
    return out + "\r\n\r\n";
}

}  // namespace

struct HostileCase {
    const char* name;
    std::function<std::vector<std::string>(const Request&)> describe;
    bool closeAfter;  // the camera hangs up after answering
};

class HostileDescribeTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileDescribeTest, FailsTheRequestPromptly) {
    const HostileCase c = GetParam();
    ScriptedRtspServer* self = nullptr;
    ScriptedRtspServer server([&](const Request& r) -> std::vector<std::string> {
        if (r.method != "DESCRIBE") return CameraAnswer(r);
        auto writes = c.describe(r);
        if (c.closeAfter) {
            for (const auto& w : writes) self->Push({w.begin(), w.end()});
            self->CloseConnection();
            return {};
        }
        return writes;
    });
    self = &server;
    RecordingUser user;
    CBaseRTSPClient client;
    auto settings = LocalSettings(server.Port());
    settings.receiveTimeoutMs = 3000;
    const uint32_t start = platform::MonotonicMs();
    ASSERT_TRUE(client.StartClient(settings, &user, RTSPTransportMode::Udp));
    ASSERT_TRUE(WaitUntil([&] { return !client.IsRunning(); }, 2500)) << "waited out the receive time-out";
    EXPECT_LT(platform::MonotonicMs() - start, 2500u);
    EXPECT_EQ(server.Methods(), std::vector<std::string>{"DESCRIBE"});
    EXPECT_TRUE(user.Configs().empty()) << "DESCRIBE passed";
    client.StopClient();
}

INSTANTIATE_TEST_SUITE_P(
    Client, HostileDescribeTest,
    ::testing::Values(
        HostileCase{"not_found", [](const Request& r) { return std::vector<std::string>{ScriptedRtspServer::Reply(r, "404 Not Found")}; }, false},
        HostileCase{"no_status_code", [](const Request&) { return std::vector<std::string>{"RTSP/1.0 OK\r\n\r\n"}; }, false},
        HostileCase{"binary_garbage", [](const Request&) { return std::vector<std::string>{Garbage(300)}; }, false},
        HostileCase{"endless_header",
                    [](const Request&) {
                        std::vector<std::string> writes{"RTSP/1.0 200 OK\r\n"};
                        for (int i = 0; i < 80; ++i) writes.push_back("X-Pad: " + std::string(1000, 'p') + "\r\n");
                        return writes;
                    },
                    false},
        HostileCase{"body_above_64k",
                    [](const Request& r) {
                        return std::vector<std::string>{ScriptedRtspServer::Reply(r, "200 OK", "", std::string(70000, 'v'))};
                    },
                    false},
        HostileCase{"length_beyond_32_bits",
                    [](const Request& r) {
                        // 4294967296 would wrap to 0 in 32-bit arithmetic.
                        return std::vector<std::string>{ScriptedRtspServer::Reply(r, "200 OK", "Content-Length: 4294967296\r\n")};
                    },
                    false},
        HostileCase{"cut_short_then_closed",
                    [](const Request& r) {
                        const std::string whole = CameraAnswer(r)[0];
                        return std::vector<std::string>{whole.substr(0, whole.size() - 20)};
                    },
                    true},
        HostileCase{"header_cut_short_then_closed",
                    [](const Request&) { return std::vector<std::string>{"RTSP/1.0 200 OK\r\nCSeq: 1\r\n"}; }, true},
        HostileCase{"bad_description",
                    [](const Request& r) {
                        return std::vector<std::string>{
                            ScriptedRtspServer::Reply(r, "200 OK", "", "m=video 0 RTP/AVP 96\r\na=fmtp:96 packetization-mode=1\r\n")};
                    },
                    false}),
    [](const auto& info) { return std::string(info.param.name); });

// A reply arriving in many small writes is still read whole.
TEST(Client, RepliesSplitAcrossManyWrites) {
    ScriptedRtspServer server([](const Request& r) { return SplitInto(CameraAnswer(r)[0], 25); });
    RecordingUser user;
    CBaseRTSPClient client;
    client.SetClock(platform::SystemTimeAsFileTime, 5);
    ASSERT_TRUE(client.StartClient(LocalSettings(server.Port()), &user, RTSPTransportMode::Udp));
    ASSERT_TRUE(server.WaitFor("OPTIONS", 1, 5000));  // keep-alive follows a good PLAY only
    client.StopClient();
    EXPECT_EQ(user.Configs().size(), 1u);
}

// A header block of 2 KiB whose Content-Base and Content-Length come after
// the first 512 bytes. Cut at 512 bytes, the reply would lose both and its
// rest would be taken for the SETUP reply.
TEST(Client, LongHeaderBlocksAreReadWhole) {
    std::string padding;
    for (int i = 0; i < 40; ++i) padding += "X-Padding-" + std::to_string(i) + ": " + std::string(40, 'x') + "\r\n";
    uint16_t port = 0;
    ScriptedRtspServer server([&](const Request& r) -> std::vector<std::string> {
        if (r.method == "DESCRIBE")
            return {ScriptedRtspServer::Reply(
                r, "200 OK", padding + "Content-Base: rtsp://127.0.0.1:" + std::to_string(port) + "/base/\r\n", kCameraSdp)};
        return CameraAnswer(r);
    });
    port = server.Port();
    CBaseRTSPClient client;
    client.SetClock(platform::SystemTimeAsFileTime, 5);
    ASSERT_TRUE(client.StartClient(LocalSettings(port), nullptr, RTSPTransportMode::Udp));
    ASSERT_TRUE(server.WaitFor("OPTIONS", 1, 3000));  // keep-alive follows a good PLAY only
    client.StopClient();
    const auto requests = server.Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[1].url, "rtsp://127.0.0.1:" + std::to_string(port) + "/base/trackID=1");
    EXPECT_EQ(requests[2].url, "rtsp://127.0.0.1:" + std::to_string(port) + "/base/");
}

// Two replies in one write: the second is kept for the next request, not
// dropped with the rest of the read.
TEST(Client, BytesAfterAReplyAreKeptForTheNext) {
    ScriptedRtspServer server([](const Request& r) -> std::vector<std::string> {
        if (r.method == "SETUP") {
            Request next = r;
            ++next.cseq;
            return {CameraAnswer(r)[0] + ScriptedRtspServer::Reply(next, "200 OK", "Session: 1234\r\n")};
        }
        if (r.method == "PLAY") return {};  // already answered
        return CameraAnswer(r);
    });
    CBaseRTSPClient client;
    client.SetClock(platform::SystemTimeAsFileTime, 5);
    ASSERT_TRUE(client.StartClient(LocalSettings(server.Port()), nullptr, RTSPTransportMode::Udp));
    ASSERT_TRUE(server.WaitFor("OPTIONS", 1, 3000));  // keep-alive follows a good PLAY only
    client.StopClient();
}
