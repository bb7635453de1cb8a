#pragma once
#include "base/result.hpp"
#include "spec/error.hpp"
#include "spec/model.hpp"

namespace synth::spec {

// Judges a decoded spec by a fixed list of checks in a fixed order; the first
// failure is reported as a BadSpec error with its fixed message. Extension
// members are judged last (validate_extensions.hpp).
Result<Unit, SynthError> validate(const GenSpec& spec);

}  // namespace synth::spec
