// MD5, SHA-256, base64, the Digest challenge and the Authorization line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtsp/Base64.h"
#include "rtsp/CRTSPResponseParser.h"
#include "rtsp/Md5.h"
#include "rtsp/RTSPAuthorization.h"
#include "rtsp/Sha256.h"

using namespace dravnel;

namespace {

// Inputs without the further parameters of a Digest challenge.
AuthorizationInputs Plain(AuthScheme scheme, std::string user, std::string password, std::string realm,
                          std::string nonce) {
    AuthorizationInputs in;
    in.scheme = scheme;
    in.userName = std::move(user);
    in.password = std::move(password);
    in.realm = std::move(realm);
    in.nonce = std::move(nonce);
    return in;
}

}  // namespace

// RFC 1321 appendix A.5, plus inputs around the 56- and 64-byte padding edges
// (digests from an independent MD5).
TEST(Md5, DigestsOfTheTestSuite) {
    const struct {
        std::string text;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {std::string(55, 'x'), "04364420e25c512fd958a70738aa8f72"},
        {std::string(56, 'x'), "668a72d5ba17f08e62dabcafad6db14b"},
        {std::string(64, 'x'), "c1bb4f81d892b2d57947682aeb252456"},
    };
    for (const auto& c : cases) EXPECT_EQ(Md5Hex(c.text), c.digest) << c.text.size() << " bytes";
}

// The MIME form breaks lines after 76 characters; decoding takes the RFC 4648
// alphabet, with or without padding.
TEST(Base64, GoldenVectors) {
    const auto encode = [](const std::string& text, size_t capacity) -> std::string {
        std::string out(capacity, '#');
        const bool ok = Base64Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out.data(), capacity);
        return ok ? out.substr(0, out.find('#')) : "(does not fit)";
    };
    std::string bytes58;
    for (int i = 0; i < 58; ++i) bytes58 += static_cast<char>(i);
    const std::string line76 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4";
    EXPECT_EQ(encode("ab", 10), "YWI=");
    EXPECT_EQ(encode(bytes58.substr(0, 57), 78), line76 + "\r\n");  // whole lines end with CR LF
    EXPECT_EQ(encode(bytes58.substr(0, 57), 77), "(does not fit)");
    EXPECT_EQ(encode(bytes58, 100), line76 + "\r\nOQ==");
    EXPECT_EQ(Base64Decode("Z0IAH5WoFAFuQA==", 256),
              (std::vector<uint8_t>{0x67, 0x42, 0x00, 0x1f, 0x95, 0xa8, 0x14, 0x01, 0x6e, 0x40}));
    EXPECT_EQ(Base64Decode("YWI", 256), (std::vector<uint8_t>{'a', 'b'}));  // padding left out
    EXPECT_TRUE(Base64Decode("YW*I", 256).empty());
}

// The Authorization line. Basic takes user and password alone and stays one
// line at any length: credentials of 57 to 72 bytes would carry a MIME line
// break inside the header, longer ones would not fit the MIME buffer. Digest
// is RFC 2617 without qop, response = MD5(MD5(user ":" realm ":" password)
// ":" nonce ":" MD5(method ":" uri)), and needs every input: no line before a
// challenge, or without a password.
TEST(Authorization, Lines) {
    const std::string uri = "rtsp://127.0.0.1:554/h264";
    const std::string digest =
        "Authorization: Digest username=\"admin\", realm=\"Camera Realm\", nonce=\"0a4f113b\", "
        "uri=\"" +
        uri + "\", response=\"";
    const AuthorizationInputs full = Plain(AuthScheme::Digest, "admin", "secret", "Camera Realm", "0a4f113b");
    const struct {
        AuthorizationInputs in;
        RTSPMethod method;
        std::string uri, line;
    } cases[] = {
        // "admin:"
        {Plain(AuthScheme::Basic, "admin", "", "", ""), RTSPMethod::Setup, "", "Authorization: Basic YWRtaW46\r\n"},
        {Plain(AuthScheme::Basic, std::string(36, 'u'), std::string(35, 'p'), "", ""), RTSPMethod::Describe, uri,
         "Authorization: Basic "
         "dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1OnBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBw\r\n"},
        {full, RTSPMethod::Describe, uri, digest + "ecbd1f389de49566808183901bd84ea4\"\r\n"},
        {full, RTSPMethod::Options, uri, digest + "8ec0e86438ade4506b5ff1dd23978bbf\"\r\n"},
        {Plain(AuthScheme::Digest, "admin", "secret", "", "0a4f113b"), RTSPMethod::Play, uri, ""},
        {Plain(AuthScheme::Digest, "admin", "", "Camera Realm", "0a4f113b"), RTSPMethod::Play, uri, ""},
        {full, RTSPMethod::Play, "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(BuildAuthorization(c.in, c.method, c.uri), c.line) << c.in.userName;
    for (size_t length : {57u, 73u, 200u}) {
        const AuthorizationInputs in = Plain(AuthScheme::Basic, std::string(length - 1, 'u'), "", "", "");  // and ":"
        const std::string line = BuildAuthorization(in, RTSPMethod::Describe, uri);
        EXPECT_EQ(line.find("\r\n"), line.size() - 2) << length;
        EXPECT_EQ(Base64Decode(line.substr(21, line.size() - 23), 256).size(), length) << length;
    }
}

// FIPS 180-4 examples, plus inputs around the padding edges (digests from an
// independent SHA-256).
TEST(Sha256, DigestsOfTheTestSuite) {
    const struct {
        std::string text;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
        {std::string(56, 'x'), "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
        {std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
    };
    for (const auto& c : cases) EXPECT_EQ(Sha256Hex(c.text), c.digest) << c.text.size() << " bytes";
}

// The worked examples of RFC 2617 section 3.5 and RFC 7616 section 3.9.1
// (user Mufasa, GET /dir/index.html, qop=auth, nc 00000001).
TEST(Authorization, DigestResponsesOfTheRfcExamples) {
    const struct {
        const char* name;
        AuthorizationInputs in;
        const char* response;
    } cases[] = {
        {"RFC 2617",
         {AuthScheme::Digest, "Mufasa", "Circle Of Life", "testrealm@host.com", "dcd98b7102dd2f0e8b11d0f600bfb0c093",
          "", "auth", "5ccc069c403ebaf9f0171e9517f40e41", 1, "0a4f113b"},
         "6629fae49393a05397450978507c4ef1"},
        {"RFC 7616 MD5",
         {AuthScheme::Digest, "Mufasa", "Circle of Life", "http-auth@example.org",
          "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v", "MD5", "auth", "FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS",
          1, "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ"},
         "8ca523f5e9506fed4657c9700eebdbec"},
        {"RFC 7616 SHA-256",
         {AuthScheme::Digest, "Mufasa", "Circle of Life", "http-auth@example.org",
          "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v", "SHA-256", "auth",
          "FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS", 1, "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ"},
         "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
    };
    for (const auto& c : cases) EXPECT_EQ(DigestResponse(c.in, "GET", "/dir/index.html"), c.response) << c.name;
}

// Challenges as cameras write them: the further Digest parameters in any
// order and case, quoted or not, qop as a list; a plain challenge leaves them
// empty, and the next challenge replaces them.
TEST(Authorization, ChallengeParameters) {
    const struct {
        std::string header;
        std::string algorithm, qop, opaque;
    } cases[] = {
        {"Digest realm=\"cam\", nonce=\"n\"", "", "", ""},
        {"Digest realm=\"cam\", nonce=\"n\", qop=\"auth,auth-int\", algorithm=SHA-256, opaque=\"o,p\"", "SHA-256",
         "auth", "o,p"},
        {"Digest Algorithm=\"MD5-sess\", QOP=auth, realm=\"cam\", nonce=\"n\"", "MD5-sess", "auth", ""},
        {"Digest realm=\"cam\", nonce=\"n\", qop=\"auth-int\"", "", "", ""},  // auth-int alone is not taken
    };
    CRTSPResponseParser parser;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        ASSERT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: " + c.header + "\r\n\r\n",
                                 RTSPMethod::Describe));
        EXPECT_EQ(parser.authScheme, AuthScheme::Digest);
        EXPECT_EQ(parser.realm + " " + parser.nonce, "cam n");
        EXPECT_EQ(parser.algorithm + "|" + parser.qop + "|" + parser.opaque,
                  c.algorithm + "|" + c.qop + "|" + c.opaque);
    }
}

// Digest lines beyond the plain form: qop, nc and cnonce follow the response,
// an algorithm other than MD5 and the opaque value are named; an algorithm
// this client cannot compute is answered as MD5. A user name is a quoted
// string: a quote in it is escaped, and one with CR LF (which no quoted
// string can carry) gets no line at all rather than a header of its own.
TEST(Authorization, DigestLinesForChallengesWithQop) {
    const std::string uri = "rtsp://127.0.0.1:554/h264";
    AuthorizationInputs in{AuthScheme::Digest, "admin", "secret", "cam", "n1", "SHA-256", "auth", "op", 2, "c0ffee"};
    const std::string head =
        "Authorization: Digest username=\"admin\", realm=\"cam\", nonce=\"n1\", uri=\"" + uri + "\", response=\"";
    EXPECT_EQ(BuildAuthorization(in, RTSPMethod::Play, uri),
              head + DigestResponse(in, "PLAY", uri) +
                  "\", algorithm=SHA-256, qop=auth, nc=00000002, cnonce=\"c0ffee\", opaque=\"op\"\r\n");
    EXPECT_EQ(DigestResponse(in, "PLAY", uri).size(), 64u);

    in.algorithm = "SHA-512-256";
    in.opaque.clear();
    AuthorizationInputs md5 = in;
    md5.algorithm = "MD5";
    EXPECT_EQ(BuildAuthorization(in, RTSPMethod::Play, uri),
              head + DigestResponse(md5, "PLAY", uri) + "\", qop=auth, nc=00000002, cnonce=\"c0ffee\"\r\n");

    const AuthorizationInputs quote = Plain(AuthScheme::Digest, "ad\"min\\", "secret", "cam", "n1");
    EXPECT_EQ(BuildAuthorization(quote, RTSPMethod::Play, uri),
              "Authorization: Digest username=\"ad\\\"min\\\\\", realm=\"cam\", nonce=\"n1\", uri=\"" + uri +
                  "\", response=\"" + DigestResponse(quote, "PLAY", uri) + "\"\r\n");
    for (const std::string& user :
         {std::string("admin\r\nX-Injected: 1"), std::string("ad\0min", 6), std::string("admin\n")}) {
        const AuthorizationInputs bad = Plain(AuthScheme::Digest, user, "secret", "cam", "n1");
        EXPECT_EQ(BuildAuthorization(bad, RTSPMethod::Play, uri), "") << user;
    }
}
