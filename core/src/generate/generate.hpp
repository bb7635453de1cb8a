#pragma once
// The generator's entry point: validates the spec and simulates its bars one
// after another from one seeded random stream.
#include <vector>

#include "base/result.hpp"
#include "generate/records.hpp"
#include "spec/error.hpp"
#include "spec/model.hpp"

namespace synth::generate {

// Exactly `bars` records, bar 0 first; or the spec's validation error
// unchanged, a numeric error when the walk leaves the finite doubles, or a
// memory error when the run cannot fit in memory. A pure function of the spec.
Result<std::vector<BarRecord>, spec::SynthError> generate(const spec::GenSpec& spec);

}  // namespace synth::generate
