#include "support/json_writer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using synth::json::append_string;
using synth::json::Writer;

struct StringCase {
    std::string input;
    std::string expected;
};

class AppendStringTest : public ::testing::TestWithParam<StringCase> {};

TEST_P(AppendStringTest, QuotesAndEscapes) {
    std::string out = "x";  // appends, never replaces
    append_string(out, GetParam().input);
    EXPECT_EQ(out, "x" + GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AppendStringTest,
    ::testing::Values(StringCase{"", "\"\""}, StringCase{"plain text", "\"plain text\""},
                      StringCase{"a\"b", "\"a\\\"b\""}, StringCase{"a\\b", "\"a\\\\b\""},
                      StringCase{"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\""},
                      StringCase{"\x01", "\"\\u0001\""}, StringCase{"\x0b", "\"\\u000b\""},
                      StringCase{"\x1f", "\"\\u001f\""},
                      StringCase{std::string("a\0b", 3), "\"a\\u0000b\""},
                      StringCase{"a/b", "\"a/b\""}, StringCase{"\x7f", "\"\x7f\""},
                      StringCase{"\xc3\xa9\xe2\x82\xac", "\"\xc3\xa9\xe2\x82\xac\""},
                      StringCase{"\x20", "\" \""}, StringCase{"ab\ncd\"", "\"ab\\ncd\\\"\""}));

TEST(WriterTest, CompactLayoutWithSeparators) {
    Writer w;
    w.begin_object()
        .key("a")
        .i64(-9223372036854775807LL - 1)
        .key("b")
        .begin_array()
        .u64(18446744073709551615ULL)
        .f64(100.0)
        .null()
        .boolean(true)
        .string("s")
        .begin_object()
        .end_object()
        .begin_array()
        .end_array()
        .end_array()
        .key("c")
        .raw("{\"x\":1}")
        .key("d")
        .f64(-0.0)
        .end_object();
    EXPECT_EQ(
        w.take(),
        "{\"a\":-9223372036854775808,\"b\":[18446744073709551615,100.0,null,true,\"s\",{},[]],"
        "\"c\":{\"x\":1},\"d\":-0.0}");
}

TEST(WriterTest, EmptyContainersAndTopLevelArray) {
    Writer w;
    w.begin_array()
        .begin_array()
        .end_array()
        .begin_object()
        .key("k")
        .begin_array()
        .end_array()
        .end_object()
        .end_array();
    EXPECT_EQ(w.text(), "[[],{\"k\":[]}]");
}

}  // namespace
