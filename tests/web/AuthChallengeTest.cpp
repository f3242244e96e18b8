#include <gtest/gtest.h>

#include "platform/HttpClient.h"
#include "web/AuthChallenge.h"

namespace {

using Web::AuthChallenge;
using Web::ParseAuthChallenges;
using Web::PreferredAuthScheme;
namespace auth = platform::http_auth;

struct ChallengeCase {
    const char* header;
    // "scheme{name=value;...|token68}" per challenge, joined by " "
    const char* expected;
};

std::string Describe(const std::vector<AuthChallenge>& challenges) {
    std::string out;
    for (const auto& c : challenges) {
        if (!out.empty()) out += " ";
        out += c.scheme + "{";
        for (size_t i = 0; i < c.params.size(); ++i)
            out += (i ? ";" : "") + c.params[i].first + "=" + c.params[i].second;
        if (!c.token68.empty()) out += "|" + c.token68;
        out += "}";
    }
    return out;
}

class ParseChallengeTest : public ::testing::TestWithParam<ChallengeCase> {};

TEST_P(ParseChallengeTest, SplitsSchemesAndParameters) {
    EXPECT_EQ(Describe(ParseAuthChallenges(GetParam().header)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Web, ParseChallengeTest,
    ::testing::Values(
        // A comma inside quotes, an escaped quote, a bare token value.
        ChallengeCase{"Digest realm=\"a, b\", qop=\"auth,auth-int\", nonce=\"x\\\"y\", algorithm=MD5",
                      "Digest{realm=a, b;qop=auth,auth-int;nonce=x\"y;algorithm=MD5}"},
        ChallengeCase{"Digest realm=\"r\", nonce=\"n\", Basic realm=\"r\"", "Digest{realm=r;nonce=n} Basic{realm=r}"},
        // The example of RFC 7235 section 4.1.
        ChallengeCase{"Newauth realm=\"apps\", type=1, title=\"Login to \\\"apps\\\"\", Basic realm=\"simple\"",
                      "Newauth{realm=apps;type=1;title=Login to \"apps\"} Basic{realm=simple}"},
        ChallengeCase{"Negotiate YIIGhg==, NTLM", "Negotiate{|YIIGhg==} NTLM{}"},
        ChallengeCase{"Basic realm = \"spaced\" ,Digest", "Basic{realm=spaced} Digest{}"},
        ChallengeCase{"Basic realm=\"unterminated", "Basic{realm=unterminated}"},
        ChallengeCase{"realm=\"orphan\", Basic", "Basic{}"},
        ChallengeCase{" , ,", ""}, ChallengeCase{"", ""}, ChallengeCase{"(@) Basic", "Basic{}"}));

TEST(AuthChallenge, ParamIgnoresCase) {
    const auto parsed = ParseAuthChallenges("Digest Realm=\"R\", NONCE=abc");
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0].Param("realm"), "R");
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

}  // namespace
