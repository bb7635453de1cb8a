#pragma once
// What the columnar binding needs of the core: a spec read from either of its
// two forms, the resumable run, its column batches and their CSV rows.
#include <string_view>

#include "base/result.hpp"
#include "encode/csv.hpp"
#include "encode/long_book.hpp"
#include "generate/batch.hpp"
#include "generate/memory_budget.hpp"
#include "generate/run.hpp"
#include "spec/error.hpp"
#include "spec/model.hpp"

namespace synth::protocol {

// A spec text read as a handle's constructor reads it (Unicode white space
// trimmed, errors positioned in the trimmed text), but an empty text or "{}"
// is the reader's error for it rather than "no spec". Validated.
Result<spec::GenSpec, spec::SynthError> spec_from_text(std::string_view text);

// One JSON document holding the spec value, read as a command reads its
// "spec" member: no positions, members in ascending byte order of the keys.
// Validated.
Result<spec::GenSpec, spec::SynthError> spec_from_document(std::string_view document);

// The same two forms in the extended dialect: classic fields and extension
// members (the language of the data entry points).
Result<spec::GenSpec, spec::SynthError> extended_spec_from_text(std::string_view text);
Result<spec::GenSpec, spec::SynthError> extended_spec_from_document(std::string_view document);

}  // namespace synth::protocol
