#pragma once
// The decoding error texts, built in one place for both ways of decoding a spec
// (from text and from a parsed value). Positions are added by the text decoder.
// Their words ("usize", "struct GenSpec", "string or map", ...) are frozen, pinned by
// the golden digests: docs/protocol.md lists them.
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "spec/model.hpp"

namespace synth::spec {

enum class Record { GenSpec, Regime, Microstructure, FundingSpec };

// Field names in declaration order (the order of the array form).
std::span<const std::string_view> field_names(Record record);
std::size_t field_count(Record record);
// Index of `name` among the record's fields, compared byte for byte.
std::optional<std::size_t> field_index(Record record, std::string_view name);
// Whether an absent field takes a default (start_ts, bar_secs, funding) instead
// of being an error.
bool field_has_default(Record record, std::size_t index);
// "GenSpec", "Regime", ...
std::string_view record_name(Record record);
// "struct GenSpec", ...: the expected-type word of a record.
std::string_view expected_struct(Record record);

inline constexpr std::string_view kExpectedU64 = "u64";
inline constexpr std::string_view kExpectedUsize = "usize";
inline constexpr std::string_view kExpectedI64 = "i64";
inline constexpr std::string_view kExpectedF64 = "f64";
inline constexpr std::string_view kExpectedSequence = "a sequence";
inline constexpr std::string_view kExpectedUnit = "unit";
inline constexpr std::string_view kExpectedStringOrMap = "string or map";
inline constexpr std::string_view kMapNotSingleKey =
    "invalid value: map, expected map with a single key";

// "invalid type: {value}, expected {expected}"
std::string invalid_type(std::string_view value_desc, std::string_view expected);
// "invalid value: integer `{integer}`, expected {expected}"
std::string invalid_integer(std::string_view integer_text, std::string_view expected);
// "unknown field `{key}`, expected one of `seed`, ..." (key as decoded, unquoted)
std::string unknown_field(std::string_view key, Record record);
// "duplicate field `{key}`"
std::string duplicate_field(std::string_view key);
// "missing field `{field}`"
std::string missing_field(std::string_view field);
// "invalid length {index}, expected struct {Record} with {count} elements"
std::string invalid_length_struct(std::size_t index, Record record);
// "invalid length {length}, expected fewer elements in array"
std::string invalid_length_array(std::size_t length);
// "unknown variant `{name}`, expected one of `trend`, `range`, `crash`, `vol`"
std::string unknown_variant(std::string_view name);

// The exact lower-case spelling of a kind, or nothing.
std::optional<RegimeKind> kind_from_name(std::string_view name);

}  // namespace synth::spec
