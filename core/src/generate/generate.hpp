#pragma once
// The whole run at once: validates the spec and makes all its bars as one
// batch, for the outputs that need the complete run (the JSON documents).
#include "base/result.hpp"
#include "generate/batch.hpp"
#include "spec/error.hpp"
#include "spec/model.hpp"

namespace synth::generate {

// Exactly `bars` bars, bar 0 first; or the spec's validation error unchanged,
// a numeric error when the walk leaves the finite doubles, or a memory error
// when the run cannot fit in memory. A pure function of the spec.
Result<ColumnBatch, spec::SynthError> generate(const spec::GenSpec& spec);

}  // namespace synth::generate
