// The senders against the simulated camera over loopback: what both do
// alike, with the request functions over them; then CWinInetSender's and
// CHttpSender's own ways with credentials and CHttpSender's request options.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "platform/HttpClient.h"
#include "sim/web/WebServer.h"
#include "tests/support/ThreadState.h"
#include "web/CHttpRequest.h"
#include "web/CHttpSender.h"
#include "web/CWinInetSender.h"
#include "web/HUtils.h"
#include "web/HttpRequests.h"

namespace dravnel::test {
namespace {

using dravnel::CResultDef;
using dravnel::HUtils::RequestGetBody;
using dravnel::HUtils::RequestGetNoBody;
using dravnel::HUtils::RequestGetRD;
using Web::CBaseHttpSender;
using Web::CHttpRequest;
using Web::CHttpSender;
using Web::CWinInetSender;

// A simulated camera web server per test, and device records that point at it.
class WebSimTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Start()); }

    dravnel::DEVICE_INFO Device(const std::string& user = "", const std::string& password = "",
                                uint32_t httpTimeoutMs = 1000) const {
        dravnel::DEVICE_INFO device(sim::WebServer::Address(), server.Port(), user, password);
        device.HttpTimeout = httpTimeoutMs;
        return device;
    }

    std::string Tag() const { return "device 127.0.0.1:" + std::to_string(server.Port()); }

    // A page that sends `body`, then, chunked, whatever `source` produces
    // every intervalMs for as long as it returns true.
    void SetStreamPage(const std::string& path, std::string body, uint32_t intervalMs,
                       std::function<bool(std::string&)> source) {
        server.SetPage(path, [=](const sim::WebPageRequest&) {
            return sim::WebPageReply{.body = body, .headers = {}, .stream = source, .streamIntervalMs = intervalMs};
        });
    }

    sim::WebServer server;
};

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Milliseconds that `action` took.
template <typename Action>
long long ElapsedMs(Action action) {
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

std::string Pattern(size_t size) {
    std::string body;
    for (size_t i = 0; body.size() < size; ++i)
        body += "line" + std::to_string(i) + "=" + std::to_string(i * 7) + "\r\n";
    body.resize(size);
    return body;
}

// True for CWinInetSender. The time-out is wide unless a test is about it.
class SenderTest : public WebSimTest, public ::testing::WithParamInterface<bool> {
protected:
    std::unique_ptr<CBaseHttpSender> Make(uint32_t timeoutMs = 5000) { return Make(Device("", "", timeoutMs)); }
    std::unique_ptr<CBaseHttpSender> Make(const dravnel::DEVICE_INFO& device) {
        if (GetParam()) return std::make_unique<CWinInetSender>(device);
        return std::make_unique<CHttpSender>(device);
    }
};

// Every way a body can end, small, empty, several times the client's window,
// and broken off halfway (what arrived is kept).
TEST_P(SenderTest, ReadsEveryFramingOfABody) {
    const struct {
        const char* name;
        size_t size;
        sim::WebFaults faults;
        bool chunked;
        size_t kept;  // bytes of the body that ReadResponse gives
    } framings[] = {
        {"announced length", 300, {}, false, 300},
        {"no length, ends at close", 300, {.noContentLength = true}, false, 300},
        {"chunked", 300, {}, true, 300},
        {"large announced length", 700 * 1024, {}, false, 700 * 1024},
        {"large, no length", 700 * 1024, {.noContentLength = true}, false, 700 * 1024},
        {"large, chunked", 700 * 1024, {}, true, 700 * 1024},
        {"empty", 0, {}, false, 0},
        {"broken off", 4000, {.closeMidReply = true}, false, 2000},
    };
    for (const auto& f : framings) {
        SCOPED_TRACE(f.name);
        const std::string body = Pattern(f.size);
        if (f.chunked) {
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
        ASSERT_TRUE(sender->SendRequest(CHttpRequest("GET", "/page.txt")));
        EXPECT_EQ(sender->StatusCode(), 200u);
        EXPECT_EQ(sender->ContentLength(), f.faults.noContentLength || f.chunked ? 0u : f.size);
        std::vector<uint8_t> reply{'x'};
        EXPECT_EQ(sender->ReadResponse(reply), f.kept);
        EXPECT_EQ(Text(reply), body.substr(0, f.kept));
    }
}

// Any 2xx succeeds for RequestGetRD, which reads the body only then;
// RequestGetBody wants 200. A body read whole leaves the connection reusable.
TEST_P(SenderTest, StatusDecidesTheOutcome) {
    const struct {
        int status;
        uint32_t level;
        uint32_t code;
        const char* body;  // RequestGetRD's reply
        bool getBody;      // RequestGetBody's answer
    } cases[] = {
        {200, 3, 0, "res=200\r\n", true}, {202, 3, 0, "res=200\r\n", false},
        {204, 3, 0, "", false},           {404, 1, 6, "", false},
        {302, 1, 6, "", false},
    };
    std::vector<uint8_t> reply;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        server.SetPage("/cgi", [status = c.status](const sim::WebPageRequest&) {
            return sim::WebPageReply{.status = status, .body = "res=200\r\n", .headers = {}, .stream = {}};
        });
        auto sender = Make();
        const CResultDef result = RequestGetRD("/cgi?app=get", reply, *sender, true);
        EXPECT_EQ(result.level, c.level);
        EXPECT_EQ(result.code, c.code);
        EXPECT_EQ(Text(reply), c.body);
        const std::string refused =
            "dravnel::HUtils::RequestGetRD: " + Tag() +
            " does not process request \"/cgi?app=get\", status code = " + std::to_string(c.status);
        EXPECT_EQ(result.message, c.code == 6 ? refused : "");
        EXPECT_EQ(RequestGetBody("/cgi?app=get", *sender, reply), c.getBody);
        if (*c.body) {
            const auto log = server.Log();
            EXPECT_EQ(log.at(log.size() - 1).clientPort, log.at(log.size() - 2).clientPort);
        }
    }
}

// CloseRequest from another thread ends the request, idle, in a read of an
// endless event stream or in a send that waits for a head.
TEST_P(SenderTest, CloseRequestFromAnotherThreadEndsTheRequest) {
    const auto chunks = std::make_shared<std::atomic<int>>(0);  // the server's calls for one
    SetStreamPage("/events", "", 20, [chunks](std::string& chunk) {
        ++*chunks;
        chunk = "alarm=1\r\n";
        return true;
    });
    auto sender = Make(5000);
    // The close comes once the action waits on the server (after a chunk).
    const auto msClosedWhileWaiting = [&sender, chunks](bool afterAChunk, auto action) {
        std::thread closer([&sender, chunks, afterAChunk, before = chunks->load(), caller = gettid()] {
            dravnel::test::WaitUntil([&] {
                return (!afterAChunk || *chunks >= before + 2) &&
                       dravnel::test::SleepsIn(caller, dravnel::test::kPollCalls);
            });
            sender->CloseRequest();
        });
        const auto ms = ElapsedMs(action);
        closer.join();
        return ms;
    };
    ASSERT_EQ(RequestGetNoBody("/events", *sender).code, 0u);
    std::vector<uint8_t> buffer;
    ASSERT_EQ(sender->ReadData(buffer, 9, true), 9u);
    EXPECT_EQ(Text(buffer), "alarm=1\r\n");
    std::thread([&sender] { sender->CloseRequest(); }).join();
    EXPECT_EQ(sender->ReadData(buffer, 100, true), 0u);
    EXPECT_EQ(sender->QueryDataAvailable(), 0u);

    ASSERT_EQ(RequestGetNoBody("/events", *sender).code, 0u);
    EXPECT_LT(msClosedWhileWaiting(true, [&] { sender->ReadResponse(buffer); }), 2500);
    EXPECT_EQ(Text(buffer).substr(0, 9), "alarm=1\r\n");
    EXPECT_EQ(sender->ReadData(buffer, 100, true), 0u);

    server.SetFaults({.delayMs = 3000});
    bool sent = true;
    EXPECT_LT(msClosedWhileWaiting(false, [&] { sent = sender->SendRequest(CHttpRequest("GET", "/events")); }), 2500);
    EXPECT_FALSE(sent);
}

// A caller that does not read makes the sender hold at most the client's
// window. Read as the alarm input thread reads (one byte, then what is
// ready), it all comes out in order.
TEST_P(SenderTest, BuffersAtMostAWindowWhileTheCallerDoesNotRead) {
    SetStreamPage("/fast", "", 0, [sequence = uint32_t{0}](std::string& chunk) mutable {
        chunk.clear();
        for (int i = 0; i < 1024; ++i) chunk += std::to_string(sequence++ % 10);
        return true;
    });
    auto sender = Make();
    ASSERT_EQ(RequestGetNoBody("/fast", *sender).code, 0u);
    uint32_t most = 0;
    for (int round = 0; round < 50; ++round) most = std::max(most, sender->QueryDataAvailable());
    EXPECT_GT(most, 0u);
    EXPECT_LE(most, platform::HttpClient::kWindow + 16 * 1024);

    std::vector<uint8_t> body;
    while (body.size() < 4 * platform::HttpClient::kWindow) {
        ASSERT_EQ(sender->ReadData(body, 1, false), 1u);
        const uint32_t ready = std::min(sender->QueryDataAvailable(), CBaseHttpSender::kReadChunk);
        ASSERT_GT(ready, 0u);
        ASSERT_EQ(sender->ReadData(body, ready, false), ready);
    }
    for (size_t i = 0; i < body.size(); ++i) ASSERT_EQ(body[i], '0' + i % 10) << i;
}

// A body that stalls: reads end at the time-out and keep what arrived. A
// silent server fails the request at the time-out.
TEST_P(SenderTest, TimeOutsEndStalledReadsAndSilentRequests) {
    SetStreamPage("/stall", "alarm=1\r\n", 5000, [](std::string&) { return true; });
    auto sender = Make(1000);
    std::vector<uint8_t> reply;
    CResultDef result;
    auto ms = ElapsedMs([&] { result = RequestGetRD("/stall", reply, *sender, true); });
    EXPECT_EQ(result.code, 0u);
    EXPECT_EQ(Text(reply), "alarm=1\r\n");
    EXPECT_LT(ms, 2500);
    uint32_t got = 1;
    ms = ElapsedMs([&] { got = sender->ReadData(reply, 10, false); });
    EXPECT_EQ(got, 0u);
    EXPECT_GE(ms, 950);
    EXPECT_LT(ms, 2500);

    server.SetFaults({.delayMs = 3000});
    ms = ElapsedMs([&] { result = RequestGetNoBody("/stall", *sender); });
    EXPECT_EQ(result.code, 9u);
    EXPECT_GE(ms, 950);
    EXPECT_LT(ms, 2500);
    EXPECT_LT(ElapsedMs([&] { server.Stop(); }), 4000);
}

// A body that never ends, at full speed or trickling below the idle time-out,
// is cut at kMaxBody bytes or at the HTTP time-out, keeping what came.
TEST_P(SenderTest, EndlessAndTricklingBodiesAreCutInBytesAndTime) {
    const std::string page = Pattern(4000);
    server.SetPageText("/video.txt", page);
    SetStreamPage("/trickle", "res=200\r\n", 100, [](std::string& chunk) {
        chunk = "x";
        return true;
    });
    const struct {
        const char* name;
        const char* path;
        sim::WebFaults faults;
        bool cut;
    } cases[] = {
        {"ends", "/video.txt", {}, false},
        {"endless at full speed", "/video.txt", {.endlessBody = true}, true},
        {"trickling", "/trickle", {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.SetFaults(c.faults);
        auto sender = Make(800);
        std::vector<uint8_t> reply;
        const CResultDef result = RequestGetRD(c.path, reply, *sender, true);
        EXPECT_EQ(result.code, 0u);
        EXPECT_EQ(sender->ReplyCut(), c.cut);
        EXPECT_LE(reply.size(), CBaseHttpSender::kMaxBody);
        EXPECT_EQ(Text(reply).substr(0, 7), std::string(c.path) == "/trickle" ? "res=200" : page.substr(0, 7));
        if (!c.cut) {
            EXPECT_EQ(Text(reply), page);
        }
    }
    server.SetFaults({});
}

// Device addresses that would change the URL or the request are not sent.
TEST_P(SenderTest, AddressesThatCouldInjectAreRefused) {
    server.SetPageText("/a", "res=200\r\n");
    for (const std::string address : {"admin@127.0.0.1", "127.0.0.1/x?", "127.0.0.1\r\nX-Injected: 1", "127.0.0.1 ",
                                      "127.0.0.1\"", "127.0.0.1%25", "127.0.0.1#", "h\xC3\xB6st"}) {
        SCOPED_TRACE(address);
        dravnel::DEVICE_INFO device = Device("admin", "s3cret");
        device.Address = address;
        std::vector<uint8_t> reply;
        EXPECT_EQ(RequestGetRD("/a", reply, *Make(device), true).code, 9u);
    }
    EXPECT_TRUE(server.Log().empty());
}

INSTANTIATE_TEST_SUITE_P(Web, SenderTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "WinInetSender" : "HttpSender"); });

using WinInetSenderTest = WebSimTest;

// Credentials in the scheme challenged; refused ones are tried once more on
// a new connection (the second may present Basic at once). A redirect to
// another server follows without them.
TEST_F(WinInetSenderTest, CredentialsGoInTheChallengedSchemeToTheDeviceAlone) {
    server.SetPageText("/ptz/control.php", "res=200\r\n");
    server.SetAuth(sim::WebAuth::Digest, "admin", "s3cret");
    CWinInetSender good(Device("admin", "s3cret"));
    EXPECT_EQ(RequestGetNoBody("/ptz/control.php?ch=1&move=left", good).code, 0u);
    auto log = server.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().status, 200);
    EXPECT_EQ(log.back().authScheme, "Digest");
    EXPECT_EQ(log.back().userAgent, "Dravnel::WinInetSender");

    server.SetAuth(sim::WebAuth::Basic, "admin", "s3cret");
    server.ClearLog();
    CWinInetSender sender(Device("admin", "wrong"));
    const CResultDef result = RequestGetNoBody("/ptz/control.php?ch=1&move=stop", sender);
    EXPECT_EQ(result.level, 1u);
    EXPECT_EQ(result.code, 6u);
    EXPECT_EQ(sender.StatusCode(), 401u);
    log = server.Log();
    ASSERT_GE(log.size(), 3u);
    ASSERT_LE(log.size(), 4u);
    EXPECT_EQ(log[0].authScheme, "");
    EXPECT_EQ(log[1].authScheme, "Basic");
    EXPECT_EQ(log.back().authScheme, "Basic");
    EXPECT_NE(log[2].clientPort, log[1].clientPort);

    sim::WebServer elsewhere;
    ASSERT_TRUE(elsewhere.Start());
    elsewhere.SetPageText("/new", "res=200\r\n");
    const std::string location = "http://127.0.0.1:" + std::to_string(elsewhere.Port()) + "/new";
    server.SetPage("/old", [location](const sim::WebPageRequest&) {
        return sim::WebPageReply{.status = 302, .body = "moved", .headers = {{"Location", location}}, .stream = {}};
    });
    std::vector<uint8_t> reply;
    EXPECT_EQ(RequestGetRD("/old", reply, good, true).code, 0u);
    EXPECT_EQ(server.Log().back().authScheme, "Basic");
    log = elsewhere.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].target, "/new");
    for (const auto& [name, value] : log[0].headers) EXPECT_NE(dravnel::HUtils::ToLower(name), "authorization");
}

using HttpSenderTest = WebSimTest;

// Basic goes out first; a Digest challenge is learnt and kept. On a Basic
// server: no credentials without a user name or with kAuthNone; a 401
// offering the scheme just tried fails the send, a later one is a status.
TEST_F(HttpSenderTest, LearnsTheServersSchemeAndReportsRefusals) {
    server.SetAuth(sim::WebAuth::Digest, "admin", "s3cret");
    server.SetPageText("/a", "res=200\r\n");
    CHttpSender learner(Device("admin", "s3cret"));
    std::vector<uint8_t> reply;
    EXPECT_EQ(RequestGetRD("/a", reply, learner, true).code, 0u);
    EXPECT_EQ(Text(reply), "res=200\r\n");
    EXPECT_EQ(learner.AuthScheme(), platform::http_auth::kDigest);
    auto log = server.Log();  // libcurl may fetch a challenge of its own between
    ASSERT_GE(log.size(), 2u);
    ASSERT_LE(log.size(), 3u);
    EXPECT_EQ(log[0].authScheme + " " + std::to_string(log[0].status) + " " + log[0].userAgent,
              "Basic 401 Dravnel::HttpSender");
    EXPECT_EQ(log.back().authScheme + " " + std::to_string(log.back().status), "Digest 200");
    server.ClearLog();
    EXPECT_EQ(RequestGetRD("/a", reply, learner, true).code, 0u);
    log = server.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].authScheme + " " + std::to_string(log[0].status), "Digest 200");

    server.SetAuth(sim::WebAuth::Basic, "admin", "s3cret");
    server.ClearLog();
    CHttpRequest request("GET", "/a");
    CHttpSender(Device("", "s3cret")).SendRequest(request);
    request.authMode = CHttpRequest::kAuthNone;
    CHttpSender(Device("admin", "s3cret")).SendRequest(request);
    ASSERT_GE(server.Log().size(), 2u);
    for (const auto& entry : server.Log()) EXPECT_EQ(entry.authScheme + " " + std::to_string(entry.status), " 401");

    server.ClearLog();
    CHttpSender sender(Device("admin", "wrong"));
    const CResultDef result = RequestGetRD("/a", reply, sender, true);
    EXPECT_EQ(result.level, 4u);
    EXPECT_EQ(result.code, 9u);
    EXPECT_EQ(result.message, "dravnel::HUtils::RequestGetRD: cannot send request \"/a\" to " + Tag());
    EXPECT_EQ(server.Log().size(), 1u);
    EXPECT_EQ(RequestGetRD("/a", reply, sender, true).code, 6u);
    EXPECT_EQ(sender.StatusCode(), 401u);
}

// Verb, header lines (one entry may hold several), body, escaped object;
// redirects only when allowed; kNoWaitForResponse returns once sent.
TEST_F(HttpSenderTest, HonoursTheRequestOptions) {
    std::string received;
    server.SetPage("/echo b", [&received](const sim::WebPageRequest& request) {
        received = request.method + " " + request.body;
        return sim::WebPageReply{.body = "res=200\r\n", .headers = {}, .stream = {}};
    });
    server.SetPage("/old", [](const sim::WebPageRequest&) {
        return sim::WebPageReply{.status = 302, .body = "moved", .headers = {{"Location", "/new"}}, .stream = {}};
    });
    server.SetPageText("/new", "res=200\r\n");
    CHttpSender sender(Device("", "", 5000));
    CHttpRequest request("POST", "/echo b?name=x y#1");
    request.body = {'k', '=', 'v'};
    request.headers = {"X-Camera: 1\r\nX-Other: two"};
    ASSERT_TRUE(sender.SendRequest(request));
    EXPECT_EQ(sender.StatusCode(), 200u);
    EXPECT_EQ(received, "POST k=v");
    const auto log = server.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].target, "/echo%20b?name=x%20y%231");
    int found = 0;
    for (const auto& [name, value] : log[0].headers)
        found += (name == "X-Camera" && value == "1") + (name == "X-Other" && value == "two");
    EXPECT_EQ(found, 2);

    request = CHttpRequest("GET", "/old");
    ASSERT_TRUE(sender.SendRequest(request));
    EXPECT_EQ(sender.StatusCode(), 302u);
    request.flags &= ~CHttpRequest::kDisableRedirects;
    ASSERT_TRUE(sender.SendRequest(request));
    EXPECT_EQ(sender.StatusCode(), 200u);
    std::vector<uint8_t> body;
    sender.ReadResponse(body);
    EXPECT_EQ(Text(body), "res=200\r\n");

    server.SetFaults({.delayMs = 3000});
    request.flags |= CHttpRequest::kNoWaitForResponse;
    bool sent = false;
    EXPECT_LT(ElapsedMs([&] { sent = sender.SendRequest(request); }), 2000);
    EXPECT_TRUE(sent);
    EXPECT_EQ(sender.StatusCode(), 0u);
}

// escapePath and escapeQuery choose whether "<>\^`{|} are escaped either side
// of the first '?'; controls, blanks, non-ASCII and '#' always are.
TEST(CHttpRequest, EscapeObject) {
    const struct {
        const char* object;
        bool path;
        bool query;
        const char* wire;
    } cases[] = {
        {"/video/video.php?app=get&ch=1&strm=1", true, false, "/video/video.php?app=get&ch=1&strm=1"},
        {"/a b/c?d e", false, false, "/a%20b/c?d%20e"},  // blanks never go raw
        {"/x|y?l=1|2", true, false, "/x%7Cy?l=1|2"},     // query left as given
        {"/x|y?l=1|2", true, true, "/x%7Cy?l=1%7C2"},
        {"/p?t=\"<a>\"", true, true, "/p?t=%22%3Ca%3E%22"},
        {"/p?already=%20", true, true, "/p?already=%20"},  // '%' stays
        {"/p?n=\xC3\xA9\t#", false, false, "/p?n=%C3%A9%09%23"},
    };
    for (const auto& c : cases) EXPECT_EQ(CHttpRequest::EscapeObject(c.object, c.path, c.query), c.wire) << c.object;
}

}  // namespace
}  // namespace dravnel::test
