// The reader: every input either fails with an exact rendered error (message and
// position) or yields a tree, shown here in a compact tagged form.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "json/number_format.hpp"
#include "json/reader.hpp"

namespace synth::json {
namespace {

// u/i/f tag the number kinds; strings show bytes outside printable ASCII as \xHH.
void dump(const JsonValue& v, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    auto dump_string = [&](const std::string& s) {
        out.push_back('"');
        for (unsigned char c : s) {
            if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
                out.append("\\x").push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 0xF]);
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
        out.push_back('"');
    };
    if (v.is_null()) {
        out.append("null");
    } else if (const bool* b = v.as_bool()) {
        out.append(*b ? "true" : "false");
    } else if (const std::uint64_t* u = v.as_u64()) {
        out.push_back('u');
        append_u64(out, *u);
    } else if (const std::int64_t* i = v.as_i64()) {
        out.push_back('i');
        append_i64(out, *i);
    } else if (const double* d = v.as_f64()) {
        out.push_back('f');
        append_f64(out, *d);
    } else if (const std::string* s = v.as_string()) {
        dump_string(*s);
    } else if (const JsonArray* a = v.as_array()) {
        out.push_back('[');
        for (std::size_t k = 0; k < a->size(); ++k) {
            if (k != 0) out.push_back(',');
            dump((*a)[k], out);
        }
        out.push_back(']');
    } else {
        out.push_back('{');
        bool first = true;
        for (const auto& [key, member] : *v.as_object()) {
            if (!first) out.push_back(',');
            first = false;
            dump_string(key);
            out.push_back(':');
            dump(member, out);
        }
        out.push_back('}');
    }
}

// The rendered error, or "= " and the dumped tree.
std::string outcome(std::string_view text) {
    const auto result = read(text);
    if (!result.ok()) return result.error().render();
    std::string out = "= ";
    dump(result.value(), out);
    return out;
}

struct Row {
    std::string name;
    std::string input;
    std::string expected;
};

const std::string kCtl = "control character (\\u0000-\\u001F) found while parsing a string";

const Row kRows[] = {
    // overall
    {"empty", "", "EOF while parsing a value at line 1 column 0"},
    {"spaces", "   ", "EOF while parsing a value at line 1 column 3"},
    {"bare_word", "x", "expected value at line 1 column 1"},
    {"trailing_after_object", "{}x", "trailing characters at line 1 column 3"},
    {"trailing_after_line_feed", "{}\n x", "trailing characters at line 2 column 2"},
    {"second_value", "true false", "trailing characters at line 1 column 6"},
    {"all_whitespace_kinds", "\t\r\n 1 \t\r\n", "= u1"},
    {"form_feed_is_not_whitespace", "\f1", "expected value at line 1 column 1"},
    {"byte_order_mark", "\xef\xbb\xbf{}", "expected value at line 1 column 1"},
    {"plus", "+1", "expected value at line 1 column 1"},
    {"leading_point", ".5", "expected value at line 1 column 1"},
    {"nan", "NaN", "expected value at line 1 column 1"},
    // positions
    {"column_after_line_feeds", "[\n1,\n\n  x]", "expected value at line 4 column 3"},
    {"carriage_return_is_a_column", "[1,\r\n\r x]", "expected value at line 2 column 3"},
    {"columns_count_bytes", "[\"\xc3\xa9\", x]", "expected value at line 1 column 8"},
    {"line_feed_in_string", "\"a\nb\"", kCtl + " at line 2 column 0"},
    // literals
    {"literals", "[true,false,null]", "= [true,false,null]"},
    {"short_literal", "tru", "EOF while parsing a value at line 1 column 3"},
    {"wrong_literal_byte", "trux", "expected ident at line 1 column 4"},
    {"capital_in_literal", "nulL", "expected ident at line 1 column 4"},
    {"literal_then_letter", "falsey", "trailing characters at line 1 column 6"},
    {"literal_cut_short", "falsy", "expected ident at line 1 column 5"},
    // numbers: grammar
    {"minus_alone", "-", "EOF while parsing a value at line 1 column 1"},
    {"minus_infinity", "-Infinity", "invalid number at line 1 column 2"},
    {"leading_zero", "01", "invalid number at line 1 column 2"},
    {"minus_leading_zero", "-012", "invalid number at line 1 column 3"},
    {"point_at_end", "1.", "EOF while parsing a value at line 1 column 2"},
    {"point_then_letter", "1.x", "invalid number at line 1 column 3"},
    {"exponent_at_end", "1e", "EOF while parsing a value at line 1 column 2"},
    {"exponent_sign_at_end", "1e+", "EOF while parsing a value at line 1 column 3"},
    {"exponent_then_letter", "1ex", "invalid number at line 1 column 3"},
    {"exponent_sign_then_letter", "[1E-x]", "invalid number at line 1 column 5"},
    // numbers: kinds
    {"zero", "0", "= u0"},
    {"minus_zero_is_float", "-0", "= f-0.0"},
    {"minus_one", "-1", "= i-1"},
    {"nineteen_digits", "9999999999999999999", "= u9999999999999999999"},
    {"u64_max", "18446744073709551615", "= u18446744073709551615"},
    {"u64_max_plus_one", "18446744073709551616", "= f1.8446744073709552e+19"},
    {"twenty_nines", "99999999999999999999", "= f1e+20"},
    {"i64_min", "-9223372036854775808", "= i-9223372036854775808"},
    {"below_i64_min", "-9223372036854775809", "= f-9.223372036854776e+18"},
    {"integer_with_fraction", "5.0", "= f5.0"},
    {"capital_exponent", "[1E2,1e+2,25e-1,0.5e-0]", "= [f100.0,f100.0,f2.5,f0.5]"},
    // numbers: conversion
    {"underflow", "1e-400", "= f0.0"},
    {"negative_underflow", "-1e-400", "= f-0.0"},
    {"not_correctly_rounded", "2.7715077941825975e-163", "= f2.7715077941825978e-163"},
    {"eight_decimals_exact", "[100.12345678,0.1,9999999.99999999]",
     "= [f100.12345678,f0.1,f9999999.99999999]"},
    {"largest_double", "1.7976931348623157e308", "= f1.7976931348623157e+308"},
    {"smallest_subnormal", "4.9e-324", "= f5e-324"},
    {"exponent_too_large", "1e400", "number out of range at line 1 column 5"},
    {"exponent_too_large_in_array", "[1e400]", "number out of range at line 1 column 6"},
    {"just_past_largest", "1.8e308", "number out of range at line 1 column 7"},
    // Reading stops at the exponent digit that overflows 32 bits (the tenth).
    {"exponent_accumulator_overflow", "1.5e999999999999",
     "number out of range at line 1 column 14"},
    {"zero_with_huge_exponent", "0e999999999999", "= f0.0"},
    {"minus_zero_with_huge_exponent", "-0.0e999999999999", "= f-0.0"},
    {"huge_negative_exponent", "1e-999999999999", "= f0.0"},
    {"many_fraction_digits", "0.12345678901234567890123", "= f0.12345678901234568"},
    // strings
    {"escapes", "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "= \"\\x22\\x5c/\\x08\\x0c\\x0a\\x0d\\x09\""},
    {"unicode_escapes", "\"\\u0041\\u00e9\\u4E2D\\u0000\"",
     "= \"A\\xc3\\xa9\\xe4\\xb8\\xad\\x00\""},
    {"surrogate_pair", "\"\\ud83d\\ude00\"", "= \"\\xf0\\x9f\\x98\\x80\""},
    {"surrogate_pair_upper_case", "\"\\uD83D\\uDE00x\"", "= \"\\xf0\\x9f\\x98\\x80x\""},
    {"raw_utf8_and_delete", "\"\xc3\xa9\x7f\"", "= \"\\xc3\\xa9\\x7f\""},
    {"leading_surrogate_then_quote", "\"\\ud83d\"",
     "unexpected end of hex escape at line 1 column 8"},
    {"leading_surrogate_then_letter", "\"\\ud83dx\"",
     "unexpected end of hex escape at line 1 column 8"},
    {"leading_surrogate_then_other_escape", "\"\\ud83d\\n\"",
     "unexpected end of hex escape at line 1 column 9"},
    {"leading_then_non_trailing", "\"\\ud83d\\u0041\"",
     "lone leading surrogate in hex escape at line 1 column 13"},
    {"leading_then_leading", "\"\\ud83d\\ud83d\"",
     "lone leading surrogate in hex escape at line 1 column 13"},
    {"trailing_surrogate_alone", "\"\\ude00\"",
     "lone leading surrogate in hex escape at line 1 column 7"},
    {"leading_surrogate_at_end", "\"\\ud83d", "EOF while parsing a string at line 1 column 7"},
    {"unknown_escape", "\"\\q\"", "invalid escape at line 1 column 3"},
    {"non_hex_digit", "\"\\u123x\"", "invalid escape at line 1 column 7"},
    {"unterminated", "\"abc", "EOF while parsing a string at line 1 column 4"},
    {"end_after_backslash", "\"\\", "EOF while parsing a string at line 1 column 2"},
    {"end_inside_hex", "\"\\u12", "EOF while parsing a string at line 1 column 5"},
    {"raw_unit_separator", "\"\x1f\"", kCtl + " at line 1 column 2"},
    {"raw_tab", "[\"a\tb\"]", kCtl + " at line 1 column 4"},
    {"raw_nul", std::string("\"\0\"", 3), kCtl + " at line 1 column 2"},
    // arrays
    {"empty_arrays", "[[ ],[]]", "= [[],[]]"},
    {"array_trailing_comma", "[1,]", "trailing comma at line 1 column 4"},
    {"array_trailing_comma_spaced", "[1, \n]", "trailing comma at line 2 column 1"},
    {"array_missing_comma", "[1 2]", "expected `,` or `]` at line 1 column 4"},
    {"array_leading_comma", "[,1]", "expected value at line 1 column 2"},
    {"array_open_at_end", "[", "EOF while parsing a list at line 1 column 1"},
    {"array_element_at_end", "[1", "EOF while parsing a list at line 1 column 2"},
    {"array_comma_at_end", "[1, ", "EOF while parsing a value at line 1 column 4"},
    {"array_closed_by_brace", "[1}", "expected `,` or `]` at line 1 column 3"},
    // objects
    {"object_missing_colon", "{\"a\" 1}", "expected `:` at line 1 column 6"},
    {"object_open_at_end", "{", "EOF while parsing an object at line 1 column 1"},
    {"object_key_at_end", "{\"a\" ", "EOF while parsing an object at line 1 column 5"},
    {"object_colon_at_end", "{\"a\":", "EOF while parsing a value at line 1 column 5"},
    {"object_member_at_end", "{\"a\":1", "EOF while parsing an object at line 1 column 6"},
    {"object_comma_at_end", "{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
    {"object_trailing_comma", "{\"a\":1,}", "trailing comma at line 1 column 8"},
    {"object_number_key", "{1:2}", "key must be a string at line 1 column 2"},
    {"object_leading_comma", "{,}", "key must be a string at line 1 column 2"},
    {"object_missing_separator", "{\"a\":1 x", "expected `,` or `}` at line 1 column 8"},
    {"object_closed_by_bracket", "{\"a\":1]", "expected `,` or `}` at line 1 column 7"},
    {"repeated_key_keeps_last", "{\"a\":1,\"b\":[],\"a\":2}", "= {\"a\":u2,\"b\":[]}"},
    {"keys_in_byte_order", "{\"b\":1,\"a\":2,\"\xc3\xa9\":3,\"Z\":4,\"aa\":5,\"\":6}",
     "= {\"\":u6,\"Z\":u4,\"a\":u2,\"aa\":u5,\"b\":u1,\"\\xc3\\xa9\":u3}"},
    {"escaped_key", "{\"\\u0061\":null}", "= {\"a\":null}"},
    // nesting
    {"nesting_127", std::string(127, '[') + std::string(127, ']'),
     "= " + std::string(127, '[') + std::string(127, ']')},
    {"nesting_128", std::string(128, '['), "recursion limit exceeded at line 1 column 128"},
    {"nesting_128_object_last", std::string(127, '[') + "{",
     "recursion limit exceeded at line 1 column 128"},
    {"nesting_objects", std::string(200, '{'), "key must be a string at line 1 column 2"},
    {"nesting_budget_returned",
     "[" + std::string(126, '[') + std::string(126, ']') + "," + std::string(126, '[') +
         std::string(126, ']') + "]",
     "= [" + std::string(126, '[') + std::string(126, ']') + "," + std::string(126, '[') +
         std::string(126, ']') + "]"},
    {"long_integer_part_out_of_range", "1" + std::string(400, '0'),
     "number out of range at line 1 column 401"},
    {"long_integer_part_in_range", "1" + std::string(300, '0'), "= f1e+300"},
    // Exponent digits go into a signed 32-bit accumulator; leading zeros cost nothing.
    {"exponent_leading_zeros", "1e0000000000000000001", "= f10.0"},
    {"exponent_at_accumulator_max", "1e2147483647", "number out of range at line 1 column 12"},
    {"exponent_one_past_max", "1e2147483648", "number out of range at line 1 column 12"},
    {"exponent_overflow_stops_reading", "1e21474836470", "number out of range at line 1 column 13"},
    {"negative_exponent_overflow", "[1e-2147483648,-5e-2147483648,0e2147483648]",
     "= [f0.0,f-0.0,f0.0]"},
    {"point_then_exponent", "1.e5", "invalid number at line 1 column 3"},
    {"exponent_sign_at_end_after_fraction", "1.5e+",
     "EOF while parsing a value at line 1 column 5"},
    {"exponent_two_signs", "1e+-5", "invalid number at line 1 column 4"},
    {"exponent_then_point", "1e5.5", "trailing characters at line 1 column 4"},
    {"minus_in_array", "[-]", "invalid number at line 1 column 3"},
    {"number_then_letter_in_array", "[1x]", "expected `,` or `]` at line 1 column 3"},
    // Dropped digits: before the point each raises the exponent, after it they vanish.
    {"long_mantissa_long_negative_exponent", "1" + std::string(399, '0') + "e-400", "= f0.1"},
    {"long_zero_fraction", "0." + std::string(400, '0') + "1e400", "= f0.1"},
    {"long_fraction", "0." + std::string(400, '1') + "e10", "= f1111111111.1111112"},
    // After the integer part overflows, fraction digits that still fit go on
    // into the significand (and count against the exponent).
    {"fraction_after_integer_overflow", "18446744073709551616.07e-306",
     "= f1.8446744073709552e-287"},
    // literals cut short
    {"literals_cut_short", "[nul", "EOF while parsing a value at line 1 column 4"},
    {"false_cut_short", "fals", "EOF while parsing a value at line 1 column 4"},
    {"single_t", "t", "EOF while parsing a value at line 1 column 1"},
    // ends of text inside containers and escapes
    {"nested_array_at_end", "[[1", "EOF while parsing a list at line 1 column 3"},
    {"nested_object_at_end", "{\"a\":{", "EOF while parsing an object at line 1 column 6"},
    {"nested_comma_at_end", "{\"a\":[1,", "EOF while parsing a value at line 1 column 8"},
    {"end_after_line_feed", "[1,\n", "EOF while parsing a value at line 2 column 0"},
    {"end_in_whitespace_lines", " \n\n  ", "EOF while parsing a value at line 3 column 2"},
    {"pair_cut_after_backslash", "\"\\ud83d\\", "EOF while parsing a string at line 1 column 8"},
    {"pair_cut_after_u", "\"\\ud83d\\u", "EOF while parsing a string at line 1 column 9"},
    {"pair_cut_in_digits", "\"\\ud83d\\ud8", "EOF while parsing a string at line 1 column 11"},
    // Four hex digits are taken before any is checked.
    {"short_hex_with_bad_digit_at_end", "\"\\u12x",
     "EOF while parsing a string at line 1 column 6"},
    {"highest_pair", "\"\\uDBFF\\uDFFF\\uFFFF\"", "= \"\\xf4\\x8f\\xbf\\xbf\\xef\\xbf\\xbf\""},
    {"leading_then_highest_leading", "\"\\uD800\\uDBFF\"",
     "lone leading surrogate in hex escape at line 1 column 13"},
    // containers
    {"array_comma_space_bracket", "[1, ]", "trailing comma at line 1 column 5"},
    {"array_only_comma", "[,]", "expected value at line 1 column 2"},
    {"object_key_then_close", "{\"a\"}", "expected `:` at line 1 column 5"},
    {"value_after_array", "[1]2", "trailing characters at line 1 column 4"},
    {"repeated_key_replaces_kind", "{\"a\":1,\"a\":{\"b\":[]},\"a\":\"z\"}", "= {\"a\":\"z\"}"},
};

class ReaderTest : public ::testing::TestWithParam<Row> {};

TEST_P(ReaderTest, Outcome) {
    EXPECT_EQ(outcome(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, ReaderTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return info.param.name; });

// Errors without a position render as the message alone.
TEST(JsonErrorTest, LineZeroHasNoSuffix) {
    EXPECT_EQ((JsonError{"missing field `seed`", 0, 0}).render(), "missing field `seed`");
    EXPECT_EQ((JsonError{"x", 3, 0}).render(), "x at line 3 column 0");
}

}  // namespace
}  // namespace synth::json
