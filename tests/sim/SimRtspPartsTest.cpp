// The pieces of the simulated camera's RTSP side that need no media process:
// the control line format, stream configuration checks, path rules and the
// request log.
#include <gtest/gtest.h>

#include <thread>

#include "sim/rtsp/ControlLine.h"
#include "sim/rtsp/RtspRequestLog.h"
#include "sim/rtsp/RtspStreamConfig.h"

namespace quarnel::sim {
namespace {

TEST(ControlLine, ValuesSurviveTheLine) {
    const std::string values[] = {
        "",
        "two words",
        "key=value;and=more",                         // '=' inside a value
        "100%",                                       // the escape character itself
        "Digest username=\"a\", uri=\"rtsp://h/x\"",  // quotes and commas
        "line\r\nbreak\ttab",
        std::string("nul\0byte", 8),
        "\xC3\xA9t\xC3\xA9",  // UTF-8
    };
    for (const auto& value : values) {
        ControlLine line("request");
        line.Set("authorization", value).Set("cseq", 7u);
        std::string text = line.Format();
        ASSERT_EQ(text.find('\n'), text.size() - 1) << "one line only";
        auto back = ControlLine::Parse(text);
        ASSERT_TRUE(back) << text;
        EXPECT_EQ(back->Verb(), "request");
        EXPECT_EQ(back->Get("authorization"), value);
        EXPECT_EQ(back->GetNumber("cseq"), 7u);
    }
    // Numbers are decimal and below 2^32.
    auto numbers = ControlLine::Parse("ok a=4294967295 b=4294967296 c=12x d= e=-1");
    ASSERT_TRUE(numbers);
    EXPECT_EQ(numbers->GetNumber("a"), 4294967295u);
    for (const char* key : {"b", "c", "d", "e", "absent"}) EXPECT_FALSE(numbers->GetNumber(key)) << key;
}

TEST(ControlLine, RejectsMalformedLines) {
    const char* bad[] = {
        "\r\n",          // nothing
        "verb novalue",  // field without '='
        "verb =x",       // empty key
        "verb k=%4",     // cut escape
        "verb k=%zz",    // not hex
        "ve;rb k=v",     // verb not a word
        "verb k!=v",     // key not a word
    };
    for (const char* text : bad) EXPECT_FALSE(ControlLine::Parse(text)) << text;
}

// Odd sizes and frame rates are refused where a set or SetStream meets them.
TEST(RtspStreamConfig, ValidateNamesWhatIsWrong) {
    struct Case {
        RtspCodec codec;
        unsigned width, height, fps, bitrate, gop;
        const char* complaint;  // nullptr: valid
    };
    const Case cases[] = {
        {RtspCodec::H264, 1920, 1080, 30, 4096, 60, nullptr},
        {RtspCodec::JPEG, 640, 480, 10, 16, 1, nullptr},
        {RtspCodec::H264, 8192, 480, 25, 1024, 25, "8192x480"},  // too large
        {RtspCodec::JPEG, 642, 480, 10, 1024, 25, "JPEG"},       // RFC 2435: multiples of 8
        {RtspCodec::JPEG, 2048, 1536, 10, 1024, 25, "JPEG"},     // RFC 2435: at most 2040
        {RtspCodec::H264, 640, 480, 25, 8, 25, "bit rate"},
        {RtspCodec::H264, 640, 480, 25, 1024, 0, "GOP"},
    };
    for (const auto& c : cases) {
        const RtspStreamConfig config{.codec = c.codec, .width = c.width, .height = c.height, .fps = c.fps,
                                      .bitrateKbps = c.bitrate, .gop = c.gop};
        const std::string why = config.Validate();
        if (!c.complaint)
            EXPECT_EQ(why, "") << c.width << "x" << c.height;
        else
            EXPECT_NE(why.find(c.complaint), std::string::npos) << why;
    }
}

TEST(RtspStreamConfig, TravelsAsAStreamCommand) {
    const RtspStreamConfig config{.codec = RtspCodec::MPEG4, .width = 352, .height = 288, .fps = 12,
                                  .bitrateKbps = 384, .gop = 24, .jpegQuality = 70};
    ControlLine line("stream");
    config.AddTo(line);
    auto back = RtspStreamConfig::From(*ControlLine::Parse(line.Format()));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, config);

    EXPECT_FALSE(RtspStreamConfig::From(*ControlLine::Parse("stream codec=H264 width=640 height=480")));
    EXPECT_FALSE(RtspStreamConfig::From(
        *ControlLine::Parse("stream codec=VP8 width=640 height=480 fps=25 bitrate=1 gop=1 quality=1")));
}

TEST(RtspStreamConfig, MountablePaths) {
    for (const char* good : {"/1/stream0", "/video", "/a_b-c.d/e"}) EXPECT_TRUE(IsMountablePath(good)) << good;
    for (const char* bad : {"", "/", "1/stream1", "/1//stream1", "/1/stream1/", "/../x", "/a b", "/a?b", "/%41"})
        EXPECT_FALSE(IsMountablePath(bad)) << bad;
}

TEST(RtspRequestLog, WaitsFromAnIndexAndKeepsCounting) {
    RtspRequestLog log;
    RtspRequest options;
    options.method = "OPTIONS";
    log.Add(options);
    const uint64_t mark = log.NextIndex();
    EXPECT_FALSE(log.WaitFor("OPTIONS", 0, mark)) << "an older request does not count";

    std::thread later([&] {
        RtspRequest teardown;
        teardown.method = "TEARDOWN";
        teardown.authorization = "  Digest username=\"x\"";
        log.Add(teardown);
    });
    auto seen = log.WaitFor("TEARDOWN", 2000, mark);
    later.join();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->index, 1u);
    EXPECT_EQ(seen->AuthScheme(), "Digest");

    for (size_t i = 0; i < RtspRequestLog::kCapacity + 10; ++i) log.Add(options);
    EXPECT_EQ(log.Requests().size(), RtspRequestLog::kCapacity);
    EXPECT_EQ(log.Requests().front().index, 12u);
    EXPECT_EQ(log.Count("OPTIONS"), RtspRequestLog::kCapacity + 11);
}

}  // namespace
}  // namespace quarnel::sim
