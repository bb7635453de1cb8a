// Spec decoding from text and from a parsed value, side by side: every row gives
// the text decoder's error (with its position) and what the value decoder makes
// of the same JSON.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

#include "json/reader.hpp"
#include "spec/decode.hpp"

namespace synth::spec {
namespace {

// Value-mode expectations besides an explicit message.
constexpr std::string_view kSame = "=";     // the text error without its position
constexpr std::string_view kNotJson = "-";  // the text is no JSON value at all
constexpr std::string_view kDecodes = "";   // decodes without error

struct ErrorRow {
    std::string_view name;
    std::string_view text;
    std::string_view text_error;
    std::string_view value_error;
};

const ErrorRow kErrorRows[] = {
    {"missing_seed", "{\"bars\":1}", "missing field `seed` at line 1 column 10", kSame},
    {"unknown_key", "{\"x\":1}",
     "unknown field `x`, expected one of `seed`, `bars`, `start_price`, `start_ts`, `bar_secs`, "
     "`regimes`, `microstructure` at line 1 column 4",
     kSame},
    {"sequence_for_u64", "{\"seed\":[1]}",
     "invalid type: sequence, expected u64 at line 1 column 8", kSame},
    {"byte_order_decides", "{\"seed\":-1,\"bars\":-1}",
     "invalid value: integer `-1`, expected u64 at line 1 column 10",
     "invalid value: integer `-1`, expected usize"},
    {"unknown_after_seed_in_byte_order", "{\"x\":1,\"seed\":-1}",
     "unknown field `x`, expected one of `seed`, `bars`, `start_price`, `start_ts`, `bar_secs`, "
     "`regimes`, `microstructure` at line 1 column 4",
     "invalid value: integer `-1`, expected u64"},
    {"document_order_vs_byte_order", "{\"microstructure\":1,\"bars\":\"x\"}",
     "invalid type: integer `1`, expected struct Microstructure at line 1 column 19",
     "invalid type: string \"x\", expected usize"},
    {"empty_object", "{}", "missing field `seed` at line 1 column 2", kSame},
    {"missing_stamped_at_brace_not_after_space", "{\"bars\":1}  ",
     "missing field `seed` at line 1 column 10", kSame},
    {"missing_after_line_feeds", "{\"bars\":1 \n\n }", "missing field `seed` at line 3 column 2",
     kSame},
    {"missing_regimes",
     "{\"seed\":1,\"bars\":1,\"start_price\":1,\"microstructure\":{\"book_depth\":5,\"spread_bps\":"
     "2.0,\"trade_rate\":3.0}}",
     "missing field `regimes` at line 1 column 103", kSame},
    {"missing_regimes_before_microstructure", "{\"seed\":1,\"bars\":1,\"start_price\":1}",
     "missing field `regimes` at line 1 column 35", kSame},
    {"missing_microstructure", "{\"seed\":1,\"bars\":1,\"start_price\":1,\"regimes\":[]}",
     "missing field `microstructure` at line 1 column 48", kSame},
    {"unknown_key_takes_following_space", "{\"x\"  :1}",
     "unknown field `x`, expected one of `seed`, `bars`, `start_price`, `start_ts`, `bar_secs`, "
     "`regimes`, `microstructure` at line 1 column 6",
     kSame},
    {"unknown_key_then_line_feed", "{\"x\"\n:1}",
     "unknown field `x`, expected one of `seed`, `bars`, `start_price`, `start_ts`, `bar_secs`, "
     "`regimes`, `microstructure` at line 2 column 0",
     kSame},
    {"keys_are_case_sensitive", "{\n  \"Seed\": 1\n}",
     "unknown field `Seed`, expected one of `seed`, `bars`, `start_price`, `start_ts`, `bar_secs`, "
     "`regimes`, `microstructure` at line 2 column 8",
     kSame},
    {"unknown_key_as_decoded", "{\"a\\\"b\\u0041\\n\":1}",
     "unknown field `a\"bA\n`, expected one of `seed`, `bars`, `start_price`, `start_ts`, "
     "`bar_secs`, `regimes`, `microstructure` at line 1 column 15",
     kSame},
    {"duplicate_key", "{\"seed\":1,\"seed\":2}", "duplicate field `seed` at line 1 column 16",
     "missing field `bars`"},
    {"duplicate_before_value", "{\"seed\":1,\"seed\":-1}",
     "duplicate field `seed` at line 1 column 16", "invalid value: integer `-1`, expected u64"},
    {"duplicate_then_line_feed", "{\"seed\":1,\"seed\"\n :2}",
     "duplicate field `seed` at line 2 column 1", "missing field `bars`"},
    {"duplicate_after_unescaping", "{\"seed\":1,\"se\\u0065d\":2}",
     "duplicate field `seed` at line 1 column 21", "missing field `bars`"},
    {"position_on_second_line", "{\n  \"seed\": -1\n}",
     "invalid value: integer `-1`, expected u64 at line 2 column 12", kSame},
    {"seed_negative_min", "{\"seed\":-9223372036854775808}",
     "invalid value: integer `-9223372036854775808`, expected u64 at line 1 column 28", kSame},
    {"seed_beyond_i64_is_float", "{\"seed\":-9223372036854775809}",
     "invalid type: floating point `-9.223372036854776e+18`, expected u64 at line 1 column 28",
     kSame},
    {"seed_beyond_u64_is_float", "{\"seed\":18446744073709551616}",
     "invalid type: floating point `1.8446744073709552e+19`, expected u64 at line 1 column 28",
     kSame},
    {"seed_minus_zero", "{\"seed\":-0}",
     "invalid type: floating point `-0.0`, expected u64 at line 1 column 10", kSame},
    {"seed_fraction", "{\"seed\":5.0}",
     "invalid type: floating point `5.0`, expected u64 at line 1 column 11", kSame},
    {"seed_exponent", "{\"seed\":1e2}",
     "invalid type: floating point `100.0`, expected u64 at line 1 column 11", kSame},
    {"seed_tiny_is_zero_float", "{\"seed\":1e-400}",
     "invalid type: floating point `0.0`, expected u64 at line 1 column 14", kSame},
    {"seed_string", "{\"seed\":\"5\"}",
     "invalid type: string \"5\", expected u64 at line 1 column 11", kSame},
    {"seed_true", "{\"seed\":true}",
     "invalid type: boolean `true`, expected u64 at line 1 column 12", kSame},
    {"seed_false", "{\"seed\":false}",
     "invalid type: boolean `false`, expected u64 at line 1 column 13", kSame},
    {"seed_null", "{\"seed\":null}", "invalid type: null, expected u64 at line 1 column 12", kSame},
    {"seed_map_before_brace", "{\"seed\":{\"a\":1}}",
     "invalid type: map, expected u64 at line 1 column 8", kSame},
    {"bars_negative", "{\"seed\":1,\"bars\":-1}",
     "invalid value: integer `-1`, expected usize at line 1 column 19", kSame},
    {"bars_float", "{\"seed\":1,\"bars\":5.0}",
     "invalid type: floating point `5.0`, expected usize at line 1 column 20", kSame},
    {"bars_string", "{\"seed\":1,\"bars\":\"5\"}",
     "invalid type: string \"5\", expected usize at line 1 column 20", kSame},
    {"start_ts_above_i64", "{\"seed\":1,\"start_ts\":9223372036854775808}",
     "invalid value: integer `9223372036854775808`, expected i64 at line 1 column 40", kSame},
    {"start_ts_u64_max", "{\"seed\":1,\"start_ts\":18446744073709551615}",
     "invalid value: integer `18446744073709551615`, expected i64 at line 1 column 41", kSame},
    {"start_ts_minus_zero", "{\"seed\":1,\"start_ts\":-0}",
     "invalid type: floating point `-0.0`, expected i64 at line 1 column 23", kSame},
    {"start_ts_beyond_i64_negative", "{\"seed\":1,\"start_ts\":-9223372036854775809}",
     "invalid type: floating point `-9.223372036854776e+18`, expected i64 at line 1 column 41",
     kSame},
    {"bar_secs_float", "{\"seed\":1,\"bar_secs\":3600.5}",
     "invalid type: floating point `3600.5`, expected i64 at line 1 column 27", kSame},
    {"bar_secs_negative_float", "{\"seed\":1,\"bar_secs\":-1e-400}",
     "invalid type: floating point `-0.0`, expected i64 at line 1 column 28", kSame},
    {"start_price_string", "{\"seed\":1,\"start_price\":\"100\"}",
     "invalid type: string \"100\", expected f64 at line 1 column 29", kSame},
    {"start_price_bool", "{\"seed\":1,\"start_price\":false}",
     "invalid type: boolean `false`, expected f64 at line 1 column 29", kSame},
    {"start_price_null", "{\"seed\":1,\"start_price\":null}",
     "invalid type: null, expected f64 at line 1 column 28", kSame},
    {"start_price_sequence", "{\"seed\":1,\"start_price\":[]}",
     "invalid type: sequence, expected f64 at line 1 column 24", kSame},
    {"string_quoting",
     "{\"bars\":"
     "\"a\\\"b\\\\c\\td\\re\\nf\\u0000g\\u0001h\\u001fi\\u007fj\\u0080k\\u009fl\\u00a0m\\u00e9n\\u2"
     "028o\\ud83d\\ude00\"}",
     "invalid type: string "
     "\"a\\\"b\\\\c\\td\\re\\nf\\0g\\u{1}h\\u{1f}i\\u{7f}j\\u{80}k\\u{9f}l mén\\u{2028}o😀\", "
     "expected usize at line 1 column 101",
     kSame},
    {"string_plain_bytes_kept", "{\"bars\":\"/ é中\"}",
     "invalid type: string \"/ é中\", expected usize at line 1 column 17", kSame},
    {"string_raw_delete", "{\"bars\":\"\177\"}",
     "invalid type: string \"\\u{7f}\", expected usize at line 1 column 11", kSame},
    {"string_empty", "{\"bars\":\"\"}",
     "invalid type: string \"\", expected usize at line 1 column 10", kSame},
    {"root_integer", "1", "invalid type: integer `1`, expected struct GenSpec at line 1 column 1",
     kSame},
    {"root_string", " \"x\" ",
     "invalid type: string \"x\", expected struct GenSpec at line 1 column 4", kSame},
    {"root_null", "null", "invalid type: null, expected struct GenSpec at line 1 column 4", kSame},
    {"root_float", "-2.5e0",
     "invalid type: floating point `-2.5`, expected struct GenSpec at line 1 column 6", kSame},
    {"array_empty", "[]",
     "invalid length 0, expected struct GenSpec with 7 elements at line 1 column 2", kSame},
    {"array_three_takes_defaults", "[1,2,3]",
     "invalid length 5, expected struct GenSpec with 7 elements at line 1 column 7", kSame},
    {"array_five", "[1,2,3,4,5 ]",
     "invalid length 5, expected struct GenSpec with 7 elements at line 1 column 12", kSame},
    {"array_six_after_line_feed", "[1,2,3,4,5,[]\n]",
     "invalid length 6, expected struct GenSpec with 7 elements at line 2 column 1", kSame},
    {"array_null_is_not_absent", "[1,2,3,null]",
     "invalid type: null, expected i64 at line 1 column 11", kSame},
    {"array_element_error_first", "[-1]",
     "invalid value: integer `-1`, expected u64 at line 1 column 3", kSame},
    {"array_surplus", "[1,2,3,4,5,[],[5,1,1],9]", "trailing characters at line 1 column 23",
     "invalid length 8, expected fewer elements in array"},
    {"array_surplus_map", "[1,2,3,4,5,[],[5,1,1], {}]", "trailing characters at line 1 column 24",
     "invalid length 8, expected fewer elements in array"},
    {"array_trailing_comma_after_last_field", "[1,2,3,4,5,[],[5,1,1],]",
     "trailing comma at line 1 column 23", kNotJson},
    {"array_trailing_comma_short", "[1,2,]", "trailing comma at line 1 column 6", kNotJson},
    {"array_missing_comma", "[1 2]", "expected `,` or `]` at line 1 column 4", kNotJson},
    {"array_unterminated", "[1,2,3", "EOF while parsing a list at line 1 column 6", kNotJson},
    {"regimes_map", "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":{}}",
     "invalid type: map, expected a sequence at line 1 column 50", kSame},
    {"regimes_string", "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":\"trend\"}",
     "invalid type: string \"trend\", expected a sequence at line 1 column 57", kSame},
    {"regime_integer",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[5],\"microstructure\":{\"book_"
     "depth\":5,\"spread_bps\":2.0,\"trade_rate\":3.0}}",
     "invalid type: integer `5`, expected struct Regime at line 1 column 52", kSame},
    {"regime_array_short",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[[\"trend\", 10, "
     "0.001]],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,\"trade_rate\":3.0}}",
     "invalid length 3, expected struct Regime with 4 elements at line 1 column 71", kSame},
    {"regime_array_surplus",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[[\"trend\",10,0.001,0.02,1]],"
     "\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,\"trade_rate\":3.0}}",
     "trailing characters at line 1 column 75",
     "invalid length 5, expected fewer elements in array"},
    {"regime_field_error_before_surplus",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[[\"trend\",-1,0.001,0.02,1]],"
     "\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,\"trade_rate\":3.0}}",
     "invalid value: integer `-1`, expected usize at line 1 column 62", kSame},
    {"regime_missing_vol",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,\"trade_rate\":3.0}"
     "}",
     "missing field `vol` at line 1 column 90", kSame},
    {"regime_duplicate_last_wins_in_value",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02,\"len\":5}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":"
     "2.0,\"trade_rate\":3.0}}",
     "duplicate field `len` at line 1 column 106", kDecodes},
    {"regime_unknown",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kinds\":\"trend\"}],"
     "\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,\"trade_rate\":3.0}}",
     "unknown field `kinds`, expected one of `kind`, `len`, `drift`, `vol` at line 1 column 59",
     kSame},
    {"regime_empty",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{}],\"microstructure\":{\"book_"
     "depth\":5,\"spread_bps\":2.0,\"trade_rate\":3.0}}",
     "missing field `kind` at line 1 column 53", kSame},
    {"regime_drift_string",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[[\"trend\",10,\"0.1\",0.02]],"
     "\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,\"trade_rate\":3.0}}",
     "invalid type: string \"0.1\", expected f64 at line 1 column 68", kSame},
    {"regime_vol_null",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[[\"trend\",10,0.1,null]],"
     "\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,\"trade_rate\":3.0}}",
     "invalid type: null, expected f64 at line 1 column 71", kSame},
    {"kind_case",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"Trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,"
     "\"trade_rate\":3.0}}",
     "unknown variant `Trend`, expected one of `trend`, `range`, `crash`, `vol` at line 1 column "
     "66",
     kSame},
    {"kind_unknown_as_decoded",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"tr\\u0065nd "
     "\",\"len\":10,\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_"
     "bps\":2.0,\"trade_rate\":3.0}}",
     "unknown variant `trend `, expected one of `trend`, `range`, `crash`, `vol` at line 1 column "
     "72",
     kSame},
    {"kind_integer",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":3,\"len\":10,\"drift\":"
     "0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,\"trade_rate\":"
     "3.0}}",
     "expected value at line 1 column 60", "invalid type: integer `3`, expected string or map"},
    {"kind_null",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":null,\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,"
     "\"trade_rate\":3.0}}",
     "expected value at line 1 column 60", "invalid type: null, expected string or map"},
    {"kind_true",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":true,\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,"
     "\"trade_rate\":3.0}}",
     "expected value at line 1 column 60", "invalid type: boolean `true`, expected string or map"},
    {"kind_float",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":-1.5,\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,"
     "\"trade_rate\":3.0}}",
     "expected value at line 1 column 60",
     "invalid type: floating point `-1.5`, expected string or map"},
    {"kind_array",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\": "
     "[\"trend\"],\"len\":10,\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,"
     "\"spread_bps\":2.0,\"trade_rate\":3.0}}",
     "expected value at line 1 column 61", "invalid type: sequence, expected string or map"},
    {"kind_empty_map",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":{},\"len\":10,\"drift\":"
     "0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,\"trade_rate\":"
     "3.0}}",
     "expected value at line 1 column 61", "invalid value: map, expected map with a single key"},
    {"kind_empty_map_multiline",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":{ "
     "\n},\"len\":10,\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_"
     "bps\":2.0,\"trade_rate\":3.0}}",
     "expected value at line 2 column 1", "invalid value: map, expected map with a single key"},
    {"kind_two_members",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":{\"crash\":null,\"vol\":"
     "null},\"len\":10,\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,"
     "\"spread_bps\":2.0,\"trade_rate\":3.0}}",
     "expected value at line 1 column 73", "invalid value: map, expected map with a single key"},
    {"kind_unit_integer",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":{\"crash\":1},\"len\":"
     "10,\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,"
     "\"trade_rate\":3.0}}",
     "invalid type: integer `1`, expected unit at line 1 column 69", kSame},
    {"kind_unit_sequence",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":{\"crash\":[null]},"
     "\"len\":10,\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_"
     "bps\":2.0,\"trade_rate\":3.0}}",
     "invalid type: sequence, expected unit at line 1 column 68", kSame},
    {"kind_unit_map",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":{\"crash\":{}},\"len\":"
     "10,\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,"
     "\"trade_rate\":3.0}}",
     "invalid type: map, expected unit at line 1 column 68", kSame},
    {"kind_map_unknown_name",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":{\"Crash\":null},"
     "\"len\":10,\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_"
     "bps\":2.0,\"trade_rate\":3.0}}",
     "unknown variant `Crash`, expected one of `trend`, `range`, `crash`, `vol` at line 1 column "
     "67",
     kSame},
    {"kind_map_name_before_unit",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":{\"Crash\":1},\"len\":"
     "10,\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,"
     "\"trade_rate\":3.0}}",
     "unknown variant `Crash`, expected one of `trend`, `range`, `crash`, `vol` at line 1 column "
     "67",
     kSame},
    {"kind_map_missing_colon",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":{\"crash\" "
     "null},\"len\":10,\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,"
     "\"spread_bps\":2.0,\"trade_rate\":3.0}}",
     "expected `:` at line 1 column 69", kNotJson},
    {"kind_map_numeric_key",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":{1:null},\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,"
     "\"trade_rate\":3.0}}",
     "key must be a string at line 1 column 61", kNotJson},
    {"kind_map_unterminated",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":{\"crash\":null",
     "EOF while parsing an object at line 1 column 72", kNotJson},
    {"kind_array_form_integer", "[1,2,3,4,5,[[3", "expected value at line 1 column 14", kNotJson},
    {"micro_integer",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":5}",
     "invalid type: integer `5`, expected struct Microstructure at line 1 column 121", kSame},
    {"micro_array_short",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":[5]}",
     "invalid length 1, expected struct Microstructure with 4 elements at line 1 column 123",
     kSame},
    {"micro_array_surplus",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":[5,2.0,3.0,null,1]}",
     "trailing characters at line 1 column 137",
     "invalid length 5, expected fewer elements in array"},
    {"micro_unknown",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,"
     "\"trade_rate\":3.0,\"Funding\":null}}",
     "unknown field `Funding`, expected one of `book_depth`, `spread_bps`, `trade_rate`, `funding` "
     "at line 1 column 179",
     kSame},
    {"micro_missing_spread",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"trade_rate\":3.0}}",
     "missing field `spread_bps` at line 1 column 153", kSame},
    {"micro_depth_negative",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":-5}}",
     "invalid value: integer `-5`, expected usize at line 1 column 136", kSame},
    {"funding_empty_map",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,"
     "\"trade_rate\":3.0,\"funding\":{}}}",
     "missing field `interval_bars` at line 1 column 182", kSame},
    {"funding_empty_array",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,"
     "\"trade_rate\":3.0,\"funding\":[]}}",
     "invalid length 0, expected struct FundingSpec with 3 elements at line 1 column 182", kSame},
    {"funding_array_short",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":[5,2.0,3.0,[8,0.1]]}",
     "invalid length 2, expected struct FundingSpec with 3 elements at line 1 column 138", kSame},
    {"funding_array_surplus",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":[5,2.0,3.0,[8,0.1,0.2,0]]}",
     "trailing characters at line 1 column 143",
     "invalid length 4, expected fewer elements in array"},
    {"funding_bool",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":[5,2.0,3.0,true]}",
     "invalid type: boolean `true`, expected struct FundingSpec at line 1 column 135", kSame},
    {"funding_unknown",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":[5,2.0,3.0,{\"interval_bars\":8,\"base_"
     "rate\":0.1,\"sensitivity\":0.2,\"rate\":0}]}",
     "unknown field `rate`, expected one of `interval_bars`, `base_rate`, `sensitivity` at line 1 "
     "column 190",
     kSame},
    {"funding_interval_float",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":[5,2.0,3.0,{\"interval_bars\":8.0}]}",
     "invalid type: floating point `8.0`, expected usize at line 1 column 151", kSame},
    {"empty_text", "", "EOF while parsing a value at line 1 column 0", kNotJson},
    {"blank_text", " \n ", "EOF while parsing a value at line 2 column 1", kNotJson},
    {"trailing_comma_object", "{\"seed\":1,}", "trailing comma at line 1 column 11", kNotJson},
    {"leading_zero", "{\"seed\":01}", "invalid number at line 1 column 10", kNotJson},
    {"out_of_range", "{\"seed\":1e400}", "number out of range at line 1 column 13", kNotJson},
    {"missing_colon", "{\"seed\" 1}", "expected `:` at line 1 column 9", kNotJson},
    {"bare_key", "{seed:1}", "key must be a string at line 1 column 2", kNotJson},
    {"missing_comma", "{\"seed\":1 \"bars\":2}", "expected `,` or `}` at line 1 column 11",
     kNotJson},
    {"unterminated_string_value", "{\"bars\":\"abc",
     "EOF while parsing a string at line 1 column 12", kNotJson},
    {"raw_line_feed_in_string", "{\"bars\":\"a\nb\"}",
     "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0",
     kNotJson},
    {"bad_literal", "{\"seed\":nul}", "expected ident at line 1 column 12", kNotJson},
    {"fraction_without_digit", "{\"bars\":1.}", "invalid number at line 1 column 11", kNotJson},
    {"unterminated_object", "{\"seed\":1", "EOF while parsing an object at line 1 column 9",
     kNotJson},
    {"non_ascii_key_sorts_after_ascii", "{\"é\":1,\"x\":1}",
     "unknown field `é`, expected one of `seed`, `bars`, `start_price`, `start_ts`, `bar_secs`, "
     "`regimes`, `microstructure` at line 1 column 5",
     "unknown field `x`, expected one of `seed`, `bars`, `start_price`, `start_ts`, `bar_secs`, "
     "`regimes`, `microstructure`"},
    {"capital_sorts_first", "{\"seed\":-1,\"Seed\":1}",
     "invalid value: integer `-1`, expected u64 at line 1 column 10",
     "unknown field `Seed`, expected one of `seed`, `bars`, `start_price`, `start_ts`, `bar_secs`, "
     "`regimes`, `microstructure`"},
    {"member_error_before_missing", "{\"start_price\":\"a\"}",
     "invalid type: string \"a\", expected f64 at line 1 column 18", kSame},
    {"unknown_value_not_read", "{\"x\":[[[[",
     "unknown field `x`, expected one of `seed`, `bars`, `start_price`, `start_ts`, `bar_secs`, "
     "`regimes`, `microstructure` at line 1 column 4",
     kNotJson},
    {"unknown_key_at_end", "{\"x\"",
     "unknown field `x`, expected one of `seed`, `bars`, `start_price`, `start_ts`, `bar_secs`, "
     "`regimes`, `microstructure` at line 1 column 4",
     kNotJson},
    {"second_value",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,"
     "\"trade_rate\":3.0}} {}",
     "trailing characters at line 1 column 173", kNotJson},
    {"trailing_after_line_feed",
     "{\"seed\":1,\"bars\":10,\"start_price\":100.0,\"regimes\":[{\"kind\":\"trend\",\"len\":10,"
     "\"drift\":0.001,\"vol\":0.02}],\"microstructure\":{\"book_depth\":5,\"spread_bps\":2.0,"
     "\"trade_rate\":3.0}}\n x",
     "trailing characters at line 2 column 2", kNotJson},
};

std::string without_position(std::string_view rendered) {
    const std::size_t at = rendered.rfind(" at line ");
    return std::string(rendered.substr(0, at));
}

class SpecErrorTest : public ::testing::TestWithParam<ErrorRow> {};

TEST_P(SpecErrorTest, TextAndValue) {
    const ErrorRow& row = GetParam();
    const auto from_text = parse_spec(row.text);
    ASSERT_FALSE(from_text.ok()) << "text decoded";
    EXPECT_EQ(from_text.error().kind, SynthError::Kind::Parse);
    EXPECT_EQ(from_text.error().message, row.text_error);

    const auto tree = json::read(row.text);
    if (row.value_error == kNotJson) {
        EXPECT_FALSE(tree.ok());
        return;
    }
    ASSERT_TRUE(tree.ok()) << tree.error().render();
    const auto from_value = spec_from_value(tree.value());
    if (row.value_error == kDecodes) {
        EXPECT_TRUE(from_value.ok()) << from_value.error().message;
        return;
    }
    ASSERT_FALSE(from_value.ok()) << "value decoded";
    EXPECT_EQ(from_value.error().kind, SynthError::Kind::Parse);
    const std::string expected =
        row.value_error == kSame ? without_position(row.text_error) : std::string(row.value_error);
    EXPECT_EQ(from_value.error().message, expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, SpecErrorTest, ::testing::ValuesIn(kErrorRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Arrays and objects in the wrong place are not read, so their depth is never
// judged; the value decoder only ever sees what the reader accepted.
TEST(SpecUnreadValue, DepthIsNeverJudged) {
    const std::string text = "{\"seed\":" + std::string(200, '[');
    const auto from_text = parse_spec(text);
    ASSERT_FALSE(from_text.ok());
    EXPECT_EQ(from_text.error().message, "invalid type: sequence, expected u64 at line 1 column 8");
    EXPECT_FALSE(json::read(text).ok());
}

// ---- successful decodes, compared field by field in both modes

GenSpec minimal() {
    GenSpec s;
    s.seed = 1;
    s.bars = 10;
    s.start_price = 100.0;
    s.regimes = {{RegimeKind::trend, 10, 0.001, 0.02}};
    s.microstructure = {5, 2.0, 3.0, std::nullopt};
    return s;
}

struct OkRow {
    std::string_view name;
    std::string_view text;
    std::function<GenSpec()> expected;
};

const OkRow kOkRows[] = {
    {"minimal_object_takes_defaults",
     R"({"seed":1,"bars":10,"start_price":100.0,"regimes":[{"kind":"trend","len":10,"drift":0.001,"vol":0.02}],"microstructure":{"book_depth":5,"spread_bps":2.0,"trade_rate":3.0}})",
     minimal},
    {"funding_null_is_absent",
     R"({"seed":1,"bars":10,"start_price":100.0,"regimes":[{"kind":"trend","len":10,"drift":0.001,"vol":0.02}],"microstructure":{"book_depth":5,"spread_bps":2.0,"trade_rate":3.0,"funding":null}})",
     minimal},
    {"funding_null_element_is_absent",
     R"({"seed":1,"bars":10,"start_price":100.0,"regimes":[["trend",10,0.001,0.02]],"microstructure":[5,2.0,3.0,null]})",
     minimal},
    {"whitespace_everywhere",
     " \t\r\n{ \"seed\" :\t1 ,\r\n\"bars\"\n:\n10,\"start_price\": 100.0 , \"regimes\" : [ { "
     "\"kind\" : { \"trend\" : null } , \"len\":10,\"drift\":0.001,\"vol\":0.02 } ] ,"
     "\"microstructure\":[ 5 , 2.0 , 3.0 ] } \n\t ",
     minimal},
    {"escaped_names",
     R"({"se\u0065d":1,"b\u0061rs":10,"start_price":100.0,"regimes":[{"kind":"tr\u0065nd","len":10,"drift":0.001,"vol":0.02}],"microstructure":{"book_depth":5,"spread_bps":2.0,"trade_rate":3.0}})",
     minimal},
    {"every_field_in_reverse_order",
     R"({"microstructure":{"funding":{"sensitivity":-0.5,"base_rate":0.0001,"interval_bars":8},"trade_rate":0,"spread_bps":2.5,"book_depth":1},"regimes":[{"vol":0,"drift":-0.01,"len":3,"kind":"crash"},{"kind":{"range":null},"len":2,"drift":0,"vol":1e-3}],"bar_secs":60,"start_ts":-5,"start_price":100,"bars":5,"seed":18446744073709551615})",
     [] {
         GenSpec s;
         s.seed = std::numeric_limits<std::uint64_t>::max();
         s.bars = 5;
         s.start_price = 100.0;
         s.start_ts = -5;
         s.bar_secs = 60;
         s.regimes = {{RegimeKind::crash, 3, -0.01, 0.0}, {RegimeKind::range, 2, 0.0, 0.001}};
         s.microstructure = {1, 2.5, 0.0, FundingSpec{8, 0.0001, -0.5}};
         return s;
     }},
    {"array_forms_and_integer_limits",
     R"([7,0,100.5,-9223372036854775808,9223372036854775807,[["vol",4,1,2],["trend",1,0,0],{"kind":"range","len":6,"drift":-1,"vol":0.5},[{"crash":null},0,0,0]],[5,2.5,3,[8,0.0001,-0.5]]])",
     [] {
         GenSpec s;
         s.seed = 7;
         s.bars = 0;
         s.start_price = 100.5;
         s.start_ts = std::numeric_limits<std::int64_t>::min();
         s.bar_secs = std::numeric_limits<std::int64_t>::max();
         s.regimes = {{RegimeKind::vol, 4, 1.0, 2.0},
                      {RegimeKind::trend, 1, 0.0, 0.0},
                      {RegimeKind::range, 6, -1.0, 0.5},
                      {RegimeKind::crash, 0, 0.0, 0.0}};
         s.microstructure = {5, 2.5, 3.0, FundingSpec{8, 0.0001, -0.5}};
         return s;
     }},
    {"short_microstructure_array_and_empty_regimes", "[1,1,1,0,1,[],[1,0,0]]",
     [] {
         GenSpec s;
         s.seed = 1;
         s.bars = 1;
         s.start_price = 1.0;
         s.start_ts = 0;
         s.bar_secs = 1;
         s.microstructure = {1, 0.0, 0.0, std::nullopt};
         return s;
     }},
    {"integers_in_float_fields",
     R"({"seed":0,"bars":18446744073709551615,"start_price":18446744073709551615,"regimes":[{"kind":"trend","len":1,"drift":-9223372036854775808,"vol":-1e-400}],"microstructure":{"book_depth":0,"spread_bps":1e-400,"trade_rate":-0.0}})",
     [] {
         GenSpec s;
         s.seed = 0;
         s.bars = std::numeric_limits<std::uint64_t>::max();
         s.start_price = 18446744073709551616.0;
         s.regimes = {{RegimeKind::trend, 1, -9223372036854775808.0, -0.0}};
         s.microstructure = {0, 0.0, -0.0, std::nullopt};
         return s;
     }},
    {"prices_with_eight_decimals_read_exactly",
     R"({"seed":1,"bars":10,"start_price":100.12345678,"regimes":[{"kind":"trend","len":10,"drift":-0.00012345,"vol":1234567.5}],"microstructure":{"book_depth":5,"spread_bps":0.5,"trade_rate":9999999.99999999}})",
     [] {
         GenSpec s = minimal();
         s.start_price = 100.12345678;
         s.regimes[0].drift = -0.00012345;
         s.regimes[0].vol = 1234567.5;
         s.microstructure.spread_bps = 0.5;
         s.microstructure.trade_rate = 9999999.99999999;
         return s;
     }},
};

// Doubles compared by their bits, so -0.0 and 0.0 differ.
void expect_same_double(double got, double want, const char* field) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(want))
        << field << ": got " << got << ", want " << want;
}

void expect_same_spec(const GenSpec& got, const GenSpec& want) {
    EXPECT_EQ(got.seed, want.seed);
    EXPECT_EQ(got.bars, want.bars);
    expect_same_double(got.start_price, want.start_price, "start_price");
    EXPECT_EQ(got.start_ts, want.start_ts);
    EXPECT_EQ(got.bar_secs, want.bar_secs);
    ASSERT_EQ(got.regimes.size(), want.regimes.size());
    for (std::size_t i = 0; i < want.regimes.size(); ++i) {
        SCOPED_TRACE("regime " + std::to_string(i));
        EXPECT_EQ(got.regimes[i].kind, want.regimes[i].kind);
        EXPECT_EQ(got.regimes[i].len, want.regimes[i].len);
        expect_same_double(got.regimes[i].drift, want.regimes[i].drift, "drift");
        expect_same_double(got.regimes[i].vol, want.regimes[i].vol, "vol");
    }
    const Microstructure& gm = got.microstructure;
    const Microstructure& wm = want.microstructure;
    EXPECT_EQ(gm.book_depth, wm.book_depth);
    expect_same_double(gm.spread_bps, wm.spread_bps, "spread_bps");
    expect_same_double(gm.trade_rate, wm.trade_rate, "trade_rate");
    ASSERT_EQ(gm.funding.has_value(), wm.funding.has_value());
    if (wm.funding) {
        EXPECT_EQ(gm.funding->interval_bars, wm.funding->interval_bars);
        expect_same_double(gm.funding->base_rate, wm.funding->base_rate, "base_rate");
        expect_same_double(gm.funding->sensitivity, wm.funding->sensitivity, "sensitivity");
    }
}

class SpecDecodeTest : public ::testing::TestWithParam<OkRow> {};

TEST_P(SpecDecodeTest, TextAndValueAgree) {
    const OkRow& row = GetParam();
    const GenSpec want = row.expected();
    const auto from_text = parse_spec(row.text);
    ASSERT_TRUE(from_text.ok()) << from_text.error().message;
    {
        SCOPED_TRACE("text");
        expect_same_spec(from_text.value(), want);
    }
    const auto tree = json::read(row.text);
    ASSERT_TRUE(tree.ok()) << tree.error().render();
    const auto from_value = spec_from_value(tree.value());
    ASSERT_TRUE(from_value.ok()) << from_value.error().message;
    SCOPED_TRACE("value");
    expect_same_spec(from_value.value(), want);
}

INSTANTIATE_TEST_SUITE_P(Rules, SpecDecodeTest, ::testing::ValuesIn(kOkRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace synth::spec
