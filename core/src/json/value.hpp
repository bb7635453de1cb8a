#pragma once
// The reader's document tree. Objects keep one member per key, in ascending byte
// order of the keys (std::string compares bytes as unsigned char).
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace synth::json {

struct JsonValue;
using JsonArray = std::vector<JsonValue>;
using JsonObject = std::map<std::string, JsonValue, std::less<>>;

struct JsonValue {
    // Numbers keep the kind the literal was read as: non-negative integers as u64,
    // negative integers as i64, everything else as double.
    std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double, std::string, JsonArray,
                 JsonObject>
        data;

    bool is_null() const { return data.index() == 0; }
    const bool* as_bool() const { return std::get_if<bool>(&data); }
    const std::uint64_t* as_u64() const { return std::get_if<std::uint64_t>(&data); }
    const std::int64_t* as_i64() const { return std::get_if<std::int64_t>(&data); }
    const double* as_f64() const { return std::get_if<double>(&data); }
    const std::string* as_string() const { return std::get_if<std::string>(&data); }
    const JsonArray* as_array() const { return std::get_if<JsonArray>(&data); }
    const JsonObject* as_object() const { return std::get_if<JsonObject>(&data); }
};

}  // namespace synth::json
