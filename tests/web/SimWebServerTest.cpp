// The simulated camera's web server: its authentication against published
// examples and against the curl command-line client, and its stop.
#include <gtest/gtest.h>

#include <cstdio>

#include "sim/web/HttpAuthenticator.h"
#include "sim/web/WebDevice.h"
#include "web/CHttpRequest.h"
#include "web/CHttpSender.h"
#include "WebSimFixture.h"

namespace quarnel::test {
namespace {

using sim::HttpAuthenticator;
using sim::WebAuth;

TEST(HttpAuthenticator, BasicOfRfc7617Example) {
    HttpAuthenticator auth;
    auth.Configure(WebAuth::Basic, "Aladdin", "open sesame");
    EXPECT_TRUE(auth.Check("GET", "/", "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==").granted);
    EXPECT_FALSE(auth.Check("GET", "/", "Basic QWxhZGRpbjpvcGVuIHNlc2FtZA==").granted);
    EXPECT_FALSE(auth.Check("GET", "/", "Basic !!!").granted);
    const auto refused = auth.Check("GET", "/", "");
    EXPECT_FALSE(refused.granted);
    ASSERT_EQ(refused.challenges.size(), 1u);
    EXPECT_EQ(refused.challenges[0], "Basic realm=\"Quarnel Camera\"");
}

// The example exchange of RFC 2617 section 3.5 (user "Mufasa", password
// "Circle Of Life"): one request after another on the same nonce.
TEST(HttpAuthenticator, DigestOfRfc2617Example) {
    HttpAuthenticator auth;
    auth.Configure(WebAuth::Digest, "Mufasa", "Circle Of Life");
    auth.SetRealm("testrealm@host.com");
    auth.SetFixedNonce("dcd98b7102dd2f0e8b11d0f600bfb0c093");
    const auto challenge = auth.Check("GET", "/dir/index.html", "");
    ASSERT_EQ(challenge.challenges.size(), 1u);
    EXPECT_TRUE(challenge.challenges[0].starts_with(
        "Digest realm=\"testrealm@host.com\", qop=\"auth\", algorithm=MD5, "
        "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\""))
        << challenge.challenges[0];

    const std::string common =
        "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
        "uri=\"/dir/index.html\", ";
    struct Step {
        const char* what;
        std::string tail;  // after `common`
        const char* uri;
        bool granted;
    };
    const Step steps[] = {
        {"nc 1", "qop=auth, nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\"",
         "/dir/index.html", true},
        {"nc 1 replayed", "qop=auth, nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\"",
         "/dir/index.html", false},
        {"nc 2", "qop=auth, nc=00000002, cnonce=\"0a4f113b\", response=\"15b6bb427e3fecd23a43cb702ce447d5\"",
         "/dir/index.html", true},
        {"RFC 2069 form", "response=\"670fd8c2df070c60b045671b8b24ff02\"", "/dir/index.html", true},
        {"other target", "response=\"670fd8c2df070c60b045671b8b24ff02\"", "/other", false},
        {"bad nc", "qop=auth, nc=3, cnonce=\"0a4f113b\", response=\"15b6bb427e3fecd23a43cb702ce447d5\"",
         "/dir/index.html", false},
    };
    for (const Step& s : steps) EXPECT_EQ(auth.Check("GET", s.uri, common + s.tail).granted, s.granted) << s.what;

    auth.SetFixedNonce("");
    EXPECT_FALSE(auth.Check("GET", "/dir/index.html",
                            "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"unknown\", "
                            "uri=\"/dir/index.html\", response=\"670fd8c2df070c60b045671b8b24ff02\"")
                     .granted);
}

// The curl command-line client, run against a started server.
class CurlClientTest : public WebSimTest {
protected:
    void SetUp() override {
        WebSimTest::SetUp();
        if (std::system("curl --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no curl command";
    }

    // The status curl ends with, as text.
    std::string Curl(const std::string& options, const std::string& target) {
        const std::string command = "curl -s -o /dev/null -w '%{http_code}' " + options + " 'http://127.0.0.1:" +
                                    std::to_string(server.Port()) + target + "'";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return "popen failed";
        char buffer[64] = {};
        const size_t n = std::fread(buffer, 1, sizeof buffer - 1, pipe);
        pclose(pipe);
        return std::string(buffer, n);
    }
};

TEST_F(CurlClientTest, AuthenticatesWithDigestAndBasic) {
    sim::WebDevice device(server);
    server.SetAuth(WebAuth::Digest, "admin", "s3cret");
    EXPECT_EQ(Curl("--digest -u admin:s3cret", "/system/user.php?app=get"), "200");
    EXPECT_EQ(Curl("--digest -u admin:wrong", "/system/user.php?app=get"), "401");
    EXPECT_EQ(Curl("--basic -u admin:s3cret", "/system/user.php?app=get"), "401");
    server.SetAuth(WebAuth::Basic, "admin", "s3cret");
    EXPECT_EQ(Curl("--basic -u admin:s3cret", "/system/user.php?app=get"), "200");
    EXPECT_EQ(Curl("", "/system/user.php?app=get"), "401");
}

using WebServerTest = WebSimTest;

TEST_F(WebServerTest, StopEndsAStreamingReply) {
    server.SetPageText("/a", "x");
    sim::WebFaults faults;
    faults.endlessBody = true;
    server.SetFaults(faults);
    Web::CHttpSender sender(Device("", "", 5000));
    ASSERT_TRUE(sender.SendRequest(Web::CHttpRequest("GET", "/a")));
    const auto ms = ElapsedMs([&] { server.Stop(); });
    EXPECT_LT(ms, 1500);
}

}  // namespace
}  // namespace quarnel::test
