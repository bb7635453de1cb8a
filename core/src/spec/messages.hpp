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

// The records a spec document is made of. The last ones are extension records,
// reachable only through extension members.
enum class Record { GenSpec, Regime, Microstructure, FundingSpec, Garch, Tails, Jumps };

// Which fields a decoder reads. The classic dialect (the command protocol and
// its handle) reads exactly the classic fields; the extended dialect (the data
// entry points) reads every field, extension members after the classic ones.
enum class Dialect { classic, extended };

// Upper bound of any record's field count, for per-record "seen" flags.
inline constexpr std::size_t kMaxFields = 16;

// Field names a dialect reads, in declaration order (the order of the array
// form): the classic fields first, then the extension members.
std::span<const std::string_view> field_names(Record record, Dialect dialect);
std::size_t field_count(Record record, Dialect dialect);
// Index of `name` among the fields the dialect reads, compared byte for byte.
std::optional<std::size_t> field_index(Record record, std::string_view name, Dialect dialect);
// Whether an absent field takes a default (start_ts, bar_secs, funding, every
// extension member) instead of being an error.
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
// "unknown field `{key}`, expected one of `seed`, ..." (key as decoded,
// unquoted), listing the fields the dialect reads.
std::string unknown_field(std::string_view key, Record record, Dialect dialect);
// "duplicate field `{key}`"
std::string duplicate_field(std::string_view key);
// "missing field `{field}`"
std::string missing_field(std::string_view field);
// "invalid length {index}, expected struct {Record} with {count} elements";
// {count} counts the classic fields (extension members may always be left out).
std::string invalid_length_struct(std::size_t index, Record record);
// "invalid length {length}, expected fewer elements in array"
std::string invalid_length_array(std::size_t length);
// "unknown variant `{name}`, expected one of `trend`, `range`, `crash`, `vol`"
std::string unknown_variant(std::string_view name);

// The exact lower-case spelling of a kind, or nothing.
std::optional<RegimeKind> kind_from_name(std::string_view name);

}  // namespace synth::spec
