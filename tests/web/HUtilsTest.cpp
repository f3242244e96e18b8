#include <gtest/gtest.h>

#include "web/HUtils.h"

using namespace dravnel::HUtils;

// One entry looked up three ways: its value, the number GetNumericValue reads
// from it through ParseDecimal, and the parts GetListValue cuts from it at
// blanks (shown joined by ',').
TEST(HUtils, LooksUpAValueAsTextNumberAndList) {
    const struct {
        const char* text;
        const char* key;
        const char* separator;
        const char* terminators;
        const char* value;
        uint32_t number;
        const char* list;
    } cases[] = {
        {"a=1\r\nb=\r\nb=2", "b", "=", "&\r\n", "2", 2, "2"},        // empty value skipped
        {"ch1_strm1_codec=H264", "codec", "=", "&\r\n", "", 0, ""},  // the name must match whole
        {"x = 5&y=6", "x", "=", "&\r\n", " 5", 0, "5"},              // value keeps its blank
        {"res=200&http_port=8080", "http_port", "=", "&\r\n", "8080", 8080, "8080"},
        {"http_port=80a", "http_port", "=", "&\r\n", "80a", 0, "80a"},
        {"n=-5", "n", "=", "&", "-5", 0, "-5"},
        {"n=4294967301", "n", "=", "&", "4294967301", 5, "4294967301"},  // wraps like 32-bit arithmetic
        {"a=b=c", "a", "=", "&", "b=c", 0, "b=c"},                       // first separator only
        {"key", "key", "=", "&", "", 0, ""},                             // no separator
        {"key=", "key", "=", "&", "", 0, ""},                            // value at the very end
        {"key&other=1&key=9", "key", "=", "&", "9", 9, "9"},             // separator in a later entry
        {"Content-Length: 12\r\n\r\n", "Content-Length", ": ", "\r\n", "12", 12, "12"},
        {"OPTIONS=ALARM_IN  PTZ \n", "OPTIONS", "=", "\r\n", "ALARM_IN  PTZ ", 0, "ALARM_IN,PTZ"},
        {"OPTIONS= PTZ", "OPTIONS", "=", "\r\n", " PTZ", 0, "PTZ"},
        {"a=1", "", "=", "&", "", 0, ""},
        {"a=1", "a", "", "&", "", 0, ""},
        {"a=1", "a", "=", "", "", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.key);
        EXPECT_EQ(GetValue(c.text, c.key, c.separator, c.terminators), c.value);
        EXPECT_EQ(ParseDecimal(c.value), c.number);
        EXPECT_EQ(GetNumericValue(c.text, c.key, c.separator, c.terminators), c.number);
        std::string joined;
        for (const auto& part : GetListValue(c.text, c.key, c.separator, c.terminators, " "))
            joined += (joined.empty() ? "" : ",") + part;
        EXPECT_EQ(joined, c.list);
    }
    EXPECT_TRUE(GetListValue("a=1|2", "a", "=", "&", "").empty());
}

TEST(HUtils, TextHelpers) {
    EXPECT_EQ(ParseDecimal(" 5"), 0u);
    EXPECT_EQ(ParseDecimal16("70000"), 4464u);  // wraps like 16-bit arithmetic
    EXPECT_EQ(ParseDecimal16("554"), 554u);
    // Empty parts count, nothing follows a final delimiter.
    EXPECT_EQ(Split("a,,b,", ','), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(Split(",a", ','), (std::vector<std::string>{"", "a"}));
    EXPECT_TRUE(Split("", ',').empty());
    EXPECT_EQ(Trim(" \t a b \t"), "a b");
    EXPECT_EQ(Trim(" \t "), "");
    EXPECT_EQ(Format("/video/video.php?app=get&ch=%u", 1u), "/video/video.php?app=get&ch=1");
}
