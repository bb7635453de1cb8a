// Construction of a handle's state from the constructor's text.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "synth/synth.hpp"

namespace synth::protocol {
namespace {

constexpr std::string_view kSpec =
    R"({"seed":7,"bars":2,"start_price":100.0,"regimes":[["trend",2,0.0,0.01]],)"
    R"("microstructure":[3,5.0,1.0]})";

// Every member of the white space set, as UTF-8.
const char* const kSpaces[] = {
    "\t",           "\n",           "\v",           "\f",           "\r",           " ",
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80",
};

class EverySpace : public ::testing::TestWithParam<const char*> {};

TEST_P(EverySpace, IsTrimmedFromBothEnds) {
    const std::string space = GetParam();
    auto empty = open_state(space + "{}" + space + space);
    ASSERT_TRUE(empty.ok()) << empty.error().render();
    EXPECT_FALSE(empty.value().spec.has_value());

    auto full = open_state(space + space + std::string(kSpec) + space);
    ASSERT_TRUE(full.ok()) << full.error().render();
    EXPECT_TRUE(full.value().spec.has_value());
}

INSTANTIATE_TEST_SUITE_P(WhiteSpace, EverySpace, ::testing::ValuesIn(kSpaces));

struct Failure {
    const char* name;
    std::string text;
    std::string error;
};

class OpenStateFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(OpenStateFailure, ReportsTheRenderedError) {
    auto opened = open_state(GetParam().text);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().render(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, OpenStateFailure,
    ::testing::Values(
        // Only the exact two characters mean "no spec".
        Failure{"spaced_braces", "{ }", "parse: missing field `seed` at line 1 column 3"},
        Failure{"braces_twice", "{}{}", "parse: missing field `seed` at line 1 column 2"},
        // Positions count from the trimmed text.
        Failure{"leading_lines", "\n\n\xE3\x80\x80{\"x\":1}",
                "parse: unknown field `x`, expected one of `seed`, `bars`, `start_price`, "
                "`start_ts`, `bar_secs`, `regimes`, `microstructure` at line 1 column 4"},
        Failure{"second_value", std::string(" ") + std::string(kSpec) + " 1",
                "parse: trailing characters at line 1 column " + std::to_string(kSpec.size() + 2)},
        // Characters outside the set are not trimmed.
        Failure{"zero_width_space", "\xE2\x80\x8B{}", "parse: expected value at line 1 column 1"},
        Failure{"byte_order_mark", "\xEF\xBB\xBF{}", "parse: expected value at line 1 column 1"},
        Failure{"word_joiner", "{}\xE2\x81\xA0", "parse: missing field `seed` at line 1 column 2"},
        Failure{"invalid_spec",
                R"({"seed":1,"bars":0,"start_price":1.0,"regimes":[],)"
                R"("microstructure":[1,1.0,1.0]})",
                "bad spec: bars must be > 0"}),
    [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

TEST(OpenState, EmptyTextsGiveNoSpec) {
    for (std::string_view text : {"", "   ", "{}", " \t\n{}\n\t "}) {
        auto opened = open_state(text);
        ASSERT_TRUE(opened.ok()) << text;
        EXPECT_FALSE(opened.value().spec.has_value()) << text;
    }
}

TEST(OpenState, KeepsTheDecodedSpec) {
    auto opened = open_state(kSpec);
    ASSERT_TRUE(opened.ok());
    ASSERT_TRUE(opened.value().spec.has_value());
    const spec::GenSpec& spec = *opened.value().spec;
    EXPECT_EQ(spec.seed, 7u);
    EXPECT_EQ(spec.bars, 2u);
    EXPECT_EQ(spec.microstructure.book_depth, 3u);
    EXPECT_EQ(spec.start_ts, spec::kDefaultStartTs);
}

}  // namespace
}  // namespace synth::protocol
