#pragma once
#include "base/result.hpp"
#include "spec/error.hpp"
#include "spec/model.hpp"

namespace synth::spec {

// Judges the extension members of a spec that passed the classic checks; each
// message starts with the path of the offending record, e.g.
// "regimes[0].garch: alpha + gamma/2 + beta must be below 1". A spec without
// extension members always passes.
Result<Unit, SynthError> validate_extensions(const GenSpec& spec);

}  // namespace synth::spec
