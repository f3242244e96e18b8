// HTTP authentication headers: the challenge parser and the scheme choice of
// the senders, and the simulated camera's Digest check against the published
// example.
#include <gtest/gtest.h>

#include "platform/HttpClient.h"
#include "sim/web/HttpAuthenticator.h"
#include "web/AuthChallenge.h"

namespace {

using Web::ParseAuthChallenges;
using Web::PreferredAuthScheme;
namespace auth = dravnel::platform::http_auth;

TEST(AuthChallenge, SplitsSchemesAndParameters) {
    const struct {
        const char* header;
        const char* expected;  // "scheme{name=value;...|token68}" per challenge, joined by " "
    } cases[] = {
        // A comma inside quotes, an escaped quote, a bare token value.
        {"Digest realm=\"a, b\", qop=\"auth,auth-int\", nonce=\"x\\\"y\", algorithm=MD5",
         "Digest{realm=a, b;qop=auth,auth-int;nonce=x\"y;algorithm=MD5}"},
        {"Digest realm=\"r\", nonce=\"n\", Basic realm=\"r\"", "Digest{realm=r;nonce=n} Basic{realm=r}"},
        // The example of RFC 7235 section 4.1.
        {"Newauth realm=\"apps\", type=1, title=\"Login to \\\"apps\\\"\", Basic realm=\"simple\"",
         "Newauth{realm=apps;type=1;title=Login to \"apps\"} Basic{realm=simple}"},
        {"Negotiate YIIGhg==, NTLM", "Negotiate{|YIIGhg==} NTLM{}"},
        {"Basic realm = \"spaced\" ,Digest", "Basic{realm=spaced} Digest{}"},
        {"Basic realm=\"unterminated", "Basic{realm=unterminated}"},
        {"realm=\"orphan\", Basic", "Basic{}"},
        {" , ,", ""},
        {"", ""},
        {"(@) Basic", "Basic{}"},
    };
    for (const auto& c : cases) {
        std::string described;
        for (const auto& challenge : ParseAuthChallenges(c.header)) {
            described += (described.empty() ? "" : " ") + challenge.scheme + "{";
            for (size_t i = 0; i < challenge.params.size(); ++i)
                described += (i ? ";" : "") + challenge.params[i].first + "=" + challenge.params[i].second;
            if (!challenge.token68.empty()) described += "|" + challenge.token68;
            described += "}";
        }
        EXPECT_EQ(described, c.expected) << c.header;
    }
    const auto parsed = ParseAuthChallenges("Digest Realm=\"R\", NONCE=abc");
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0].Param("realm"), "R");  // names ignore case
    EXPECT_EQ(parsed[0].Param("nonce"), "abc");
    EXPECT_EQ(parsed[0].Param("opaque"), "");
}

TEST(AuthChallenge, PreferredSchemeIsTheFirstKnownOne) {
    EXPECT_EQ(PreferredAuthScheme({"Digest realm=\"r\", nonce=\"n\", Basic realm=\"r\""}), auth::kDigest);
    EXPECT_EQ(PreferredAuthScheme({"Basic realm=\"r\"", "Digest realm=\"r\""}), auth::kBasic);
    EXPECT_EQ(PreferredAuthScheme({"Bearer realm=\"api\"", "NTLM"}), auth::kNtlm);
    EXPECT_EQ(PreferredAuthScheme({"negotiate"}), auth::kNegotiate);
    EXPECT_EQ(PreferredAuthScheme({"Newauth realm=\"x\""}), 0u);
    EXPECT_EQ(PreferredAuthScheme({}), 0u);
}

// The example exchange of RFC 2617 section 3.5 (user "Mufasa", password
// "Circle Of Life"): one request after another on the same nonce.
TEST(HttpAuthenticator, DigestOfRfc2617Example) {
    dravnel::sim::HttpAuthenticator auth;
    auth.Configure(dravnel::sim::WebAuth::Digest, "Mufasa", "Circle Of Life");
    auth.SetRealm("testrealm@host.com");
    auth.SetFixedNonce("dcd98b7102dd2f0e8b11d0f600bfb0c093");
    const auto challenge = auth.Check("GET", "/dir/index.html", "");
    ASSERT_EQ(challenge.challenges.size(), 1u);
    EXPECT_TRUE(
        challenge.challenges[0].starts_with("Digest realm=\"testrealm@host.com\", qop=\"auth\", algorithm=MD5, "
                                            "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\""))
        << challenge.challenges[0];

    const std::string common =
        "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
        "uri=\"/dir/index.html\", ";
    const struct {
        const char* what;
        std::string tail;  // after `common`
        const char* uri;
        bool granted;
    } steps[] = {
        {"nc 1", "qop=auth, nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\"",
         "/dir/index.html", true},
        {"nc 1 replayed", "qop=auth, nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\"",
         "/dir/index.html", false},
        {"nc 2", "qop=auth, nc=00000002, cnonce=\"0a4f113b\", response=\"15b6bb427e3fecd23a43cb702ce447d5\"",
         "/dir/index.html", true},
        {"RFC 2069 form", "response=\"670fd8c2df070c60b045671b8b24ff02\"", "/dir/index.html", true},
        {"other target", "response=\"670fd8c2df070c60b045671b8b24ff02\"", "/other", false},
    };
    for (const auto& s : steps) EXPECT_EQ(auth.Check("GET", s.uri, common + s.tail).granted, s.granted) << s.what;
}

}  // namespace
