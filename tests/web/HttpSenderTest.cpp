// CHttpSender against the simulated camera: its single scheme, the scheme it
// learns from a 401, and the request options only it honours.
#include <gtest/gtest.h>

#include <tuple>

#include "platform/HttpClient.h"
#include "web/CHttpRequest.h"
#include "web/CHttpSender.h"
#include "web/HttpRequests.h"
#include "WebSimFixture.h"

namespace quarnel::test {
namespace {

using dravnel::CResultDef;
using dravnel::HUtils::RequestGetRD;
using Web::CHttpRequest;
using Web::CHttpSender;

using HttpSenderTest = WebSimTest;

// Credentials go out at once in the scheme authMode names (Basic for the
// request functions), and not at all without a user name or with kAuthNone.
TEST_F(HttpSenderTest, PresentsCredentialsAtOnceOrNotAtAll) {
    server.SetAuth(sim::WebAuth::Basic, "admin", "s3cret");
    server.SetPageText("/a", "res=200\r\n");
    // user name, authMode, scheme of the first request
    const std::tuple<const char*, int32_t, std::string> cases[] = {
        {"admin", CHttpRequest::kAuthBasic, "Basic"},
        {"", CHttpRequest::kAuthBasic, ""},
        {"admin", CHttpRequest::kAuthNone, ""},
    };
    for (const auto& [user, authMode, scheme] : cases) {
        server.ClearLog();
        CHttpSender sender(Device(user, "s3cret"));
        CHttpRequest request("GET", "/a");
        request.authMode = authMode;
        sender.SendRequest(request);
        const auto log = server.Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log[0].authScheme, scheme) << user << " " << authMode;
        EXPECT_EQ(log[0].status, scheme.empty() ? 401 : 200);
        EXPECT_EQ(log[0].userAgent, "Dravnel::HttpSender");
    }
}

TEST_F(HttpSenderTest, LearnsDigestFromA401AndKeepsIt) {
    server.SetAuth(sim::WebAuth::Digest, "admin", "s3cret");
    server.SetPageText("/a", "res=200\r\n");
    CHttpSender sender(Device("admin", "s3cret"));
    std::vector<uint8_t> reply;
    EXPECT_EQ(RequestGetRD("/a", reply, sender, true).code, 0u);
    EXPECT_EQ(Text(reply), "res=200\r\n");
    EXPECT_EQ(sender.AuthScheme(), platform::http_auth::kDigest);
    auto log = server.Log();
    // Basic refused; the one repeat goes out in Digest (libcurl may first
    // fetch a challenge of its own, unauthenticated).
    ASSERT_GE(log.size(), 2u);
    ASSERT_LE(log.size(), 3u);
    EXPECT_EQ(log[0].authScheme, "Basic");
    EXPECT_EQ(log[0].status, 401);
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

// Verb, header lines (one entry may hold several), body, and an object that
// is escaped where it cannot go on the request line as given.
TEST_F(HttpSenderTest, SendsVerbHeadersBodyAndAnEscapedObject) {
    std::string received;
    server.SetPage("/echo b", [&received](const sim::WebPageRequest& request) {
        received = request.method + " " + request.body;
        sim::WebPageReply reply;
        reply.body = "res=200\r\n";
        return reply;
    });
    CHttpSender sender(Device());
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

// The object as it goes on the request line: escapePath and escapeQuery
// choose whether "<>\^`{|} and the double quote are escaped on either side of
// the first '?'; controls, blanks, non-ASCII and '#' always are.
TEST(CHttpRequest, EscapeObject) {
    const struct {
        const char* object;
        bool path;
        bool query;
        const char* wire;
    } cases[] = {
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

}  // namespace
}  // namespace quarnel::test
