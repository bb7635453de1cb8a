#pragma once
// How an offending value is named in a decoding error: "null", "boolean `true`",
// "integer `5`", "floating point `5.0`", "string \"...\"", "sequence", "map".
#include <cstdint>
#include <string>
#include <string_view>

#include "json/value.hpp"

namespace synth::spec {

inline constexpr std::string_view kDescribeNull = "null";
inline constexpr std::string_view kDescribeSequence = "sequence";
inline constexpr std::string_view kDescribeMap = "map";

// `decoded` is the string after JSON unescaping; it is quoted again for display.
std::string describe_string(std::string_view decoded);
std::string describe_u64(std::uint64_t value);
std::string describe_i64(std::int64_t value);
std::string describe_f64(double value);
std::string describe_bool(bool value);
std::string describe_value(const json::JsonValue& value);

}  // namespace synth::spec
