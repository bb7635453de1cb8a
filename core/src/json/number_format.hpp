#pragma once
// Number texts of the writer: integers in plain decimal; floats as their shortest
// round-trip digits laid out in fixed notation for decimal exponents -5..15 and
// in exponent notation otherwise; non-finite floats as null.
#include <cstdint>
#include <string>

namespace synth::json {

void append_u64(std::string& out, std::uint64_t value);
void append_i64(std::string& out, std::int64_t value);
void append_f64(std::string& out, double value);
// The reference path: digits from std::to_chars, then the layout rules.
void append_f64_general(std::string& out, double value);

}  // namespace synth::json
