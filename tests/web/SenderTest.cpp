// What both senders do alike, and the request functions over them, against
// the simulated camera over loopback.
#include <gtest/gtest.h>

#include <functional>
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

using SenderFactory = std::function<std::unique_ptr<CBaseHttpSender>(const dravnel::DEVICE_INFO&)>;

struct SenderKind {
    const char* name;
    SenderFactory make;
};

const SenderKind kHttpSender{"HttpSender", [](const dravnel::DEVICE_INFO& d) {
                                 return std::unique_ptr<CBaseHttpSender>(new CHttpSender(d));
                             }};
const SenderKind kWinInetSender{"WinInetSender", [](const dravnel::DEVICE_INFO& d) {
                                    return std::unique_ptr<CBaseHttpSender>(new CWinInetSender(d));
                                }};

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

struct Framing {
    const char* name;
    size_t size;
    sim::WebFaults faults;
    bool lengthKnown;
};

TEST_P(SenderTest, ReadsEveryFramingOfABodyWhole) {
    const Framing framings[] = {
        {"announced length", 300, {}, true},
        {"no length, ends at close", 300, sim::WebFaults{0, 0, false, true, false}, false},
        // Several times the client's window: the transfer pauses and resumes.
        {"large announced length", 700 * 1024, {}, true},
        {"large, no length", 700 * 1024, sim::WebFaults{0, 0, false, true, false}, false},
        {"empty", 0, {}, false},
    };
    for (const Framing& f : framings) {
        SCOPED_TRACE(f.name);
        const std::string body = Pattern(f.size);
        server.SetPageText("/page.txt", body);
        server.SetFaults(f.faults);
        auto sender = Make();
        std::vector<uint8_t> reply{'x'};
        const CResultDef result = RequestGetRD("/page.txt", reply, *sender, true);
        EXPECT_EQ(result.code, 0u);
        EXPECT_EQ(result.level, 3u);
        EXPECT_EQ(result.message, "");
        EXPECT_EQ(sender->StatusCode(), 200u);
        EXPECT_EQ(sender->ContentLength(), f.lengthKnown ? f.size : 0u);
        EXPECT_EQ(Text(reply), body);
    }
}

TEST_P(SenderTest, ReadsAChunkedBodyToItsEnd) {
    int chunks = 0;
    server.SetPage("/chunked", [&chunks](const sim::WebPageRequest&) {
        sim::WebPageReply reply;
        reply.body = "alarm=0\r\n";
        reply.streamIntervalMs = 1;
        reply.stream = [&chunks](std::string& chunk) {
            if (++chunks > 3) return false;
            chunk = "alarm" + std::to_string(chunks) + "=1\r\n";
            return true;
        };
        return reply;
    });
    auto sender = Make();
    std::vector<uint8_t> reply;
    EXPECT_TRUE(RequestGetBody("/chunked", *sender, reply));
    EXPECT_EQ(Text(reply), "alarm=0\r\nalarm1=1\r\nalarm2=1\r\nalarm3=1\r\n");
    EXPECT_EQ(sender->ContentLength(), 0u);
}

TEST_P(SenderTest, StatusDecidesTheOutcome) {
    struct Case {
        int status;
        uint32_t level;
        uint32_t code;
        bool body;  // RequestGetBody's answer
    };
    const Case cases[] = {
        {200, 3, 0, true}, {204, 3, 0, false}, {202, 3, 0, false}, {404, 1, 6, false},
        {500, 1, 6, false}, {302, 1, 6, false}, {400, 1, 6, false},
    };
    server.SetPage("/cgi", [](const sim::WebPageRequest&) {
        sim::WebPageReply reply;
        reply.body = "res=200\r\n";
        return reply;
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        sim::WebFaults faults;
        faults.status = c.status == 200 ? 0 : c.status;
        server.SetFaults(faults);
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

TEST_P(SenderTest, CloseRequestFromAnotherThreadEndsAnEndlessRead) {
    server.SetPageText("/stream", "alarm=0\r\n");
    sim::WebFaults faults;
    faults.endlessBody = true;
    server.SetFaults(faults);
    auto sender = Make("", "", 5000);
    ASSERT_TRUE(sender->SendRequest(CHttpRequest("GET", "/stream")));
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sender->CloseRequest();
    });
    std::vector<uint8_t> reply;
    const auto ms = ElapsedMs([&] { sender->ReadResponse(reply); });
    closer.join();
    EXPECT_LT(ms, 1000);
    EXPECT_EQ(Text(reply).substr(0, 9), "alarm=0\r\n");
    EXPECT_EQ(sender->ReadData(reply, 100, true), 0u);  // the request is gone
    EXPECT_EQ(sender->QueryDataAvailable(), 0u);
}

TEST_P(SenderTest, CloseRequestFromAnotherThreadEndsAPendingSend) {
    server.SetPageText("/slow", "res=200\r\n");
    sim::WebFaults faults;
    faults.delayMs = 3000;
    server.SetFaults(faults);
    auto sender = Make("", "", 5000);
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sender->CloseRequest();
    });
    bool sent = true;
    const auto ms = ElapsedMs([&] { sent = sender->SendRequest(CHttpRequest("GET", "/slow")); });
    closer.join();
    EXPECT_FALSE(sent);
    EXPECT_LT(ms, 1000);
}

// The alarm input thread's way of reading an event stream: one byte, then
// whatever is ready.
TEST_P(SenderTest, PullsAnEventStreamPieceByPiece) {
    int sent = 0;
    server.SetPage("/events", [&sent](const sim::WebPageRequest&) {
        sim::WebPageReply reply;
        reply.streamIntervalMs = 20;
        reply.stream = [&sent](std::string& chunk) {
            chunk = "alarm=1\r\nalarm1=" + std::to_string(++sent % 2) + "\r\n";
            return true;
        };
        return reply;
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

TEST_P(SenderTest, QuietStreamTimesOutARead) {
    server.SetPage("/quiet", [](const sim::WebPageRequest&) {
        sim::WebPageReply reply;
        reply.body = "x";
        reply.streamIntervalMs = 5000;
        reply.stream = [](std::string&) { return true; };
        return reply;
    });
    auto sender = Make("", "", 300);
    ASSERT_TRUE(sender->SendRequest(CHttpRequest("GET", "/quiet")));
    std::vector<uint8_t> buffer;
    EXPECT_EQ(sender->ReadData(buffer, 10, true), 1u);
    uint32_t got = 1;
    const auto ms = ElapsedMs([&] { got = sender->ReadData(buffer, 10, true); });
    EXPECT_EQ(got, 0u);
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 1500);
}

// A body that stalls after its first bytes: the read ends after the time-out
// with exactly what arrived (no terminator added, nothing dropped).
TEST_P(SenderTest, TimeOutInABodyKeepsWhatArrived) {
    server.SetPage("/stall", [](const sim::WebPageRequest&) {
        sim::WebPageReply reply;
        reply.body = "alarm=1\r\n";
        reply.streamIntervalMs = 5000;
        reply.stream = [](std::string&) { return true; };
        return reply;
    });
    auto sender = Make("", "", 300);
    std::vector<uint8_t> reply;
    EXPECT_EQ(RequestGetRD("/stall", reply, *sender, true).code, 0u);
    EXPECT_EQ(Text(reply), "alarm=1\r\n");
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

INSTANTIATE_TEST_SUITE_P(Web, SenderTest, ::testing::Values(kHttpSender, kWinInetSender),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quarnel::test
