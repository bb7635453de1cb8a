#pragma once
// The two ways a spec is decoded: from a whole JSON text (document order,
// duplicate keys rejected, every error positioned) and from an already parsed
// value (members in ascending byte order of keys, no positions).
#include <string_view>

#include "base/result.hpp"
#include "json/value.hpp"
#include "spec/error.hpp"
#include "spec/model.hpp"

namespace synth::spec {

Result<GenSpec, SynthError> parse_spec(std::string_view text);
Result<GenSpec, SynthError> spec_from_value(const json::JsonValue& value);

}  // namespace synth::spec
