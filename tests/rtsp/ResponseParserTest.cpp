// Replies and their session description.
#include <gtest/gtest.h>

#include <string>

#include "ClientFixture.h"
#include "rtsp/CRTSPResponseParser.h"
#include "rtsp/CSDPResponseParser.h"
#include "web/HUtils.h"

using namespace dravnel;
using dravnel::test::kCameraSdp;

namespace {

// What an SDP body leaves: per media kind (video, audio, data) protocol,
// connection address, control and rtpmap; the SPS and PPS sizes; the config.
std::string Records(const CSDPResponseParser& sdp) {
    std::string out;
    for (const auto& m : sdp.media)
        out += m.protocol + "," + m.connectionAddress + "," + m.control + "," + m.rtpmap + " ";
    out += std::to_string(sdp.codecConfig.sps.size()) + "," + std::to_string(sdp.codecConfig.pps.size()) + ",";
    for (uint8_t byte : sdp.codecConfig.config) out += HUtils::Format("%02X", byte);
    return out;
}

const std::string kNoRecords = ",,, ,,, ,,, 0,0,";

}  // namespace

// What a reply leaves in the parser: status code, CSeq, session id and
// time-out, the challenge's scheme, realm and nonce, content base. Each
// parser starts with session "old", time-out 7 and base "rtsp://old/".
TEST(Reply, Fields) {
    const std::string ok = "RTSP/1.0 200 OK\r\n", challenge = "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: ";
    const struct {
        std::string reply;
        bool ok;
        const char* fields;
    } cases[] = {
        // Only 200 and 401 pass; the code saturates.
        {ok + "CSeq: 1", true, "200 1 old;7 0:: rtsp://old/"},
        {"RTSP/1.0 401 Unauthorized\r\nCSeq: 1", true, "401 1 old;7 0:: rtsp://old/"},
        {"RTSP/1.0 404 Not Found\r\nCSeq: 1", false, "404 0 old;7 0:: rtsp://old/"},
        {"RTSP/1.0 OK\r\nCSeq: 1", false, "0 0 old;7 0:: rtsp://old/"},
        {"RTSP/1.0 4294967496 x\r\nCSeq: 1", false, "4294967295 0 old;7 0:: rtsp://old/"},
        // Header names match in any case, unknown ones are ignored; CSeq
        // needs a number, Content-Base an RTSP URL (kept as written, trimmed).
        {ok + "cseq: 3\r\nDate: today\r\nX-Whatever: 1\r\n:odd\r\nno colon\r\nContent-Type: Application/SDP\r\n"
              "Content-Base: rtsp://10.0.0.5/Live/ ",
         true, "200 3 old;7 0:: rtsp://10.0.0.5/Live/"},
        {ok + "CSeq: x", false, "200 0 old;7 0:: rtsp://old/"},
        {ok + " CSeq : 4", false, "200 0 old;7 0:: rtsp://old/"},
        {ok + "Content-Base: /live/", false, "200 0 old;7 0:: "},
        {ok + "CSeq: 5\r\nContent-Length: 0", true, "200 5 old;7 0:: rtsp://old/"},  // an empty description
        // Time-out 0 stands for 30; without one the last is kept.
        {ok + "Session: 12345678;timeout=60", true, "200 0 12345678;60 0:: rtsp://old/"},
        {ok + "Session: 12345678;timeout=0", true, "200 0 12345678;30 0:: rtsp://old/"},
        {ok + "Session: 12345678", true, "200 0 12345678;7 0:: rtsp://old/"},
        {ok + "Session: 12345678; timeout=20", true, "200 0 12345678;20 0:: rtsp://old/"},
        {ok + "Session: 12345678;foo", false, "200 0 ;7 0:: rtsp://old/"},
        {ok + "Session:12345678", false, "200 0 ;7 0:: rtsp://old/"},  // the value needs its blank
        {ok + "session: 12345678", false, "200 0 ;7 0:: rtsp://old/"},
        // Challenges; the last one decides.
        {challenge + "Digest realm=\"x\", nonce=\"y\"", true, "401 0 old;7 2:x:y rtsp://old/"},
        {challenge + "Digest realm=\"x\"", false, "401 0 old;7 2:x: rtsp://old/"},
        {challenge + "Basic realm=\"cam\"", true, "401 0 old;7 1:cam: rtsp://old/"},
        {challenge + "NTLM", false, "401 0 old;7 0:: rtsp://old/"},  // no blank after the scheme
        {challenge + "NTLM x", true, "401 0 old;7 0:: rtsp://old/"},
        {challenge + "digest realm=\"x\", nonce=\"y\"", true, "401 0 old;7 0:: rtsp://old/"},
        {"RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate:Digest realm=\"x\", nonce=\"y\"", false,
         "401 0 old;7 0:: rtsp://old/"},
        {challenge + "Basic realm=\"a\"\r\nWWW-Authenticate: Digest realm=\"b\", nonce=\"c\"", true,
         "401 0 old;7 2:b:c rtsp://old/"},
    };
    for (const auto& c : cases) {
        CRTSPResponseParser parser;
        parser.sessionId = "old";
        parser.sessionTimeoutSec = 7;
        parser.contentBase = "rtsp://old/";
        EXPECT_EQ(parser.Parse(c.reply + "\r\n\r\n", RTSPMethod::Describe), c.ok) << c.reply;
        EXPECT_EQ(HUtils::Format("%u %u %s;%u %u:%s:%s %s", parser.statusCode, parser.cseq, parser.sessionId.c_str(),
                                 parser.sessionTimeoutSec, static_cast<unsigned>(parser.authScheme),
                                 parser.realm.c_str(), parser.nonce.c_str(), parser.contentBase.c_str()),
                  c.fields)
            << c.reply;
    }
}

// Lines end with CR LF, LF or CR alone. An unknown media keeps the kind
// before it, so its control overwrites that of the video. An MPEG-4 config is
// hexadecimal unless it has base64 padding.
TEST(Sdp, Records) {
    const struct {
        std::string body;
        bool ok;
        std::string records;
    } cases[] = {
        // Session-level lines hold nothing; "/16" is no part of the address.
        {kCameraSdp, true, "RTP/AVP,239.0.0.1,trackID=1,H264/90000 RTP/AVP,,trackID=2, ,,, 10,4,"},
        {"v=0\r\nx=anything\r\nc=IN IP6 ::1\r\na=control:*", true, kNoRecords},
        {"c=in ip4 1.2.3.4", false, kNoRecords},  // "IN" exactly
        {"c=IN IP4 /16", false, kNoRecords},
        {"a=fmtp:96 x", false, kNoRecords},  // no media yet
        {"m=audio 0 RTP/AVP 0\na=fmtp:0 x", true, ",,, RTP/AVP,,, ,,, 0,0,"},
        {"m=video 0 RTP/AVP 96\na=fmtp:96 sprop-parameter-sets=Z0IAH5WoFAFuQA==", false, "RTP/AVP,,, ,,, ,,, 0,0,"},
        {"m=video 0 RTP/AVP 96\na=fmtp:96 sprop-parameter-sets=Z0IA*,aM48gA==", false, "RTP/AVP,,, ,,, ,,, 0,4,"},
        {"m=video 0 RTP/AVP 96\na=fmtp:96 config=", false, "RTP/AVP,,, ,,, ,,, 0,0,"},
        // An SPS of 258 bytes, above the 256 a parameter set may decode to.
        {"m=video 0 RTP/AVP 96\na=fmtp:96 sprop-parameter-sets=" + std::string(344, 'A') + ",aM48gA==", false,
         "RTP/AVP,,, ,,, ,,, 0,4,"},
        {"m=video 0 RTP/AVP 96\na=control:v\r\r\nm=text 0 RTP/AVP 98\ra=control:t\r\nm=application 7 RTP/AVP 107\r\n"
         "a=control:d",
         true, "RTP/AVP,,t, ,,, RTP/AVP,,d, 0,0,"},
        {"m=video 0 RTP/AVP 96\r\na=fmtp:96 profile-level-id=1;config=000001B0F5\r\n", true,
         "RTP/AVP,,, ,,, ,,, 0,0,000001B0F5"},
        {"m=video 0 RTP/AVP 96\r\na=fmtp:96 config=AAABsA==\r\n", true, "RTP/AVP,,, ,,, ,,, 0,0,000001B0"},
    };
    for (const auto& c : cases) {
        CSDPResponseParser sdp;
        EXPECT_EQ(sdp.Parse(c.body), c.ok) << c.body;
        EXPECT_EQ(Records(sdp), c.records) << c.body;
    }
    EXPECT_EQ(CSDPResponseParser::HexDecode("0g1", 256), (std::vector<uint8_t>{0x00, 0x01}));  // g counts as 0
    EXPECT_TRUE(CSDPResponseParser::HexDecode(std::string(513, 'a'), 256).empty());
}
