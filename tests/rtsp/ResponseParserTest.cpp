// Replies and their session description.
#include <gtest/gtest.h>

#include <string>

#include "rtsp/CRTSPResponseParser.h"
#include "rtsp/CSDPResponseParser.h"

using namespace dravnel;

namespace {

std::string Reply(const std::string& status, const std::string& headers, const std::string& body = "") {
    std::string text = status + "\r\n" + headers;
    if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return text + "\r\n" + body;
}

// A camera's H.264 description: session-level lines, then video and audio.
const std::string kSdp =
    "v=0\r\n"
    "o=- 1 1 IN IP4 10.0.0.5\r\n"
    "s=Session\r\n"
    "c=IN IP4 0.0.0.0\r\n"  // session level: no media to hold it
    "a=control:*\r\n"        // dropped for the same reason
    "m=video 0 RTP/AVP 96\r\n"
    "c=IN IP4 239.0.0.1/16\r\n"
    "a=rtpmap:96 H264/90000\r\n"
    "a=fmtp:96 packetization-mode=1;profile-level-id=42001f;sprop-parameter-sets=Z0IAH5WoFAFuQA==,aM48gA==\r\n"
    "a=control:trackID=1\r\n"
    "m=audio 5004 RTP/AVP 0\r\n"
    "a=rtpmap:0 PCMU/8000\r\n"
    "a=fmtp:0 anything\r\n"
    "a=control:trackID=2\r\n";

}  // namespace

struct StatusCase {
    const char* statusLine;
    bool ok;
    uint32_t code;
};

class StatusLineTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusLineTest, OnlyOkAndUnauthorizedPass) {
    const auto c = GetParam();
    CRTSPResponseParser parser;
    EXPECT_EQ(parser.Parse(Reply(c.statusLine, "CSeq: 1\r\n"), RTSPMethod::Options), c.ok) << c.statusLine;
    EXPECT_EQ(parser.statusCode, c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Reply, StatusLineTest,
    ::testing::Values(StatusCase{"RTSP/1.0 200 OK", true, 200}, StatusCase{"RTSP/1.0 401 Unauthorized", true, 401},
                      StatusCase{"RTSP/1.0 404 Not Found", false, 404}, StatusCase{"RTSP/1.0 302 Moved", false, 302},
                      StatusCase{"HTTP/1.1 200 OK", true, 200},  // the version is not checked
                      StatusCase{"RTSP/1.0 OK", false, 0}, StatusCase{"RTSP/1.0", false, 0},
                      StatusCase{"", false, 0}, StatusCase{"RTSP/1.0 4294967496 x", false, 0xFFFFFFFFu}));

TEST(Reply, HeaderNamesMatchInAnyCaseAndUnknownOnesAreIgnored) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(Reply("RTSP/1.0 200 OK",
                                   "cseq: 3\r\nDate: today\r\nX-Whatever: 1\r\n:odd\r\nno colon\r\n"
                                   "Content-Type: Application/SDP\r\n"),
                             RTSPMethod::Options));
    EXPECT_EQ(parser.cseq, 3u);
    EXPECT_EQ(parser.contentType, "application/sdp");
    EXPECT_FALSE(parser.Parse(Reply("RTSP/1.0 200 OK", "CSeq: x\r\n"), RTSPMethod::Options));
    EXPECT_FALSE(parser.Parse(Reply("RTSP/1.0 200 OK", " CSeq : 4\r\n"), RTSPMethod::Options));
    EXPECT_EQ(CRTSPResponseParser::ClassifyHeader("  Content-Base\t: x"), RTSPHeaderType::ContentBase);
    EXPECT_EQ(CRTSPResponseParser::ClassifyHeader("RTP-Info: url=x"), RTSPHeaderType::RtpInfo);
    EXPECT_EQ(CRTSPResponseParser::ClassifyHeader(""), RTSPHeaderType::Empty);
}

struct SessionCase {
    const char* line;
    bool ok;
    const char* id;
    uint32_t timeout;  // starting from 7
};

class SessionHeaderTest : public ::testing::TestWithParam<SessionCase> {};

TEST_P(SessionHeaderTest, IdAndTimeout) {
    const auto c = GetParam();
    CRTSPResponseParser parser;
    parser.sessionTimeoutSec = 7;
    parser.sessionId = "old";
    EXPECT_EQ(parser.Parse(Reply("RTSP/1.0 200 OK", std::string(c.line) + "\r\n"), RTSPMethod::Setup), c.ok);
    EXPECT_EQ(parser.sessionId, c.id);
    EXPECT_EQ(parser.sessionTimeoutSec, c.timeout);
}

INSTANTIATE_TEST_SUITE_P(
    Reply, SessionHeaderTest,
    ::testing::Values(SessionCase{"Session: 12345678;timeout=60", true, "12345678", 60},
                      SessionCase{"Session: 12345678;timeout=0", true, "12345678", 30},
                      SessionCase{"Session: 12345678", true, "12345678", 7},  // time-out kept
                      SessionCase{"Session: 12345678; timeout=20", true, "12345678", 20},
                      SessionCase{"Session: 12345678;foo", false, "", 7},
                      SessionCase{"Session:12345678", false, "", 7},  // the value needs its blank
                      SessionCase{"session: 12345678", false, "", 7}));

struct ChallengeCase {
    const char* line;
    bool ok;
    AuthScheme scheme;
    const char* realm;
    const char* nonce;
};

class ChallengeTest : public ::testing::TestWithParam<ChallengeCase> {};

TEST_P(ChallengeTest, SchemeRealmAndNonce) {
    const auto c = GetParam();
    CRTSPResponseParser parser;
    EXPECT_EQ(parser.Parse(Reply("RTSP/1.0 401 Unauthorized", std::string(c.line) + "\r\n"), RTSPMethod::Describe),
              c.ok);
    EXPECT_EQ(parser.authScheme, c.scheme);
    EXPECT_EQ(parser.realm, c.realm);
    EXPECT_EQ(parser.nonce, c.nonce);
}

INSTANTIATE_TEST_SUITE_P(
    Reply, ChallengeTest,
    ::testing::Values(
        ChallengeCase{"WWW-Authenticate: Digest realm=\"x\", nonce=\"y\"", true, AuthScheme::Digest, "x", "y"},
        ChallengeCase{"WWW-Authenticate: Digest realm=\"GStreamer RTSP Server\", nonce=\"6a9c\", stale=FALSE", true,
                      AuthScheme::Digest, "GStreamer RTSP Server", "6a9c"},
        ChallengeCase{"WWW-Authenticate: Digest realm=\"x\"", false, AuthScheme::Digest, "x", ""},
        ChallengeCase{"WWW-Authenticate: Basic realm=\"cam\"", true, AuthScheme::Basic, "cam", ""},
        ChallengeCase{"WWW-Authenticate: NTLM", false, AuthScheme::None, "", ""},  // no blank after the scheme
        ChallengeCase{"WWW-Authenticate: NTLM x", true, AuthScheme::None, "", ""},
        ChallengeCase{"WWW-Authenticate: digest realm=\"x\", nonce=\"y\"", true, AuthScheme::None, "", ""},
        ChallengeCase{"WWW-Authenticate:Digest realm=\"x\", nonce=\"y\"", false, AuthScheme::None, "", ""},
        ChallengeCase{"www-authenticate: Digest realm=\"x\", nonce=\"y\"", false, AuthScheme::None, "", ""}));

TEST(Reply, TheLastChallengeDecides) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(Reply("RTSP/1.0 401 Unauthorized",
                                   "WWW-Authenticate: Basic realm=\"a\"\r\n"
                                   "WWW-Authenticate: Digest realm=\"b\", nonce=\"c\"\r\n"),
                             RTSPMethod::Describe));
    EXPECT_EQ(parser.authScheme, AuthScheme::Digest);
    EXPECT_EQ(parser.realm, "b");
}

TEST(Reply, ContentBaseNeedsAnRtspUrl) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(Reply("RTSP/1.0 200 OK", "Content-Base: rtsp://10.0.0.5/Live/ \r\n"), RTSPMethod::Options));
    EXPECT_EQ(parser.contentBase, "rtsp://10.0.0.5/Live/");  // as written, trimmed
    EXPECT_FALSE(parser.Parse(Reply("RTSP/1.0 200 OK", "Content-Base: /live/\r\n"), RTSPMethod::Options));
    EXPECT_EQ(parser.contentBase, "");
}

TEST(Reply, FieldsCarryOverUntilAReplySetsThemAgain) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(Reply("RTSP/1.0 401 Unauthorized",
                                   "CSeq: 1\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"),
                             RTSPMethod::Describe));
    ASSERT_TRUE(parser.Parse(Reply("RTSP/1.0 200 OK", "CSeq: 2\r\nSession: abc;timeout=20\r\n"), RTSPMethod::Setup));
    ASSERT_TRUE(parser.Parse(Reply("RTSP/1.0 200 OK", "CSeq: 3\r\n"), RTSPMethod::Play));
    EXPECT_EQ(parser.cseq, 3u);
    EXPECT_EQ(parser.sessionId, "abc");
    EXPECT_EQ(parser.sessionTimeoutSec, 20u);
    EXPECT_EQ(parser.authScheme, AuthScheme::Digest);
    EXPECT_EQ(parser.nonce, "n");
    parser.Clear();
    EXPECT_EQ(parser.cseq, 0u);
    EXPECT_EQ(parser.sessionId, "");
    EXPECT_EQ(parser.nonce, "");
}

TEST(Reply, DescribeReadsTheBody) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(Reply("RTSP/1.0 200 OK", "CSeq: 2\r\nContent-Base: rtsp://10.0.0.5/h264/\r\n", kSdp),
                             RTSPMethod::Describe));
    const auto& video = parser.media[0];
    EXPECT_EQ(video.port, 0u);
    EXPECT_EQ(video.protocol, "RTP/AVP");
    EXPECT_EQ(video.connectionAddress, "239.0.0.1");
    EXPECT_EQ(video.rtpmap, "H264/90000");
    EXPECT_EQ(video.control, "trackID=1");
    EXPECT_EQ(parser.media[1].port, 5004u);
    EXPECT_EQ(parser.media[1].control, "trackID=2");
    EXPECT_EQ(parser.media[1].rtpmap, "PCMU/8000");
    EXPECT_EQ(parser.codecConfig.sps.size(), 10u);
    EXPECT_EQ(parser.codecConfig.pps.size(), 4u);

    // A body that fails leaves the records of the last good one.
    const std::string bad = "m=video 0 RTP/AVP 96\r\na=fmtp:96 packetization-mode=1\r\n";
    EXPECT_FALSE(parser.Parse(Reply("RTSP/1.0 200 OK", "CSeq: 3\r\n", bad), RTSPMethod::Describe));
    EXPECT_EQ(parser.media[0].control, "trackID=1");
    EXPECT_EQ(parser.codecConfig.sps.size(), 10u);

    // Only DESCRIBE reads a body; an empty one clears the records.
    EXPECT_TRUE(parser.Parse(Reply("RTSP/1.0 200 OK", "CSeq: 4\r\n", bad), RTSPMethod::Options));
    EXPECT_TRUE(parser.Parse(Reply("RTSP/1.0 200 OK", "CSeq: 5\r\nContent-Length: 0\r\n"), RTSPMethod::Describe));
    EXPECT_EQ(parser.media[0].control, "");
    EXPECT_TRUE(parser.codecConfig.sps.empty());
}

TEST(Reply, ABodyNeedsTheEmptyLine) {
    CRTSPResponseParser parser;
    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK\r\nContent-Length: 5\r\n", RTSPMethod::Describe));
    EXPECT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 5\r\n", RTSPMethod::Options));
    EXPECT_EQ(parser.cseq, 5u);
    // A shorter body than announced is what is there.
    EXPECT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nContent-Length: 500\r\n\r\nv=0\r\n", RTSPMethod::Describe));
    EXPECT_EQ(parser.contentLength, 500u);
}

struct SdpCase {
    const char* body;
    bool ok;
};

class SdpLineTest : public ::testing::TestWithParam<SdpCase> {};

TEST_P(SdpLineTest, AcceptsOrRefuses) {
    CSDPResponseParser sdp;
    EXPECT_EQ(sdp.Parse(GetParam().body), GetParam().ok) << GetParam().body;
}

INSTANTIATE_TEST_SUITE_P(
    Sdp, SdpLineTest,
    ::testing::Values(SdpCase{"", true}, SdpCase{"\r\n\r\n", true}, SdpCase{"v=0\r\nx=anything\r\n", true},
                      SdpCase{"c=IN IP6 ::1", true}, SdpCase{"c=in ip4 1.2.3.4", false},
                      SdpCase{"c=IN IP4", false}, SdpCase{"c=IN IPX 1.2.3.4", false},
                      SdpCase{"c=IN IP4 /16", false}, SdpCase{"m=", false}, SdpCase{"m=video", true},
                      SdpCase{"a=fmtp:96 x", false},  // no media yet
                      SdpCase{"m=audio 0 RTP/AVP 0\na=fmtp:0 x", true}, SdpCase{"a=rtpmap:96", false},
                      SdpCase{"a=control:", false}, SdpCase{"a=control:*", true},
                      SdpCase{"m=video 0 RTP/AVP 96\na=fmtp:96 sprop-parameter-sets=Z0IAH5WoFAFuQA==", false},
                      SdpCase{"m=video 0 RTP/AVP 96\na=fmtp:96 sprop-parameter-sets=Z0IA*,aM48gA==", false},
                      SdpCase{"m=video 0 RTP/AVP 96\na=fmtp:96 config=", false}));

TEST(Sdp, LinesEndWithCrLfOrLfAlone) {
    CSDPResponseParser sdp;
    ASSERT_TRUE(sdp.Parse("m=video 0 RTP/AVP 96\na=control:a\r\r\nm=audio 1 RTP/AVP 0\ra=control:b"));
    EXPECT_EQ(sdp.media[0].control, "a");
    EXPECT_EQ(sdp.media[1].control, "b");
}

TEST(Sdp, UnknownMediaKeepsThePreviousKind) {
    CSDPResponseParser sdp;
    ASSERT_TRUE(sdp.Parse("m=video 0 RTP/AVP 96\r\na=control:v\r\nm=text 0 RTP/AVP 98\r\na=control:t\r\n"
                          "m=application 7 RTP/AVP 107\r\na=control:d\r\n"));
    EXPECT_EQ(sdp.media[0].control, "t");
    EXPECT_EQ(sdp.media[0].protocol, "RTP/AVP");
    EXPECT_EQ(sdp.media[2].control, "d");
    EXPECT_EQ(sdp.media[2].port, 7u);
}

TEST(Sdp, Mpeg4ConfigIsHexadecimalUnlessItHasPadding) {
    CSDPResponseParser sdp;
    ASSERT_TRUE(sdp.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 profile-level-id=1;config=000001B0F5\r\n"));
    EXPECT_EQ(sdp.codecConfig.config, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB0, 0xF5}));
    ASSERT_TRUE(sdp.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 config=AAABsA==\r\n"));
    EXPECT_EQ(sdp.codecConfig.config, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB0}));
    EXPECT_EQ(CSDPResponseParser::HexDecode("0g1", 256), (std::vector<uint8_t>{0x00, 0x01}));  // g counts as 0
    EXPECT_EQ(CSDPResponseParser::HexDecode(std::string(512, 'a'), 256).size(), 256u);
    EXPECT_TRUE(CSDPResponseParser::HexDecode(std::string(513, 'a'), 256).empty());
}

TEST(Sdp, ParameterSetsAboveTheLimitFail) {
    CSDPResponseParser sdp;
    const std::string big(344, 'A');  // 258 bytes
    EXPECT_FALSE(sdp.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=" + big + ",aM48gA==\r\n"));
    EXPECT_TRUE(sdp.codecConfig.sps.empty());
    EXPECT_EQ(sdp.codecConfig.pps.size(), 4u);
}
