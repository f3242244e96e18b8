#include <gtest/gtest.h>

#include "web/HUtils.h"

using namespace dravnel::HUtils;

struct ValueCase {
    const char* text;
    const char* key;
    const char* separator;
    const char* terminators;
    const char* value;
};

class GetValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(GetValueTest, FindsTheFirstNonEmptyValueOfTheWholeName) {
    const auto c = GetParam();
    EXPECT_EQ(GetValue(c.text, c.key, c.separator, c.terminators), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    HUtils, GetValueTest,
    ::testing::Values(
        ValueCase{"a=1\r\nb=\r\nb=2", "b", "=", "&\r\n", "2"},          // empty value skipped
        ValueCase{"ch1_strm1_codec=H264", "codec", "=", "&\r\n", ""},     // the name must match whole
        ValueCase{"x = 5&y=6", "x", "=", "&\r\n", " 5"},                  // value keeps its blank
        ValueCase{"res=200&rtsp_port=554", "rtsp_port", "=", "&\r\n", "554"},
        ValueCase{"a=b=c", "a", "=", "&", "b=c"},                         // first separator only
        ValueCase{"key", "key", "=", "&", ""},                            // no separator
        ValueCase{"key=", "key", "=", "&", ""},                           // value at the very end
        ValueCase{"key&other=1&key=9", "key", "=", "&", "9"},           // separator in a later entry
        ValueCase{"Content-Length: 12\r\n\r\n", "Content-Length", ": ", "\r\n", "12"},
        ValueCase{"a=1", "", "=", "&", ""}, ValueCase{"a=1", "a", "", "&", ""},
        ValueCase{"a=1", "a", "=", "", ""}));

TEST(HUtils, ParseDecimalTakesDigitsOnly) {
    EXPECT_EQ(ParseDecimal("8080"), 8080u);
    EXPECT_EQ(ParseDecimal("80a"), 0u);
    EXPECT_EQ(ParseDecimal(""), 0u);
    EXPECT_EQ(ParseDecimal(" 5"), 0u);
    EXPECT_EQ(ParseDecimal("-5"), 0u);
    EXPECT_EQ(ParseDecimal("4294967301"), 5u);  // wraps like 32-bit arithmetic
    EXPECT_EQ(ParseDecimal16("70000"), 4464u);  // wraps like 16-bit arithmetic
    EXPECT_EQ(ParseDecimal16("554"), 554u);
    EXPECT_EQ(GetNumericValue("x=12&y=z", "x", "=", "&"), 12u);
    EXPECT_EQ(GetNumericValue("x=12&y=z", "y", "=", "&"), 0u);
}

TEST(HUtils, GetListValueDropsEmptyParts) {
    EXPECT_EQ(GetListValue("OPTIONS=ALARM_IN  PTZ \n", "OPTIONS", "=", "\r\n", " "),
              (std::vector<std::string>{"ALARM_IN", "PTZ"}));
    EXPECT_EQ(GetListValue("OPTIONS= PTZ", "OPTIONS", "=", "\r\n", " "), std::vector<std::string>{"PTZ"});
    EXPECT_EQ(GetListValue("ch1_strm1_fps_list=5|10|15", "ch1_strm1_fps_list", "=", "&\r\n", "|"),
              (std::vector<std::string>{"5", "10", "15"}));
    EXPECT_TRUE(GetListValue("a=1|2", "a", "=", "&", "").empty());
}

TEST(HUtils, SplitKeepsEmptyPartsButNothingAfterAFinalDelimiter) {
    EXPECT_EQ(Split("a,,b,", ','), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(Split(",a", ','), (std::vector<std::string>{"", "a"}));
    EXPECT_TRUE(Split("", ',').empty());
}

TEST(HUtils, TextHelpers) {
    EXPECT_EQ(Trim(" \t a b \t"), "a b");
    EXPECT_EQ(Trim(" \t "), "");
    EXPECT_EQ(Format("/video/video.php?app=get&ch=%u", 1u), "/video/video.php?app=get&ch=1");
    EXPECT_EQ(Format("%s", std::string(10000, 'y').c_str()).size(), 10000u);
}
