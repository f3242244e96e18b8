// What both senders do alike, and the request functions over them, against
// the simulated camera over loopback.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "platform/Socket.h"
#include "web/CHttpRequest.h"
#include "web/CHttpSender.h"
#include "web/CWinInetSender.h"
#include "web/HttpRequests.h"
#include "WebSimFixture.h"

namespace quarnel::test {
namespace {

using dravnel::CResultDef;
using dravnel::HUtils::RequestGetBody;
using dravnel::HUtils::RequestGetNoBody;
using dravnel::HUtils::RequestGetRD;
using Web::CBaseHttpSender;
using Web::CHttpRequest;
using Web::CHttpSender;
using Web::CWinInetSender;

template <typename Sender>
std::unique_ptr<CBaseHttpSender> MakeSender(const dravnel::DEVICE_INFO& device) {
    return std::make_unique<Sender>(device);
}

struct SenderKind {
    const char* name;
    std::unique_ptr<CBaseHttpSender> (*make)(const dravnel::DEVICE_INFO&);
};

std::string Pattern(size_t size) {
    std::string body;
    for (size_t i = 0; body.size() < size; ++i) body += "line" + std::to_string(i) + "=" + std::to_string(i * 7) + "\r\n";
    body.resize(size);
    return body;
}

class SenderTest : public WebSimTest, public ::testing::WithParamInterface<SenderKind> {
protected:
    std::unique_ptr<CBaseHttpSender> Make(const std::string& user = "", const std::string& password = "",
                                          uint32_t timeoutMs = 1000) {
        return GetParam().make(Device(user, password, timeoutMs));
    }
};

// Every way a body can end: at its announced length, at the close of the
// connection, at the last chunk; small, empty, and several times the
// client's window (the transfer pauses and resumes).
TEST_P(SenderTest, ReadsEveryFramingOfABodyWhole) {
    const sim::WebFaults noLength{0, 0, false, true, false};
    const struct {
        const char* name;
        size_t size;
        sim::WebFaults faults;
        bool chunked;
    } framings[] = {
        {"announced length", 300, {}, false},
        {"no length, ends at close", 300, noLength, false},
        {"chunked", 300, {}, true},
        {"large announced length", 700 * 1024, {}, false},
        {"large, no length", 700 * 1024, noLength, false},
        {"large, chunked", 700 * 1024, {}, true},
        {"empty", 0, {}, false},
    };
    for (const auto& f : framings) {
        SCOPED_TRACE(f.name);
        const std::string body = Pattern(f.size);
        if (f.chunked) {
            // The body in three chunks after a first piece.
            SetStreamPage("/page.txt", body.substr(0, 10), 1, [body, at = size_t{10}](std::string& chunk) mutable {
                chunk = body.substr(at, body.size() / 3 + 1);
                at += chunk.size();
                return !chunk.empty();
            });
        } else {
            server.SetPageText("/page.txt", body);
        }
        server.SetFaults(f.faults);
        auto sender = Make();
        std::vector<uint8_t> reply{'x'};
        EXPECT_EQ(RequestGetRD("/page.txt", reply, *sender, true).code, 0u);
        EXPECT_EQ(sender->StatusCode(), 200u);
        EXPECT_EQ(sender->ContentLength(), f.faults.noContentLength || f.chunked ? 0u : f.size);
        EXPECT_EQ(Text(reply), body);
    }
}

// Any 2xx succeeds for RequestGetRD; RequestGetBody wants exactly 200.
TEST_P(SenderTest, StatusDecidesTheOutcome) {
    const struct {
        int status;
        uint32_t level;
        uint32_t code;
        bool body;  // RequestGetBody's answer
    } cases[] = {
        {200, 3, 0, true}, {202, 3, 0, false}, {204, 3, 0, false}, {404, 1, 6, false}, {302, 1, 6, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        server.SetPage("/cgi", [status = c.status](const sim::WebPageRequest&) {
            sim::WebPageReply reply;
            reply.status = status;
            reply.body = "res=200\r\n";
            return reply;
        });
        auto sender = Make();
        std::vector<uint8_t> reply;
        const CResultDef result = RequestGetRD("/cgi?app=get", reply, *sender, true);
        EXPECT_EQ(result.level, c.level);
        EXPECT_EQ(result.code, c.code);
        if (c.code == 6)
            EXPECT_EQ(result.message, "dravnel::HUtils::RequestGetRD: " + Tag() +
                                          " does not process request \"/cgi?app=get\", status code = " +
                                          std::to_string(c.status));
        else
            EXPECT_EQ(result.message, "");
        EXPECT_EQ(RequestGetBody("/cgi?app=get", *sender, reply), c.body);
    }
}

TEST_P(SenderTest, UnreachableDeviceCannotBeSentTo) {
    platform::Socket closed;  // bound, not listening: connections are refused
    ASSERT_TRUE(closed.Create(platform::Socket::Kind::Tcp));
    ASSERT_TRUE(closed.Bind(0, htonl(INADDR_LOOPBACK)));
    dravnel::DEVICE_INFO device("127.0.0.1", closed.LocalPort(), "", "");
    device.HttpTimeout = 500;
    auto sender = GetParam().make(device);
    std::vector<uint8_t> reply;
    const CResultDef result = RequestGetRD("/config.txt", reply, *sender, true);
    EXPECT_EQ(result.level, 4u);
    EXPECT_EQ(result.code, 9u);
    EXPECT_EQ(result.message, "dravnel::HUtils::RequestGetRD: cannot send request \"/config.txt\" to device 127.0.0.1:" +
                                  std::to_string(closed.LocalPort()));
    EXPECT_EQ(sender->StatusCode(), 0u);
    EXPECT_FALSE(RequestGetBody("/config.txt", *sender, reply));
}

TEST_P(SenderTest, SilentServerFailsWithinTheTimeout) {
    server.SetPageText("/slow", "res=200\r\n");
    sim::WebFaults faults;
    faults.delayMs = 3000;
    server.SetFaults(faults);
    auto sender = Make("", "", 300);
    CResultDef result;
    const auto ms = ElapsedMs([&] { result = RequestGetNoBody("/slow", *sender); });
    EXPECT_EQ(result.code, 9u);
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 1500);
}

TEST_P(SenderTest, ReplyBrokenOffKeepsWhatArrived) {
    const std::string body = Pattern(4000);
    server.SetPageText("/cut", body);
    sim::WebFaults faults;
    faults.closeMidReply = true;
    server.SetFaults(faults);
    auto sender = Make();
    ASSERT_TRUE(sender->SendRequest(CHttpRequest("GET", "/cut")));
    EXPECT_EQ(sender->ContentLength(), 4000u);
    std::vector<uint8_t> reply;
    EXPECT_EQ(sender->ReadResponse(reply), 2000u);
    EXPECT_EQ(Text(reply), body.substr(0, 2000));
}

// CloseRequest from another thread ends a pending read of a body that never
// ends, and a send that waits for a head, within milliseconds.
TEST_P(SenderTest, CloseRequestFromAnotherThreadEndsAPendingReadOrSend) {
    auto sender = Make("", "", 5000);
    const auto msClosedAfter200 = [&sender](auto action) {
        std::thread closer([&sender] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            sender->CloseRequest();
        });
        const auto ms = ElapsedMs(action);
        closer.join();
        return ms;
    };
    server.SetPageText("/stream", "alarm=0\r\n");
    sim::WebFaults faults;
    faults.endlessBody = true;
    server.SetFaults(faults);
    ASSERT_TRUE(sender->SendRequest(CHttpRequest("GET", "/stream")));
    std::vector<uint8_t> reply;
    EXPECT_LT(msClosedAfter200([&] { sender->ReadResponse(reply); }), 1000);
    EXPECT_EQ(Text(reply).substr(0, 9), "alarm=0\r\n");
    EXPECT_EQ(sender->ReadData(reply, 100, true), 0u);  // the request is gone
    EXPECT_EQ(sender->QueryDataAvailable(), 0u);

    faults = sim::WebFaults{};
    faults.delayMs = 3000;
    server.SetFaults(faults);
    bool sent = true;
    EXPECT_LT(msClosedAfter200([&] { sent = sender->SendRequest(CHttpRequest("GET", "/stream")); }), 1000);
    EXPECT_FALSE(sent);
}

// The alarm input thread's way of reading an event stream: one byte, then
// whatever is ready.
TEST_P(SenderTest, PullsAnEventStreamPieceByPiece) {
    int sent = 0;
    SetStreamPage("/events", "", 20, [&sent](std::string& chunk) {
        chunk = "alarm=1\r\nalarm1=" + std::to_string(++sent % 2) + "\r\n";
        return true;
    });
    auto sender = Make("", "", 2000);
    ASSERT_EQ(RequestGetNoBody("/events", *sender).code, 0u);
    for (int message = 0; message < 3; ++message) {
        std::vector<uint8_t> buffer;
        ASSERT_EQ(sender->ReadData(buffer, 1, true), 1u);
        const uint32_t ready = sender->QueryDataAvailable();
        ASSERT_GT(ready, 0u);
        ASSERT_EQ(sender->ReadData(buffer, ready, false), ready);
        EXPECT_EQ(Text(buffer).substr(0, 9), "alarm=1\r\n");
    }
}

// A body that stalls after its first bytes: reads end after the time-out,
// and the whole-body read keeps exactly what arrived (no terminator added,
// nothing dropped).
TEST_P(SenderTest, TimeOutInABodyKeepsWhatArrived) {
    SetStreamPage("/stall", "alarm=1\r\n", 5000, [](std::string&) { return true; });
    auto sender = Make("", "", 300);
    std::vector<uint8_t> reply;
    CResultDef result;
    auto ms = ElapsedMs([&] { result = RequestGetRD("/stall", reply, *sender, true); });
    EXPECT_EQ(result.code, 0u);
    EXPECT_EQ(Text(reply), "alarm=1\r\n");
    EXPECT_LT(ms, 1500);
    uint32_t got = 1;
    ms = ElapsedMs([&] { got = sender->ReadData(reply, 10, false); });
    EXPECT_EQ(got, 0u);
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 1500);
}

TEST_P(SenderTest, KeepsItsConnectionBetweenRequests) {
    server.SetPageText("/a", "res=200\r\n");
    auto sender = Make();
    std::vector<uint8_t> reply;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(RequestGetBody("/a", *sender, reply));
    const auto log = server.Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].clientPort, log[0].clientPort);
    EXPECT_EQ(log[2].clientPort, log[0].clientPort);
}

INSTANTIATE_TEST_SUITE_P(Web, SenderTest,
                         ::testing::Values(SenderKind{"HttpSender", &MakeSender<CHttpSender>},
                                           SenderKind{"WinInetSender", &MakeSender<CWinInetSender>}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quarnel::test
