// Decoding a spec from an already parsed value. Object members come in ascending
// byte order of their keys (the order the tree keeps them in), a repeated key has
// already been resolved to its last value, and no error carries a position.
#include <array>
#include <cstdint>
#include <limits>

#include "json/number_format.hpp"
#include "spec/decode.hpp"
#include "spec/describe.hpp"
#include "spec/fields.hpp"
#include "spec/messages.hpp"

namespace synth::spec {

namespace {

using json::JsonValue;
using Status = Result<Unit, SynthError>;

// u64 and usize fields: any non-negative integer.
Status read_unsigned(const JsonValue& v, std::string_view expected, std::uint64_t& out) {
    if (const std::uint64_t* u = v.as_u64()) {
        out = *u;
        return Unit{};
    }
    if (const std::int64_t* i = v.as_i64()) {
        // The reader keeps only negative integers as signed; a non-negative one
        // built by hand is the same number.
        if (*i >= 0) {
            out = static_cast<std::uint64_t>(*i);
            return Unit{};
        }
        std::string text;
        json::append_i64(text, *i);
        return parse_error(invalid_integer(text, expected));
    }
    return parse_error(invalid_type(describe_value(v), expected));
}

Status read_i64(const JsonValue& v, std::int64_t& out) {
    if (const std::int64_t* i = v.as_i64()) {
        out = *i;
        return Unit{};
    }
    if (const std::uint64_t* u = v.as_u64()) {
        if (*u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            std::string text;
            json::append_u64(text, *u);
            return parse_error(invalid_integer(text, kExpectedI64));
        }
        out = static_cast<std::int64_t>(*u);
        return Unit{};
    }
    return parse_error(invalid_type(describe_value(v), kExpectedI64));
}

Status read_f64(const JsonValue& v, double& out) {
    if (const double* d = v.as_f64()) {
        out = *d;
        return Unit{};
    }
    if (const std::uint64_t* u = v.as_u64()) {
        out = static_cast<double>(*u);
        return Unit{};
    }
    if (const std::int64_t* i = v.as_i64()) {
        out = static_cast<double>(*i);
        return Unit{};
    }
    return parse_error(invalid_type(describe_value(v), kExpectedF64));
}

Status match_kind(std::string_view name, RegimeKind& out) {
    const std::optional<RegimeKind> kind = kind_from_name(name);
    if (!kind) return parse_error(unknown_variant(name));
    out = *kind;
    return Unit{};
}

// A kind is its name as a string, or a map of the name to null.
Status read_kind(const JsonValue& v, RegimeKind& out) {
    if (const std::string* s = v.as_string()) return match_kind(*s, out);
    if (const json::JsonObject* obj = v.as_object()) {
        if (obj->size() != 1) return parse_error(std::string(kMapNotSingleKey));
        const auto& [name, unit] = *obj->begin();
        Status matched = match_kind(name, out);
        if (!matched) return matched;
        if (!unit.is_null()) return parse_error(invalid_type(describe_value(unit), kExpectedUnit));
        return Unit{};
    }
    return parse_error(invalid_type(describe_value(v), kExpectedStringOrMap));
}

template <class T>
Result<T, SynthError> read_record(const JsonValue& v, Dialect dialect);

Status read_regimes(const JsonValue& v, std::vector<Regime>& out, Dialect dialect) {
    const json::JsonArray* arr = v.as_array();
    if (arr == nullptr) return parse_error(invalid_type(describe_value(v), kExpectedSequence));
    out.clear();
    out.reserve(arr->size());
    for (const JsonValue& element : *arr) {
        Result<Regime, SynthError> regime = read_record<Regime>(element, dialect);
        if (!regime) return Err{std::move(regime).error()};
        out.push_back(std::move(regime).value());
    }
    return Unit{};
}

// null stands for an absent record (funding, extension members).
template <class R>
Status read_optional(const JsonValue& v, std::optional<R>& out, Dialect dialect) {
    if (v.is_null()) {
        out.reset();
        return Unit{};
    }
    Result<R, SynthError> record = read_record<R>(v, dialect);
    if (!record) return Err{std::move(record).error()};
    out = std::move(record).value();
    return Unit{};
}

// Reads one field's value into the member the field map hands over.
struct ValueReader {
    const JsonValue& v;
    Dialect dialect;

    Status operator()(std::uint64_t& out, std::string_view expected) const {
        return read_unsigned(v, expected, out);
    }
    Status operator()(std::int64_t& out) const { return read_i64(v, out); }
    Status operator()(double& out) const { return read_f64(v, out); }
    Status operator()(RegimeKind& out) const { return read_kind(v, out); }
    Status operator()(std::vector<Regime>& out) const { return read_regimes(v, out, dialect); }
    template <class R>
    Status operator()(std::optional<R>& out) const {
        return read_optional(v, out, dialect);
    }
    Status operator()(Microstructure& out) const {
        Result<Microstructure, SynthError> micro = read_record<Microstructure>(v, dialect);
        if (!micro) return Err{std::move(micro).error()};
        out = std::move(micro).value();
        return Unit{};
    }
};

// Object form: every member must name a field; after all members, absent fields
// take their defaults in declaration order or are reported missing.
template <class T>
Result<T, SynthError> read_object(const json::JsonObject& obj, Dialect dialect) {
    constexpr Record record = RecordOf<T>::value;
    T out{};
    std::array<bool, kMaxFields> seen{};
    for (const auto& [key, value] : obj) {
        const std::optional<std::size_t> index = field_index(record, key, dialect);
        if (!index) return parse_error(unknown_field(key, record, dialect));
        Status read = read_field(out, *index, ValueReader{value, dialect});
        if (!read) return Err{std::move(read).error()};
        seen[*index] = true;
    }
    const auto names = field_names(record, dialect);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!seen[i] && !field_has_default(record, i)) {
            return parse_error(missing_field(names[i]));
        }
    }
    return out;
}

// Array form: one element per field in declaration order. Past the end, fields
// with a default take it and the next field without one is an invalid length;
// surplus elements are reported once every field has been taken.
template <class T>
Result<T, SynthError> read_array(const json::JsonArray& arr, Dialect dialect) {
    constexpr Record record = RecordOf<T>::value;
    T out{};
    const std::size_t count = field_count(record, dialect);
    for (std::size_t i = 0; i < count; ++i) {
        if (i < arr.size()) {
            Status read = read_field(out, i, ValueReader{arr[i], dialect});
            if (!read) return Err{std::move(read).error()};
        } else if (!field_has_default(record, i)) {
            return parse_error(invalid_length_struct(i, record));
        }
    }
    if (arr.size() > count) return parse_error(invalid_length_array(arr.size()));
    return out;
}

template <class T>
Result<T, SynthError> read_record(const JsonValue& v, Dialect dialect) {
    if (const json::JsonObject* obj = v.as_object()) return read_object<T>(*obj, dialect);
    if (const json::JsonArray* arr = v.as_array()) return read_array<T>(*arr, dialect);
    return parse_error(invalid_type(describe_value(v), expected_struct(RecordOf<T>::value)));
}

}  // namespace

Result<GenSpec, SynthError> spec_from_value(const json::JsonValue& value, Dialect dialect) {
    return read_record<GenSpec>(value, dialect);
}

}  // namespace synth::spec
