// CHttpSender against the simulated camera: its single scheme, the scheme it
// learns from a 401, and the request options only it honours.
#include <gtest/gtest.h>

#include "platform/HttpClient.h"
#include "web/CHttpRequest.h"
#include "web/CHttpSender.h"
#include "web/HttpRequests.h"
#include "WebSimFixture.h"

namespace quarnel::test {
namespace {

using dravnel::CResultDef;
using dravnel::HUtils::RequestGetBody;
using dravnel::HUtils::RequestGetRD;
using Web::CHttpRequest;
using Web::CHttpSender;

using HttpSenderTest = WebSimTest;

TEST_F(HttpSenderTest, PresentsBasicAtOnce) {
    server.SetAuth(sim::WebAuth::Basic, "admin", "s3cret");
    server.SetPageText("/a", "res=200\r\n");
    CHttpSender sender(Device("admin", "s3cret"));
    std::vector<uint8_t> reply;
    EXPECT_TRUE(RequestGetBody("/a", sender, reply));
    const auto log = server.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].authScheme, "Basic");
    EXPECT_EQ(log[0].userAgent, "Dravnel::HttpSender");
    EXPECT_EQ(sender.AuthScheme(), 0u);
}

TEST_F(HttpSenderTest, LearnsDigestFromA401AndKeepsIt) {
    server.SetAuth(sim::WebAuth::Digest, "admin", "s3cret");
    server.SetPageText("/a", "res=200\r\n");
    CHttpSender sender(Device("admin", "s3cret"));
    std::vector<uint8_t> reply;
    const CResultDef first = RequestGetRD("/a", reply, sender, true);
    EXPECT_EQ(first.code, 0u);
    EXPECT_EQ(Text(reply), "res=200\r\n");
    EXPECT_EQ(sender.AuthScheme(), platform::http_auth::kDigest);
    auto log = server.Log();
    // Basic refused; the one repeat goes out in Digest (libcurl may first
    // fetch a challenge of its own, unauthenticated).
    ASSERT_GE(log.size(), 2u);
    ASSERT_LE(log.size(), 3u);
    EXPECT_EQ(log[0].authScheme, "Basic");
    EXPECT_EQ(log[0].status, 401);
    if (log.size() == 3) {
        EXPECT_EQ(log[1].authScheme, "");
    }
    EXPECT_EQ(log.back().authScheme, "Digest");
    EXPECT_EQ(log.back().status, 200);

    server.ClearLog();
    EXPECT_EQ(RequestGetRD("/a", reply, sender, true).code, 0u);
    log = server.Log();
    ASSERT_EQ(log.size(), 1u);  // Digest at once
    EXPECT_EQ(log[0].authScheme, "Digest");
    EXPECT_EQ(log[0].status, 200);
}

TEST_F(HttpSenderTest, A401OfferingTheTriedSchemeCannotBeSent) {
    server.SetAuth(sim::WebAuth::Basic, "admin", "s3cret");
    server.SetPageText("/a", "res=200\r\n");
    CHttpSender sender(Device("admin", "wrong"));
    std::vector<uint8_t> reply;
    const CResultDef result = RequestGetRD("/a", reply, sender, true);
    EXPECT_EQ(result.level, 4u);
    EXPECT_EQ(result.code, 9u);
    EXPECT_EQ(result.message, "dravnel::HUtils::RequestGetRD: cannot send request \"/a\" to " + Tag());
    EXPECT_EQ(server.Log().size(), 1u);
    // Learnt now: a later refusal reaches the caller as a status.
    const CResultDef later = RequestGetRD("/a", reply, sender, true);
    EXPECT_EQ(later.code, 6u);
    EXPECT_EQ(sender.StatusCode(), 401u);
}

TEST_F(HttpSenderTest, NoCredentialsWithoutUserOrWithAuthNone) {
    server.SetPageText("/a", "res=200\r\n");
    CHttpSender anonymous(Device());
    CHttpSender user(Device("admin", "s3cret"));
    CHttpRequest none("GET", "/a");
    none.authMode = CHttpRequest::kAuthNone;
    ASSERT_TRUE(anonymous.SendRequest(CHttpRequest("GET", "/a")));
    ASSERT_TRUE(user.SendRequest(none));
    for (const auto& entry : server.Log()) EXPECT_EQ(entry.authScheme, "");
}

TEST_F(HttpSenderTest, SendsVerbHeadersAndBody) {
    std::string received;
    server.SetPage("/echo", [&received](const sim::WebPageRequest& request) {
        received = request.method + " " + request.body;
        sim::WebPageReply reply;
        reply.body = "res=200\r\n";
        return reply;
    });
    CHttpSender sender(Device());
    CHttpRequest request("POST", "/echo?a=1");
    request.body = {'k', '=', 'v'};
    request.headers = {"X-Camera: 1\r\nX-Other: two"};
    ASSERT_TRUE(sender.SendRequest(request));
    EXPECT_EQ(sender.StatusCode(), 200u);
    EXPECT_EQ(received, "POST k=v");
    const auto log = server.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].target, "/echo?a=1");
    int found = 0;
    for (const auto& [name, value] : log[0].headers)
        found += (name == "X-Camera" && value == "1") + (name == "X-Other" && value == "two");
    EXPECT_EQ(found, 2);
}

TEST_F(HttpSenderTest, NoWaitReturnsOnceSent) {
    server.SetPageText("/a", "res=200\r\n");
    sim::WebFaults faults;
    faults.delayMs = 3000;
    server.SetFaults(faults);
    CHttpSender sender(Device("", "", 5000));
    CHttpRequest request("GET", "/a");
    request.flags |= CHttpRequest::kNoWaitForResponse;
    bool sent = false;
    const auto ms = ElapsedMs([&] { sent = sender.SendRequest(request); });
    EXPECT_TRUE(sent);
    EXPECT_LT(ms, 1000);
    EXPECT_EQ(sender.StatusCode(), 0u);
}

TEST_F(HttpSenderTest, FollowsRedirectsOnlyWhenAllowed) {
    server.SetPage("/old", [](const sim::WebPageRequest&) {
        sim::WebPageReply reply;
        reply.status = 302;
        reply.body = "moved";
        reply.headers = {{"Location", "/new"}};
        return reply;
    });
    server.SetPageText("/new", "res=200\r\n");
    CHttpSender sender(Device());
    CHttpRequest request("GET", "/old");
    ASSERT_TRUE(sender.SendRequest(request));  // redirects are off by default
    EXPECT_EQ(sender.StatusCode(), 302u);
    request.flags &= ~CHttpRequest::kDisableRedirects;
    ASSERT_TRUE(sender.SendRequest(request));
    EXPECT_EQ(sender.StatusCode(), 200u);
    std::vector<uint8_t> body;
    sender.ReadResponse(body);
    EXPECT_EQ(Text(body), "res=200\r\n");
}

TEST_F(HttpSenderTest, EscapesWhatCannotGoOnTheRequestLine) {
    server.SetPageText("/a b", "res=200\r\n");
    CHttpSender sender(Device());
    std::vector<uint8_t> reply;
    EXPECT_TRUE(RequestGetBody("/a b?name=x y#1", sender, reply));
    const auto log = server.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].target, "/a%20b?name=x%20y%231");
}

struct EscapeCase {
    const char* object;
    bool path;
    bool query;
    const char* wire;
};

TEST(CHttpRequest, EscapeObject) {
    const EscapeCase cases[] = {
        {"/video/video.php?app=get&ch=1&strm=1", true, false, "/video/video.php?app=get&ch=1&strm=1"},
        {"/a b/c?d e", false, false, "/a%20b/c?d%20e"},         // blanks never go raw
        {"/x|y?l=1|2", true, false, "/x%7Cy?l=1|2"},           // query left as given
        {"/x|y?l=1|2", true, true, "/x%7Cy?l=1%7C2"},
        {"/p?t=\"<a>\"", true, true, "/p?t=%22%3Ca%3E%22"},
        {"/p?already=%20", true, true, "/p?already=%20"},      // '%' stays
        {"/p?n=\xC3\xA9\t#", false, false, "/p?n=%C3%A9%09%23"},
        {"/p?q=a?b", true, false, "/p?q=a?b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CHttpRequest::EscapeObject(c.object, c.path, c.query), c.wire) << c.object;
}

TEST(CHttpRequest, AuthModeNamesOneScheme) {
    EXPECT_EQ(CHttpSender::SchemeOfAuthMode(0), platform::http_auth::kBasic);
    EXPECT_EQ(CHttpSender::SchemeOfAuthMode(1), platform::http_auth::kNtlm);
    EXPECT_EQ(CHttpSender::SchemeOfAuthMode(2), platform::http_auth::kPassport);
    EXPECT_EQ(CHttpSender::SchemeOfAuthMode(3), platform::http_auth::kDigest);
    EXPECT_EQ(CHttpSender::SchemeOfAuthMode(4), platform::http_auth::kNegotiate);
    EXPECT_EQ(CHttpSender::SchemeOfAuthMode(7), platform::http_auth::kNegotiate);
    EXPECT_EQ(CHttpSender::SchemeOfAuthMode(CHttpRequest::kAuthNone), 0u);
}

}  // namespace
}  // namespace quarnel::test
