// The value decoder on trees the text form cannot express, and the description
// of offending values shared by both decoders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "json/reader.hpp"
#include "spec/decode.hpp"
#include "spec/describe.hpp"

namespace synth::spec {
namespace {

using json::JsonArray;
using json::JsonObject;
using json::JsonValue;

struct DescribeRow {
    const char* name;
    std::string input;
    std::string expected;
};

const DescribeRow kDescribeRows[] = {
    {"plain", "abc", "string \"abc\""},
    {"quote_and_backslash", "a\"b\\", "string \"a\\\"b\\\\\""},
    {"named_controls", "\t\r\n", "string \"\\t\\r\\n\""},
    {"nul", std::string("a\0b", 3), "string \"a\\0b\""},
    {"other_controls", "\x01\x08\x0b\x0c\x1b\x1f",
     "string \"\\u{1}\\u{8}\\u{b}\\u{c}\\u{1b}\\u{1f}\""},
    {"delete", "\x7f", "string \"\\u{7f}\""},
    {"printable_ascii_kept", " /~'`", "string \" /~'`\""},
    {"c1_controls", "\xc2\x80\xc2\x85\xc2\x9f", "string \"\\u{80}\\u{85}\\u{9f}\""},
    {"latin1_kept", "\xc2\xa0\xc3\xa9", "string \"\xc2\xa0\xc3\xa9\""},
    {"invisible_format_characters", "\xc2\xad\xe2\x80\x8b\xe2\x80\xae\xe2\x81\xa6\xef\xbb\xbf",
     "string \"\\u{ad}\\u{200b}\\u{202e}\\u{2066}\\u{feff}\""},
    {"line_separators", "\xe2\x80\xa8\xe2\x80\xa9", "string \"\\u{2028}\\u{2029}\""},
    {"cjk_and_astral_kept", "\xe4\xb8\xad\xf0\x9f\x98\x80",
     "string \"\xe4\xb8\xad\xf0\x9f\x98\x80\""},
    // Not produced by the reader, but the message must stay valid UTF-8.
    {"stray_bytes_replaced", "a\xff\xc3", "string \"a\xef\xbf\xbd\xef\xbf\xbd\""},
    {"truncated_sequence_replaced", "\xe2\x80", "string \"\xef\xbf\xbd\xef\xbf\xbd\""},
};

class DescribeStringTest : public ::testing::TestWithParam<DescribeRow> {};

TEST_P(DescribeStringTest, Quotes) {
    EXPECT_EQ(describe_string(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, DescribeStringTest, ::testing::ValuesIn(kDescribeRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DescribeValueTest, EveryKind) {
    const struct {
        JsonValue value;
        const char* expected;
    } rows[] = {
        {JsonValue{}, "null"},
        {JsonValue{true}, "boolean `true`"},
        {JsonValue{false}, "boolean `false`"},
        {JsonValue{std::uint64_t{18446744073709551615ULL}}, "integer `18446744073709551615`"},
        {JsonValue{std::numeric_limits<std::int64_t>::min()}, "integer `-9223372036854775808`"},
        {JsonValue{5.0}, "floating point `5.0`"},
        {JsonValue{-0.0}, "floating point `-0.0`"},
        {JsonValue{1e16}, "floating point `1e+16`"},
        {JsonValue{1e-7}, "floating point `1e-7`"},
        {JsonValue{std::string("x")}, "string \"x\""},
        {JsonValue{JsonArray{}}, "sequence"},
        {JsonValue{JsonObject{}}, "map"},
    };
    for (const auto& row : rows) EXPECT_EQ(describe_value(row.value), row.expected);
}

// A tree built by hand may hold what the reader never produces.
JsonValue spec_with(std::string_view key, JsonValue value) {
    auto tree =
        json::read(R"({"seed":1,"bars":10,"start_price":100.0,"regimes":[["trend",10,0.001,0.02]],)"
                   R"("microstructure":[5,2.0,3.0]})");
    JsonObject& obj = std::get<JsonObject>(tree.value().data);
    obj.insert_or_assign(std::string(key), std::move(value));
    return std::move(tree).value();
}

TEST(SpecFromValueTest, NonNegativeSignedIntegerIsAnInteger) {
    const auto seed = spec_from_value(spec_with("seed", JsonValue{std::int64_t{42}}));
    ASSERT_TRUE(seed.ok()) << seed.error().message;
    EXPECT_EQ(seed.value().seed, 42u);
    const auto ts = spec_from_value(spec_with("start_ts", JsonValue{std::int64_t{-7}}));
    ASSERT_TRUE(ts.ok()) << ts.error().message;
    EXPECT_EQ(ts.value().start_ts, -7);
    const auto bars = spec_from_value(spec_with("bars", JsonValue{std::int64_t{-7}}));
    ASSERT_FALSE(bars.ok());
    EXPECT_EQ(bars.error().message, "invalid value: integer `-7`, expected usize");
}

TEST(SpecFromValueTest, NonFiniteFloatIsLeftToValidation) {
    const auto spec = spec_from_value(
        spec_with("start_price", JsonValue{std::numeric_limits<double>::quiet_NaN()}));
    ASSERT_TRUE(spec.ok()) << spec.error().message;
    EXPECT_TRUE(std::isnan(spec.value().start_price));
}

TEST(SpecFromValueTest, RepeatedKeyKeepsLastValue) {
    const auto tree = json::read(
        R"({"seed":1,"bars":10,"seed":2,"start_price":100.0,"regimes":[["trend",10,0.001,0.02]],)"
        R"("microstructure":{"book_depth":5,"book_depth":6,"spread_bps":2.0,"trade_rate":3.0}})");
    ASSERT_TRUE(tree.ok()) << tree.error().render();
    const auto spec = spec_from_value(tree.value());
    ASSERT_TRUE(spec.ok()) << spec.error().message;
    EXPECT_EQ(spec.value().seed, 2u);
    EXPECT_EQ(spec.value().microstructure.book_depth, 6u);
}

TEST(SpecFromValueTest, ErrorsCarryNoPosition) {
    const auto spec = spec_from_value(JsonValue{JsonArray{}});
    ASSERT_FALSE(spec.ok());
    EXPECT_EQ(spec.error().kind, SynthError::Kind::Parse);
    EXPECT_EQ(spec.error().render(),
              "parse: invalid length 0, expected struct GenSpec with 7 elements");
}

}  // namespace
}  // namespace synth::spec
