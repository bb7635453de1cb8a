#pragma once
// The grouped result of "generate": the run's four lists, written from the
// columns of the whole run.
#include <string>

#include "generate/batch.hpp"

namespace synth::encode {

// {"candles":[...],"book_snapshots":[...],"trades":[...]} with a final
// "funding" member only when there is funding.
std::string encode_grouped(const generate::ColumnBatch& run);

}  // namespace synth::encode
