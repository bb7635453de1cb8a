#pragma once
#include <string_view>

#include "base/result.hpp"
#include "json/error.hpp"
#include "json/value.hpp"

namespace synth::json {

// Parses exactly one JSON value; only whitespace may follow it.
Result<JsonValue, JsonError> read(std::string_view text);

}  // namespace synth::json
