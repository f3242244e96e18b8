// MD5, base64 and the Authorization line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtsp/Base64.h"
#include "rtsp/Md5.h"
#include "rtsp/RTSPAuthorization.h"

using namespace dravnel;

// RFC 1321 appendix A.5, plus inputs around the 56- and 64-byte padding edges
// (digests from an independent MD5).
TEST(Md5, DigestsOfTheTestSuite) {
    const struct { std::string text; const char* digest; } cases[] = {
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
    const std::string digest = "Authorization: Digest username=\"admin\", realm=\"Camera Realm\", nonce=\"0a4f113b\", "
                               "uri=\"" + uri + "\", response=\"";
    const AuthorizationInputs full{AuthScheme::Digest, "admin", "secret", "Camera Realm", "0a4f113b"};
    const struct { AuthorizationInputs in; RTSPMethod method; std::string uri, line; } cases[] = {
        // "admin:"
        {{AuthScheme::Basic, "admin", "", "", ""}, RTSPMethod::Setup, "", "Authorization: Basic YWRtaW46\r\n"},
        {{AuthScheme::Basic, std::string(36, 'u'), std::string(35, 'p'), "", ""}, RTSPMethod::Describe, uri,
         "Authorization: Basic "
         "dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1OnBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBw\r\n"},
        {full, RTSPMethod::Describe, uri, digest + "ecbd1f389de49566808183901bd84ea4\"\r\n"},
        {full, RTSPMethod::Options, uri, digest + "8ec0e86438ade4506b5ff1dd23978bbf\"\r\n"},
        {{AuthScheme::Digest, "admin", "secret", "", "0a4f113b"}, RTSPMethod::Play, uri, ""},
        {{AuthScheme::Digest, "admin", "", "Camera Realm", "0a4f113b"}, RTSPMethod::Play, uri, ""},
        {full, RTSPMethod::Play, "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(BuildAuthorization(c.in, c.method, c.uri), c.line) << c.in.userName;
    for (size_t length : {57u, 73u, 200u}) {
        const AuthorizationInputs in{AuthScheme::Basic, std::string(length - 1, 'u'), "", "", ""};  // and ":"
        const std::string line = BuildAuthorization(in, RTSPMethod::Describe, uri);
        EXPECT_EQ(line.find("\r\n"), line.size() - 2) << length;
        EXPECT_EQ(Base64Decode(line.substr(21, line.size() - 23), 256).size(), length) << length;
    }
}
