// MD5, base64 and the Authorization line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtsp/Base64.h"
#include "rtsp/Md5.h"
#include "rtsp/RTSPAuthorization.h"

using namespace dravnel;

namespace {

std::string Encode(const std::string& text, size_t capacity) {
    std::string out(capacity, '#');
    if (!Base64Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out.data(), capacity))
        return "(does not fit)";
    return out.substr(0, out.find('#'));
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
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {std::string(55, 'x'), "04364420e25c512fd958a70738aa8f72"},
        {std::string(56, 'x'), "668a72d5ba17f08e62dabcafad6db14b"},
        {std::string(64, 'x'), "c1bb4f81d892b2d57947682aeb252456"},
    };
    for (const auto& c : cases) EXPECT_EQ(Md5Hex(c.text), c.digest) << c.text.size() << " bytes";
}

TEST(Md5, PiecewiseUpdatesGiveTheSameDigest) {
    std::string text;
    for (int i = 0; i < 300; ++i) text += static_cast<char>(i * 7);
    for (size_t piece : {1u, 7u, 63u, 64u, 65u}) {
        Md5 md5;
        for (size_t at = 0; at < text.size(); at += piece) {
            const std::string part = text.substr(at, piece);
            md5.Update(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(part.data()), part.size()));
        }
        std::string hex;
        char two[3];
        for (uint8_t b : md5.Final()) {
            std::snprintf(two, sizeof two, "%02x", b);
            hex += two;
        }
        EXPECT_EQ(hex, Md5Hex(text)) << "pieces of " << piece;
    }
}

TEST(Base64, MimeFormBreaksLinesAfter76Characters) {
    std::string bytes57, bytes58;
    for (int i = 0; i < 58; ++i) (i < 57 ? bytes57 : bytes58) += static_cast<char>(i);
    bytes58 = bytes57 + bytes58;
    const std::string line76 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4";
    EXPECT_EQ(Encode("", 10), "");
    EXPECT_EQ(Encode("a", 10), "YQ==");
    EXPECT_EQ(Encode("ab", 10), "YWI=");
    EXPECT_EQ(Encode("admin:secret", 100), "YWRtaW46c2VjcmV0");
    EXPECT_EQ(Encode(bytes57, 78), line76 + "\r\n");  // whole lines end with CR LF
    EXPECT_EQ(Encode(bytes57, 77), "(does not fit)");
    EXPECT_EQ(Encode(bytes58, 100), line76 + "\r\nOQ==");
    EXPECT_EQ(Base64EncodedSize(72), 98u);   // 24 groups and one line break
    EXPECT_EQ(Base64EncodedSize(73), 102u);  // and a partial group
}

TEST(Base64, LineFormHasNoBreaks) {
    const std::string credential = std::string(36, 'u') + ":" + std::string(35, 'p');
    EXPECT_EQ(Base64EncodeLine(credential),
              "dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1OnBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBw");
    EXPECT_EQ(Base64EncodeLine(std::string(300, 'z')).find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(Base64EncodeLine(std::string("ab")), "YWI=");
}

TEST(Base64, DecodesWithinItsLimit) {
    EXPECT_EQ(Base64Decode("Z0IAH5WoFAFuQA==", 256),
              (std::vector<uint8_t>{0x67, 0x42, 0x00, 0x1f, 0x95, 0xa8, 0x14, 0x01, 0x6e, 0x40}));
    EXPECT_EQ(Base64Decode("aM48gA==", 256), (std::vector<uint8_t>{0x68, 0xce, 0x3c, 0x80}));
    EXPECT_EQ(Base64Decode("YWI", 256), (std::vector<uint8_t>{'a', 'b'}));  // padding left out
    EXPECT_TRUE(Base64Decode("YW*I", 256).empty());
    EXPECT_TRUE(Base64Decode("", 256).empty());
    const std::string full = Base64EncodeLine(std::string(256, 'q'));
    EXPECT_EQ(Base64Decode(full, 256).size(), 256u);
    EXPECT_TRUE(Base64Decode(Base64EncodeLine(std::string(257, 'q')), 256).empty());
}

TEST(Authorization, BasicIsOneLineFromTheFirstRequest) {
    AuthorizationInputs in;
    in.scheme = AuthScheme::Basic;
    in.userName = "admin";
    in.password = "secret";
    EXPECT_EQ(BuildAuthorization(in, RTSPMethod::Describe, "rtsp://h/"), "Authorization: Basic YWRtaW46c2VjcmV0\r\n");
    in.password.clear();
    EXPECT_EQ(BuildAuthorization(in, RTSPMethod::Setup, ""), "Authorization: Basic YWRtaW46\r\n");  // "admin:"
    // 57 to 72 bytes would carry a MIME break inside the header, and more
    // would not fit the MIME buffer at all; both go out as one line.
    for (size_t length : {57u, 72u, 73u, 200u}) {
        in.userName = std::string(length - 1, 'u');
        const std::string line = BuildAuthorization(in, RTSPMethod::Describe, "rtsp://h/");
        ASSERT_FALSE(line.empty()) << length;
        EXPECT_EQ(line.find("\r\n"), line.size() - 2) << length;
        EXPECT_EQ(line, "Authorization: Basic " + Base64EncodeLine(in.userName + ":") + "\r\n");
    }
}

TEST(Authorization, DigestWithoutQop) {
    AuthorizationInputs in;
    in.scheme = AuthScheme::Digest;
    in.userName = "admin";
    in.password = "secret";
    in.realm = "Camera Realm";
    in.nonce = "0a4f113b";
    // HA1 = MD5("admin:Camera Realm:secret"), HA2 = MD5("DESCRIBE:" uri),
    // response = MD5(HA1 ":0a4f113b:" HA2)
    EXPECT_EQ(BuildAuthorization(in, RTSPMethod::Describe, "rtsp://127.0.0.1:554/h264"),
              "Authorization: Digest username=\"admin\", realm=\"Camera Realm\", nonce=\"0a4f113b\", "
              "uri=\"rtsp://127.0.0.1:554/h264\", response=\"ecbd1f389de49566808183901bd84ea4\"\r\n");
    EXPECT_NE(BuildAuthorization(in, RTSPMethod::Options, "rtsp://127.0.0.1:554/h264")
                  .find("response=\"8ec0e86438ade4506b5ff1dd23978bbf\""),
              std::string::npos);
}

TEST(Authorization, NoLineWithoutEveryDigestInput) {
    const auto build = [](auto change) {
        AuthorizationInputs in;
        in.scheme = AuthScheme::Digest;
        in.userName = "admin";
        in.password = "secret";
        in.realm = "r";
        in.nonce = "n";
        std::string uri = "rtsp://h/";
        change(in, uri);
        return BuildAuthorization(in, RTSPMethod::Play, uri);
    };
    EXPECT_FALSE(build([](AuthorizationInputs&, std::string&) {}).empty());
    EXPECT_TRUE(build([](AuthorizationInputs& in, std::string&) { in.realm.clear(); }).empty());
    EXPECT_TRUE(build([](AuthorizationInputs& in, std::string&) { in.nonce.clear(); }).empty());
    EXPECT_TRUE(build([](AuthorizationInputs& in, std::string&) { in.userName.clear(); }).empty());
    EXPECT_TRUE(build([](AuthorizationInputs& in, std::string&) { in.password.clear(); }).empty());
    EXPECT_TRUE(build([](AuthorizationInputs&, std::string& uri) { uri.clear(); }).empty());
    EXPECT_TRUE(build([](AuthorizationInputs& in, std::string&) { in.scheme = AuthScheme::None; }).empty());
}
